// The append benchmarks' table: a typical merged structure (texts, numbers, a date and a
// logical; record length 121) and the field texts of 64 different rows, as a source table's
// fields read as text would give them.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace zarbel::bench {

struct FieldSpec {
    const char* name;
    char type;
    int len;
    int dec;
};

inline const FieldSpec kFields[] = {
    {"FAMILY", 'C', 25, 0}, {"NAME", 'C', 20, 0}, {"ADDRESS", 'C', 40, 0}, {"SUMMA", 'N', 12, 2},
    {"QTY", 'N', 6, 0},     {"BORN", 'D', 8, 0},  {"ACTIVE", 'L', 1, 0},   {"CODE", 'C', 8, 0},
};
constexpr int kFieldCount = sizeof(kFields) / sizeof(kFields[0]);

inline std::vector<std::vector<std::string>> MakeRows() {
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < 64; ++i) {
        char sum[32], qty[16], born[16], code[16];
        std::snprintf(sum, sizeof sum, "%d,%02d", 1000 + i * 37, i % 100);
        std::snprintf(qty, sizeof qty, "%d", i * 3);
        std::snprintf(born, sizeof born, "%02d.%02d.%d", 1 + i % 28, 1 + i % 12, 1950 + i);
        std::snprintf(code, sizeof code, "K%05d", i);
        rows.push_back({"\xC8\xE2\xE0\xED\xEE\xE2" + std::to_string(i), "\xCF\xE5\xF2\xF0",
                        "\xF3\xEB. \xCB\xE5\xED\xE8\xED\xE0, " + std::to_string(i), sum, qty, born,
                        (i % 2) ? "True" : "False", code});
    }
    return rows;
}

// $ZARBEL_BENCH_DIR, else the system temporary directory.
inline std::string BenchDir() {
    const char* d = std::getenv("ZARBEL_BENCH_DIR");
    return d && *d ? d : std::filesystem::temp_directory_path().string();
}

}  // namespace zarbel::bench
