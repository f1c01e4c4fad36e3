// The zarbel program (the run driver comes with the merge tool's units).
int main() { return 0; }
