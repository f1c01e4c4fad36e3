// The built zarbel program as a subprocess: exit codes, console bytes by locale, log next to it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/codepage.h"
#include "tool/source_tree.h"

extern char** environ;

namespace zarbel {
namespace {

using testutil::TempDir;
namespace fs = std::filesystem;

struct Result {
    int code = -1;
    std::string out, err;
};

// Runs a copy of the program that lives in `appDir`, in `cwd`, with the locale variables
// replaced by `locale` (e.g. {"LC_ALL=C"}).
Result RunProgram(const std::string& appDir, const std::string& cwd, const std::vector<std::string>& args,
                  const std::vector<std::string>& locale) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string v = *e;
        if (v.rfind("LC_", 0) == 0 || v.rfind("LANG=", 0) == 0 || v.rfind("LANGUAGE=", 0) == 0) continue;
        env.push_back(v);
    }
    for (const std::string& l : locale) env.push_back(l);
    std::vector<char*> envp;
    for (std::string& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    const std::string program = appDir + "/zarbel";
    std::vector<std::string> argvStore = {program};
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);

    TempDir io;
    const std::string outPath = io / "out", errPath = io / "err";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
    pid_t pid;
    Result r;
    int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = testutil::ReadFile(outPath);
    r.err = testutil::ReadFile(errPath);
    return r;
}

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string built = std::string(ZARBEL_BINARY_DIR) + "/zarbel";
        if (!fs::exists(built)) GTEST_SKIP() << "zarbel is not built in " << ZARBEL_BINARY_DIR;
        fs::create_directories(t_ / "app");
        fs::create_directories(t_ / "cwd");
        fs::copy_file(built, t_ / "app/zarbel");
    }
    Result Run(const std::vector<std::string>& args, const std::vector<std::string>& locale = {"LC_ALL=C.UTF-8"}) {
        return RunProgram(t_ / "app", t_ / "cwd", args, locale);
    }
    std::vector<std::string> Logs(const std::string& dir) {
        std::vector<std::string> logs;
        for (const auto& e : fs::directory_iterator(dir)) {
            std::string n = e.path().filename().string();
            if (n.rfind("load_", 0) == 0) logs.push_back(e.path().string());
        }
        return logs;
    }
    TempDir t_;
};

const char* const kUsage[] = {
    "Объединение DBF файлов.",
    "",
    "ZARBEL.EXE [диск:]путь до DBF файлов [диск:]путь до нового DBF файла [-oem,win]",
    " -oem использовать Dos кодировку",
    " -win использовать Win кодировку",
    "",
    "Пример:",
    "   ZARBEL.EXE C:\\dbffiles\\ C:\\all.dbf -win",
};

TEST_F(Program, UsageOnAUtf8ConsoleReadsCorrectly) {
    std::string expected;
    for (const char* l : kUsage) expected += std::string(l) + "\n";
    for (const auto& locale : std::vector<std::vector<std::string>>{
             {"LC_ALL=C.UTF-8"}, {"LANG=ru_RU.UTF-8"}, {"LC_CTYPE=en_US.utf8", "LANG=C"}}) {
        Result r = Run({}, locale);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(Logs(t_ / "app").empty());
}

TEST_F(Program, UsageUnderCLocaleIsCp866) {
    std::string expected;
    for (const char* l : kUsage) expected += AnsiToOem(Utf8ToAnsi(l)) + "\n";
    for (const auto& locale : std::vector<std::vector<std::string>>{{"LC_ALL=C"}, {}, {"LC_ALL=C", "LANG=C.UTF-8"}}) {
        Result r = Run({}, locale);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, expected);
    }
    // "Пример:" in CP866 bytes, and the example line as it is.
    Result r = Run({}, {"LC_ALL=C"});
    EXPECT_NE(r.out.find("\x8F\xE0\xA8\xAC\xA5\xE0:\n   ZARBEL.EXE C:\\dbffiles\\ C:\\all.dbf -win\n"), std::string::npos);
}

