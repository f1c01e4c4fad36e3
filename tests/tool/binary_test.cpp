// The built zarbel program as a subprocess: exit codes, console bytes by locale, log next to it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <thread>

#include "index/HXDBFNTX.h"
#include "engine/dbf_builder.h"
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

TEST_F(Program, UsageIsCp866UnderACp866LocaleOnlyUtf8OtherwiseAndWithoutOne) {
    std::string oem, utf8;
    for (const char* l : kUsage) {
        oem += AnsiToOem(Utf8ToAnsi(l)) + "\n";
        utf8 += std::string(l) + "\n";
    }
    for (const auto& locale : std::vector<std::vector<std::string>>{
             {"LC_ALL=ru_RU.CP866"}, {"LANG=ru_RU.IBM866"}, {"LC_CTYPE=ru_RU.cp866", "LANG=C.UTF-8"}}) {
        Result r = Run({}, locale);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, oem);
    }
    // LANG unset (no locale variable at all), C, POSIX: UTF-8.
    for (const auto& locale : std::vector<std::vector<std::string>>{{}, {"LC_ALL=C"}, {"LANG=POSIX"}}) {
        Result r = Run({}, locale);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, utf8);
    }
    // "Пример:" in CP866 bytes, and the example line as it is.
    Result r = Run({}, {"LC_ALL=ru_RU.CP866"});
    EXPECT_NE(r.out.find("\x8F\xE0\xA8\xAC\xA5\xE0:\n   ZARBEL.EXE C:\\dbffiles\\ C:\\all.dbf -win\n"), std::string::npos);
}

