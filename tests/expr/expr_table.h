// Test fixture: a small Clipper table in a temporary directory, opened read-only, and a
// parser over it.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "engine/HXDBFDataSet.h"
#include "engine/dbf_builder.h"
#include "expr/HXDBFExprParser.h"
#include "testutil/temp_dir.h"

namespace zarbel::test {

// NAME C(20), CITY C(15), AGE N(3), SUM N(5,2), DATE D, MARRIED L, BIG N(19)
inline const std::vector<FieldSpec>& PeopleFields() {
    static const std::vector<FieldSpec> f = {{"NAME", 'C', 20}, {"CITY", 'C', 15}, {"AGE", 'N', 3},
                                             {"SUM", 'N', 5, 2}, {"DATE", 'D', 8}, {"MARRIED", 'L', 1},
                                             {"BIG", 'N', 19}};
    return f;
}

class TExprTable {
public:
    explicit TExprTable(const std::vector<std::vector<std::string>>& rows,
                        const std::vector<FieldSpec>& fields = PeopleFields(), bool trimC = false) {
        std::vector<std::string> recs;
        for (const auto& r : rows) recs.push_back(Record(fields, r));
        path_ = dir_.File("t.dbf");
        WriteFile(path_, BuildDbf(0x03, fields, recs));
        T.SetDBFFileName(path_);
        T.SetTrimCType(trimC);
        T.AccessMode().SetAccessMode(0);
        T.Open();
    }
    ~TExprTable() { T.Close(); }

    // Moves to record n (1-based).
    void Go(int n) { T.SetRecNo(n); }

    THXSmartDBF T;

private:
    testutil::TempDir dir_;
    std::string path_;
};

// The rows most tests use.
inline std::vector<std::vector<std::string>> People() {
    return {
        {"SMITH", "Moscow", "25", "3.50", "20240131", "T", "-999999999999999999"},
        {"SMITHSON", "Paris", "31", "-3.50", "19991231", "F", "42"},
        {"", "", "", "", "", "", ""},
        {"Jones", "Berlin", "20", "123.4", "20000229", "T", "1234567890123"},
    };
}

}  // namespace zarbel::test
