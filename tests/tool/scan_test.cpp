#include "tool/scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "platform/codepage.h"
#include "tool/load_log.h"
#include "tool/source_tree.h"

namespace zarbel {
namespace {

using testutil::TempDir;

TEST(ScanDirectory, NtfsOrderDepthFirstSubstringMatch) {
    TempDir t;
    const std::string root = t / "src";
    std::vector<std::string> rel = testutil::MakeSourceTree(root);
    for (const std::string& dir : {root, root + "/"}) {  // with and without the final separator
        std::vector<std::string> files;
        LoadLog log;
        ScanDirectory(dir, files, log);
        std::vector<std::string> expected;
        for (const std::string& r : rel) expected.push_back(root + "/" + r);
        EXPECT_EQ(files, expected);
        ASSERT_EQ(log.Lines().size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(log.Lines()[i], Utf8ToAnsi(expected[i]));
    }
}

TEST(ScanDirectory, AppendsToWhatIsThere) {
    TempDir t;
    testutil::WriteFile(t / "a/A.DBF", "x");
    std::vector<std::string> files = {"first"};
    LoadLog log;
    log.Add("start");
    ScanDirectory(t / "a", files, log);
    EXPECT_EQ(files, (std::vector<std::string>{"first", t / "a/A.DBF"}));
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"start", t / "a/A.DBF"}));
}

TEST(ScanDirectory, LinkedDirectoryWalkedOnceAndLoopsEnd) {
    TempDir t;
    testutil::WriteFile(t / "other/o.dbf", "x");
    testutil::WriteFile(t / "src/m.dbf", "x");
    std::filesystem::create_directory_symlink(t / "other", t / "src/l1");
    std::filesystem::create_directory_symlink(t / "other", t / "src/l2");
    std::filesystem::create_directory_symlink(t / "src", t / "other/up");
    std::vector<std::string> files;
    LoadLog log;
    ScanDirectory(t / "src", files, log);
    EXPECT_EQ(files, (std::vector<std::string>{t / "src/l1/o.dbf", t / "src/m.dbf"}));
}

TEST(ScanDirectory, NamesInLogAreCp1251FileOperationsUseBytes) {
    TempDir t;
    testutil::WriteFile(t / "src/ёж«x».dbf", "x");          // « and » are CP1251 0xAB and 0xBB
    testutil::WriteFile(t / "src/中.dbf", "x");              // not in CP1251
    testutil::WriteFile(t / "src/\xC0\xE1.dbf", "x");        // not UTF-8: bytes kept
    std::vector<std::string> files;
    LoadLog log;
    ScanDirectory(t / "src", files, log);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], t / "src/\xC0\xE1.dbf");
    EXPECT_EQ(files[1], t / "src/ёж«x».dbf");
    EXPECT_EQ(files[2], t / "src/中.dbf");
    EXPECT_EQ(log.Lines()[0], t / "src/\xC0\xE1.dbf");
    EXPECT_EQ(log.Lines()[1], t / "src/\xB8\xE6\xABx\xBB.dbf");
    EXPECT_EQ(log.Lines()[2], t / "src/?.dbf");
    for (const std::string& f : files) EXPECT_TRUE(std::filesystem::exists(f)) << f;
}

TEST(ScanDirectory, UnreadableOrMissingDirectoriesContributeOnlyALogLine) {
    TempDir t;
    std::vector<std::string> files;
    LoadLog log;
    EXPECT_EQ(ScanDirectory(t / "missing", files, log), 1);
    EXPECT_TRUE(files.empty());
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(AnsiToUtf8(log.Lines()[0]), "Ошибка чтения директории: " + (t / "missing/") + " / No such file or directory");
}

TEST(ScanDirectory, EmptyTextSearchesTheCurrentDirectory) {
    TempDir t;
    testutil::WriteFile(t / "here.dbf", "x");
    testutil::WriteFile(t / "s/there.dbf", "x");
    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(t.path().c_str()), 0);
    std::vector<std::string> files;
    LoadLog log;
    ScanDirectory("", files, log);
    ASSERT_EQ(chdir(old), 0);
    EXPECT_EQ(files, (std::vector<std::string>{"here.dbf", "s/there.dbf"}));
}

}  // namespace
}  // namespace zarbel
