// A table whose field names repeat (other programs write such files): every field reads its own
// column.
#include <gtest/gtest.h>

#include "clipper_table.h"
#include "engine/HXDBFDataSet.h"
#include "engine/dbf_builder.h"
#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

TEST(DuplicateFieldNames, EachFieldReadsItsOwnColumn) {
    testutil::TempDir t;
    const std::vector<test::FieldSpec> f = {{"Code", 'C', 4}, {"CODE", 'C', 6}, {"code", 'N', 3}};
    testutil::WriteFile(t / "d.dbf", test::BuildDbf(0x03, f, {test::Record(f, {"ab", "cdef", "7"})}));
    test::TClipperDBF table;
    table.SetDBFFileName(t / "d.dbf");
    table.AccessMode().SetAccessMode(0);
    table.Open();
    ASSERT_EQ(table.FieldCount(), 3);
    EXPECT_EQ(table.Fields()[0].AsString(), "ab  ");
    EXPECT_EQ(table.Fields()[1].AsString(), "cdef  ");
    EXPECT_EQ(table.Fields()[2].AsInteger(), 7);
    EXPECT_EQ(table.FieldByName("code").AsString(), "ab  ");  // by name: the first
}

}  // namespace
}  // namespace zarbel
