#include "platform/filesys.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "testutil/temp_dir.h"

namespace zarbel {
namespace {

using testutil::TempDir;
using testutil::WriteFile;

std::vector<std::string> Names(const std::vector<DirEntry>& entries) {
    std::vector<std::string> names;
    for (const DirEntry& e : entries) names.push_back(e.name + (e.isDirectory ? "/" : ""));
    return names;
}

TEST(FileSys, ExistenceDeleteRename) {
    TempDir t;
    WriteFile(t / "a.dbf", "x");
    EXPECT_TRUE(DirectoryExists(t.path()));
    EXPECT_FALSE(DirectoryExists(t / "a.dbf"));
    EXPECT_FALSE(DirectoryExists(t / "missing"));
    EXPECT_TRUE(FileExists(t / "a.dbf"));
    EXPECT_FALSE(FileExists(t.path()));
    EXPECT_TRUE(RenameFile(t / "a.dbf", t / "b.dbf"));
    EXPECT_FALSE(FileExists(t / "a.dbf"));
    EXPECT_TRUE(FileExists(t / "b.dbf"));
    EXPECT_FALSE(RenameFile(t / "a.dbf", t / "c.dbf"));
    EXPECT_TRUE(DeleteFile(t / "b.dbf"));
    EXPECT_FALSE(DeleteFile(t / "b.dbf"));
    EXPECT_FALSE(DeleteFile(t.path()));  // a directory is no file
    EXPECT_FALSE(TEnv::Default().LastErrorText().empty());
}

TEST(FileSys, WellKnownDirectories) {
    std::string exe = ProgramPath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.substr(exe.rfind('/') + 1), "test_platform");
    std::string dir = ProgramDir();
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(dir + "test_platform", exe);
    EXPECT_EQ(TempDirectory().back(), '/');
    EXPECT_TRUE(DirectoryExists(TempDirectory()));
    std::string cwd = CurrentDirectory();
    EXPECT_EQ(cwd.back(), '/');
    EXPECT_EQ(std::filesystem::path(cwd).parent_path(), std::filesystem::current_path());
}

TEST(FileSys, NtfsNameOrder) {
    EXPECT_EQ(CompareNtfsNames("abc", "ABC"), 1);  // equal ignoring case; bytes decide ('A' < 'a')
    EXPECT_LT(CompareNtfsNames("a.dbf", "B.DBF"), 0);
    EXPECT_GT(CompareNtfsNames("_x", "a"), 0);      // upper-cased: 'A' (0x41) < '_' (0x5F) < 'a'
    EXPECT_GT(CompareNtfsNames("\xE0", "Z"), 0);    // not UTF-8: bytes as units, only ASCII upper-cased
    EXPECT_GT(CompareNtfsNames("\xE0", "\xC3\xA0"), 0);  // byte 0xE0 stays; "à" upper-cases to U+00C0
    EXPECT_LT(CompareNtfsNames(".h", "0"), 0);
    EXPECT_LT(CompareNtfsNames("z", "ё"), 0);        // Latin before Cyrillic
    EXPECT_LT(CompareNtfsNames("Ё", "а"), 0);        // U+0401 < U+0410: NTFS is no dictionary order
    EXPECT_LT(CompareNtfsNames("яблоко", "ЯЩИК"), 0);
    EXPECT_LT(CompareNtfsNames("a", "ab"), 0);
    EXPECT_EQ(CompareNtfsNames("same", "same"), 0);
}

TEST(FileSys, FindFilesListsEverythingInNtfsOrder) {
    TempDir t;
    for (const char* n : {"b.dbf", "A.DBF", ".hidden.dbf", "_under", "Ёж", "яма", "Zeta", "aa", "\xE0\xE1.bin"})
        WriteFile(t / n, "x");
    std::filesystem::create_directory(t / "sub");
    std::filesystem::create_directory_symlink(t / "sub", t / "link");
    std::filesystem::create_symlink(t / "nowhere", t / "broken.dbf");
    std::vector<DirEntry> entries;
    ASSERT_TRUE(FindFiles(t.path(), entries));
    std::vector<std::string> expected = {"./", "../", ".hidden.dbf", "A.DBF", "aa", "b.dbf", "broken.dbf", "link/",
                                         "sub/", "Zeta", "_under", "\xE0\xE1.bin", "Ёж", "яма"};
    EXPECT_EQ(Names(entries), expected);
    for (const DirEntry& e : entries) {
        if (e.name == "link") {
            EXPECT_TRUE(e.isSymlink);
        } else if (e.name == "broken.dbf") {
            EXPECT_TRUE(e.isSymlink && !e.isDirectory);
        } else if (e.name == "sub") {
            EXPECT_FALSE(e.isSymlink);
        }
    }
    // With and without the final slash alike.
    std::vector<DirEntry> again;
    ASSERT_TRUE(FindFiles(t.path() + "/", again));
    EXPECT_EQ(Names(again), expected);
    EXPECT_FALSE(FindFiles(t / "missing", again));
    EXPECT_TRUE(again.empty());
}

TEST(FileSys, IdentityOfDirectories) {
    TempDir t;
    std::filesystem::create_directory(t / "sub");
    std::filesystem::create_directory_symlink(t / "sub", t / "link");
    FileIdentity a, b, c;
    ASSERT_TRUE(GetFileIdentity(t / "sub", a));
    ASSERT_TRUE(GetFileIdentity(t / "link/", b));
    ASSERT_TRUE(GetFileIdentity(t.path(), c));
    EXPECT_EQ(a, b);
    EXPECT_FALSE(a == c);
    EXPECT_FALSE(GetFileIdentity(t / "missing", c));
}

}  // namespace
}  // namespace zarbel
