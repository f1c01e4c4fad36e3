// Termination requests of the host (SIGINT, SIGTERM, SIGHUP) turned into a flag that a long
// loop polls, so the loop can end at a record boundary and leave its files consistent.
#pragma once
#include <csignal>

namespace zarbel {

// While an object lives, SIGINT, SIGTERM and SIGHUP only set the pending signal, and SIGXFSZ
// is ignored (a write past the file size limit then fails with EFBIG instead of ending the
// process). The destructor restores the previous handlers. One object at a time.
class TInterruptCatcher {
public:
    TInterruptCatcher();
    ~TInterruptCatcher();
    TInterruptCatcher(const TInterruptCatcher&) = delete;
    TInterruptCatcher& operator=(const TInterruptCatcher&) = delete;

    // The signal number of the first request received, 0 when none came.
    static int Pending();
    // The signal's name ("SIGINT"), for messages.
    static const char* SignalName(int signal);

private:
    struct sigaction previous_[4];
};

}  // namespace zarbel