TEST_F(Program, ParameterErrorsExitTwoNoLog) {
    testutil::WriteFile(t_ / "src/a.dbf", testutil::SmallTable("a"));
    Result r = Run({t_ / "nowhere", t_ / "out.dbf"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "Проверьте параметры. Директория  [" + (t_ / "nowhere") + "] не существует\n");
    r = Run({t_ / "src"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "Проверьте параметры. Не указан результирующий DBF файл\n");
    r = Run({t_ / "src", "   "}, {"LC_ALL=C"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, AnsiToOem(Utf8ToAnsi("Проверьте параметры. Не указан результирующий DBF файл\n")));
    EXPECT_TRUE(Logs(t_ / "app").empty());
    EXPECT_TRUE(Logs(t_ / "cwd").empty());
}

TEST_F(Program, ScanRunWritesTheLogNextToTheProgram) {
    std::vector<std::string> rel = testutil::MakeSourceTree(t_ / "src");
    Result r = Run({t_ / "src", t_ / "out.dbf", "-oem"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);  // redirected: no status bytes
    const std::string head = "Начинаем процесс объединения...\n"
                             " Директория в DBF файлами: " + (t_ / "src") + "\n"
                             " Результирующий DBF файл: " + (t_ / "out.dbf") + "\n"
                             "\n"
                             "Сканирование директории...\n"
                             "Найдено " + std::to_string(rel.size()) + " DBF файлов\n";
    EXPECT_EQ(r.out.substr(0, head.size()), head);
    EXPECT_NE(r.out.find("Процесс объединения DBF файлов завершен!\n"), std::string::npos);
    std::vector<std::string> logs = Logs(t_ / "app");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_TRUE(Logs(t_ / "cwd").empty());
    // load_ + ddmmyyyy_hmmss (hour not zero-padded; no time part at exactly midnight) + .log
    const std::string name = fs::path(logs[0]).filename().string();
    EXPECT_TRUE(name.size() == 18 || name.size() == 23 || name.size() == 24) << name;
    EXPECT_EQ(name.find_first_not_of("0123456789_", 5), name.size() - 4) << name;
    std::string bytes = testutil::ReadFile(logs[0]);
    std::string expectedTail = Utf8ToAnsi("Сканирование директории: " + (t_ / "src")) + "\r\n";
    for (const std::string& p : rel) expectedTail += Utf8ToAnsi(t_ / "src/" + p) + "\r\n";
    EXPECT_NE(bytes.find(expectedTail + Utf8ToAnsi("Открытие файла: ")), std::string::npos);
    EXPECT_NE(bytes.find(Utf8ToAnsi("Дата и время окончания загрузки: ")), std::string::npos);
    EXPECT_EQ(bytes.rfind(Utf8ToAnsi("Дата и время начала загрузки: "), 0), 0u);
}

TEST_F(Program, NoFilesToLoad) {
    testutil::WriteFile(t_ / "src/readme.txt", "x");
    Result r = Run({t_ / "src", t_ / "out.dbf"}, {"LC_ALL=C"});
    EXPECT_EQ(r.code, 0);
    const std::string none = AnsiToOem(Utf8ToAnsi("Нет файлов для загрузки!\n"));
    ASSERT_GE(r.out.size(), none.size());
    EXPECT_EQ(r.out.substr(r.out.size() - none.size()), none);
    std::vector<std::string> logs = Logs(t_ / "app");
    ASSERT_EQ(logs.size(), 1u);
    std::string bytes = testutil::ReadFile(logs[0]);
    std::size_t lines = 0;
    for (std::size_t p = bytes.find("\r\n"); p != std::string::npos; p = bytes.find("\r\n", p + 2)) ++lines;
    EXPECT_EQ(lines, 4u);
    EXPECT_NE(bytes.find("\r\n" + Utf8ToAnsi("Нет файлов для загрузки!") + "\r\n"), std::string::npos);
}

}  // namespace
}  // namespace zarbel