// --help and -h: the usage and a line on the exit statuses; --version: the name and version.
// Exit 0, nothing on standard error, no log; a directory of such a name is reached as ./--help.
TEST_F(Program, HelpAndVersion) {
    std::string usage;
    for (const char* l : kUsage) usage += std::string(l) + "\n";
    const std::string statuses = "\nКоды завершения: 0 готово, 1 ошибки записаны в лог, 2 ошибка параметров, "
                                 "3 аварийное завершение, 128+N прервано сигналом N.\n";
    for (const char* help : {"--help", "-h"}) {
        Result r = Run({help, "ignored"});
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, usage + statuses);
        EXPECT_EQ(r.err, "");
    }
    Result r = Run({"--help"}, {"LANG=ru_RU.CP866"});
    EXPECT_EQ(r.out, AnsiToOem(Utf8ToAnsi(usage + statuses)));
    r = Run({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "zarbel " ZARBEL_VERSION "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(std::string(ZARBEL_VERSION).find_first_not_of("0123456789."), std::string::npos);
    EXPECT_TRUE(Logs(t_ / "app").empty());
    EXPECT_TRUE(Logs(t_ / "cwd").empty());
    fs::create_directories(t_ / "cwd/--help");
    r = Run({"./--help", "out.dbf"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Нет файлов для загрузки!"), std::string::npos) << r.out;
}

// A third parameter that is neither -win nor -oem still means OEM, and standard error says so
// in one line; the switches themselves, in any case and with blanks, give no warning.
TEST_F(Program, AMistypedSwitchMeansOemWithAWarning) {
    testutil::WriteFile(t_ / "src/a.dbf", test::BuildDbf(0x03, {{"T", 'C', 3}}, {" \x8F\xE0\xA8"}));  // "При" in CP866
    for (const char* sw : {"-wim", "/win"}) {
        Result r = Run({t_ / "src", t_ / "out.dbf", sw});
        EXPECT_EQ(r.code, 0) << r.out;
        EXPECT_EQ(r.err, std::string("Неизвестный ключ [") + sw + "], используется Dos кодировка (-oem)\n");
        THXDBFNTX out;
        out.SetDBFFileName(t_ / "out.dbf");
        out.Open();
        EXPECT_EQ(out.Header().CodePage(), 0x65);  // OEM mode: the CP866 code page byte
    }
    for (const char* sw : {"-oem", " -WIN ", "-Oem"}) {
        Result r = Run({t_ / "src", t_ / "out.dbf", sw});
        EXPECT_EQ(r.code, 0) << r.out;
        EXPECT_EQ(r.err, "") << sw;
    }
}

// --- Hostile and real-world inputs through the whole program --------------------------------

using test::BuildDbf;
using test::FieldSpec;
using test::Pad;

// The merged table's records as python3-dbfread sees them with raw=True: one line per record,
// the raw field bytes joined by "|" (Latin-1, so every byte shows as one character).
std::string DbfreadRaw(const std::string& path) {
    const std::string cmd = "/usr/bin/python3 -c 'import sys, dbfread\n"
                            "for r in dbfread.DBF(sys.argv[1], raw=True):\n"
                            "    print(\"|\".join(v.decode(\"latin-1\") for v in r.values()))' '" + path + "' 2>&1";
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

bool HasDbfread() { return std::system("/usr/bin/python3 -c 'import dbfread' >/dev/null 2>&1") == 0; }

const std::vector<FieldSpec> kTwoFields{{"NAME", 'C', 9}, {"CODE", 'C', 5}};
const std::vector<std::string> kTwoRecords{" first    one  ", " second   two  "};

// Broken headers and a FIFO beside a good table: each is logged as a source that failed to
// open, the run goes on and ends (it used to hang on the FIFO, and to invent records).
TEST_F(Program, BrokenHeadersAndAFifoAreLoggedBesideAGoodTable) {
    testutil::WriteFile(t_ / "src/good.dbf", BuildDbf(0x03, kTwoFields, kTwoRecords));
    std::string cut = BuildDbf(0x03, kTwoFields, kTwoRecords);
    cut[8] = 80;  // the header ends inside the second descriptor
    testutil::WriteFile(t_ / "src/cut.dbf", cut);
    testutil::WriteFile(t_ / "src/short.dbf", BuildDbf(0x03, kTwoFields, kTwoRecords, true, 0, 2));
    testutil::WriteFile(t_ / "src/nofields.dbf", BuildDbf(0x03, {}, {}));  // opens: no records
    const std::string fifo = t_ / "src/pipe.dbf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Result r = Run({t_ / "src", t_ / "out.dbf"});
    EXPECT_EQ(r.code, 1);
    std::vector<std::string> logs = Logs(t_ / "app");
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = testutil::ReadFile(logs[0]);
    const std::string failed = Utf8ToAnsi("Ошибка открытия файла: ");
    EXPECT_NE(log.find(failed + fifo + " / THXSmartDBF.InternalOpen: Open error \"" + fifo + "\" (not a regular file)"),
              std::string::npos) << log;
    EXPECT_NE(log.find(failed + (t_ / "src/cut.dbf") + " / THXSmartDBF.InternalOpen: File \"" + (t_ / "src/cut.dbf") +
                       "\" has field descriptors cut by its header length (80)"),
              std::string::npos) << log;
    EXPECT_NE(log.find(failed + (t_ / "src/short.dbf") + " / THXSmartDBF.InternalOpen: File \"" +
                       (t_ / "src/short.dbf") + "\" has fields (15 bytes) longer than its record length (2)"),
              std::string::npos) << log;
    THXDBFNTX out;
    out.SetDBFFileName(t_ / "out.dbf");
    out.Open();
    EXPECT_EQ(out.RecordCount(), 2);
    EXPECT_EQ(out.FieldByName("NAME").AsString(), "first    ");
}

// Long numbers and the logical letters of real files reach the merged table as they were
// written, as an independent reader sees the bytes.
TEST_F(Program, LongNumbersAndLogicalLettersSurviveAMerge) {
    if (!HasDbfread()) GTEST_SKIP() << "python3-dbfread is not installed (scripts/test.sh installs it)";
    const std::vector<FieldSpec> f{{"A", 'N', 20, 4}, {"I", 'N', 21}, {"L", 'L', 1}, {"M", 'L', 1}};
    auto rec = [](const std::string& a, const std::string& i, const std::string& l) {
        return " " + Pad(a, 20, true) + Pad(i, 21, true) + l;
    };
    testutil::WriteFile(t_ / "src/n.dbf", BuildDbf(0x03, f, {rec("1234567890123.4567", "12345678901234567890", "Yn"),
                                                            rec("99999999999999.9999", "-99999999999999999999", "yf"),
                                                            rec("12.5", "42", "tN"),
                                                            rec("", "", "? ")}));
    Result r = Run({t_ / "src", t_ / "out.dbf"});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(DbfreadRaw(t_ / "out.dbf"), "  1234567890123.4567| 12345678901234567890|T|F\n"
                                         " 99999999999999.9999|-99999999999999999999|T|F\n"
                                         "             12.5000|                   42|T|F\n"
                                         "                    |                     | | \n");
}

// Every CP866 byte that a text value can hold (all but the zero byte, which ends a text) goes
// through an OEM merge and comes out as it went in.
TEST_F(Program, EveryCp866ByteSurvivesAnOemMerge) {
    std::string bytes;
    for (int b = 1; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    testutil::WriteFile(t_ / "src/oem.dbf", BuildDbf(0x03, {{"T", 'C', 255}}, {" " + bytes}));
    Result r = Run({t_ / "src", t_ / "out.dbf", "-oem"});
    EXPECT_EQ(r.code, 0) << r.out;
    const std::string out = testutil::ReadFile(t_ / "out.dbf");
    ASSERT_GT(out.size(), 32u);
    const std::size_t hl = static_cast<unsigned char>(out[8]) | (static_cast<unsigned char>(out[9]) << 8);
    ASSERT_GE(out.size(), hl + 256);
    EXPECT_EQ(out.substr(hl, 256), " " + bytes);
}

// Field names holding box drawing (OEM bytes whose ANSI partners are letters of each other's
// case) stay two fields in an OEM merge, each with its own values.
TEST_F(Program, BoxDrawingFieldNamesAreNoLettersInAnOemMerge) {
    testutil::WriteFile(t_ / "src/a.dbf", BuildDbf(0x03, {{"\xB0" "A", 'C', 3}}, {" one"}));
    testutil::WriteFile(t_ / "src/b.dbf", BuildDbf(0x03, {{"\xC0" "A", 'C', 3}}, {" two"}));
    Result r = Run({t_ / "src", t_ / "out.dbf", "-oem"});
    EXPECT_EQ(r.code, 0) << r.out;
    const std::string out = testutil::ReadFile(t_ / "out.dbf");
    ASSERT_GT(out.size(), 100u);
    EXPECT_EQ(out.substr(32, 2), "\xB0" "A");  // the names as they were, in OEM bytes
    EXPECT_EQ(out.substr(64, 2), "\xC0" "A");
    const std::size_t hl = static_cast<unsigned char>(out[8]) | (static_cast<unsigned char>(out[9]) << 8);
    EXPECT_EQ(out.substr(hl, 14), " one       two");
}

// Two merges read one tree at the same time while another reader holds every table open:
// readers share, and both runs load every record.
TEST_F(Program, TwoMergesReadOneTreeAtTheSameTime) {
    std::vector<std::string> recs;
    for (int i = 0; i < 300; ++i) recs.push_back(" " + Pad(std::to_string(i), 9) + "abcde");
    std::vector<std::unique_ptr<THXDBFNTX>> readers;
    for (const char* name : {"src/a.dbf", "src/b.dbf", "src/sub/c.dbf"}) {
        testutil::WriteFile(t_ / name, BuildDbf(0x03, kTwoFields, recs));
        readers.push_back(std::make_unique<THXDBFNTX>());
        readers.back()->SetDBFFileName(t_ / name);
        readers.back()->AccessMode().SetAccessMode(0);  // as a merge opens its sources
        readers.back()->Open();
    }
    Result r1, r2;
    std::thread first([&] { r1 = Run({t_ / "src", t_ / "out1.dbf"}); });
    std::thread second([&] { r2 = Run({t_ / "src", t_ / "out2.dbf"}); });
    first.join();
    second.join();
    readers.clear();
    for (const auto& [r, out] : {std::pair{&r1, "out1.dbf"}, std::pair{&r2, "out2.dbf"}}) {
        EXPECT_EQ(r->code, 0) << r->out;
        THXDBFNTX t;
        t.SetDBFFileName(t_ / out);
        t.Open();
        EXPECT_EQ(t.RecordCount(), 900) << out;
    }
}

TEST_F(Program, ParameterErrorsExitTwoNoLog) {
    testutil::WriteFile(t_ / "src/a.dbf", testutil::SmallTable("a"));
    Result r = Run({t_ / "nowhere", t_ / "out.dbf"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "Проверьте параметры. Директория  [" + (t_ / "nowhere") + "] не существует\n");
    r = Run({t_ / "src"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "Проверьте параметры. Не указан результирующий DBF файл\n");
    r = Run({t_ / "src", "   "}, {"LC_ALL=ru_RU.CP866"});
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
    Result r = Run({t_ / "src", t_ / "out.dbf"}, {"LC_ALL=ru_RU.CP866"});
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
