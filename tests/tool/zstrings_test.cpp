#include <gtest/gtest.h>

#include "platform/filesys.h"
#include "tool/load_log.h"
#include "tool/scan.h"
#include "tool/zDirFunc.h"
#include "tool/zStrings.h"
#include "tool/zarbel.h"

namespace zarbel {
namespace {

TEST(ZStrings, ToOem) {
    EXPECT_EQ(ToOem(""), "");
    EXPECT_EQ(ToOem(Ansi("Найдено 3 DBF файлов")), "\x8D\xA0\xA9\xA4\xA5\xAD\xAE 3 DBF \xE4\xA0\xA9\xAB\xAE\xA2");
    std::string s = Ansi("«ёж»");
    EXPECT_EQ(ToOem(s).size(), s.size());
    EXPECT_EQ(ToOem(s), "?\xF1\xA6?");
}

TEST(ZStrings, ReplaceFirst) {
    std::string t = "a.b.c";
    EXPECT_TRUE(ReplaceFirst(t, ".", ""));
    EXPECT_EQ(t, "ab.c");
    EXPECT_TRUE(ReplaceFirst(t, "b", "XYZ"));
    EXPECT_EQ(t, "aXYZ.c");
    EXPECT_FALSE(ReplaceFirst(t, "q", "r"));
    EXPECT_EQ(t, "aXYZ.c");
    EXPECT_FALSE(ReplaceFirst(t, "x", "r"));  // case-sensitive
    std::string twice = "abab";
    EXPECT_TRUE(ReplaceFirst(twice, "ab", "_"));
    EXPECT_EQ(twice, "_ab");
}

TEST(ZStrings, AddBackslash) {
    EXPECT_EQ(AddBackslash(""), "/");
    EXPECT_EQ(AddBackslash("  \t "), "/");
    EXPECT_EQ(AddBackslash(" /data/src \r\n"), "/data/src/");
    EXPECT_EQ(AddBackslash("/data/src/"), "/data/src/");
    EXPECT_EQ(AddBackslash("rel"), "rel/");
}

TEST(ZDirFunc, AppDirIsTheProgramsDirectory) {
    EXPECT_EQ(AppDir(), ProgramDir());
    EXPECT_EQ(AppDir() + "test_tool", ProgramPath());
}

TEST(StartTag, FromTheDateTimeText) {
    TDateTime t = EncodeDate(2026, 12, 7) + EncodeTime(4, 5, 54, 0);
    EXPECT_EQ(MakeStartTag(DateTimeToStr(t)), "07122026_40554");
    EXPECT_EQ(MakeStartTag(DateTimeToStr(EncodeDate(2026, 12, 7))), "07122026");  // midnight
    EXPECT_EQ(MakeStartTag("1/2/2026 1:02:03 PM"), "1/2/2026_10203 PM");      // other characters stay
    EXPECT_EQ(LoadLogFileName("07122026_40554"), "load_07122026_40554.log");
}

TEST(LoadLog, CrLfAfterEveryLineAndBytesUnchanged) {
    LoadLog log;
    EXPECT_EQ(log.Bytes(), "");
    log.Add(Ansi("Нет файлов для загрузки!"));
    log.Add("");
    log.Add("\xFF\x01");
    EXPECT_EQ(log.Bytes(), "\xCD\xE5\xF2 \xF4\xE0\xE9\xEB\xEE\xE2 \xE4\xEB\xFF \xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE8!\r\n\r\n\xFF\x01\r\n");
}

}  // namespace
}  // namespace zarbel
