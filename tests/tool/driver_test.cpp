// The run driver in-process: parameters, console lines, load log lines and exit codes.
#include "tool/zarbel.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/codepage.h"
#include "platform/console.h"
#include "testutil/capture.h"
#include "tool/run_helpers.h"
#include "tool/source_tree.h"

namespace zarbel {
namespace {

using testutil::Capture;
using testutil::TempDir;
namespace fs = std::filesystem;

const TDateTime kStart = testutil::FixedStart();

struct DriverRun {
    Capture out, err;
    int code = -1;
    std::string Out() const { return out.Text(); }
    std::string Err() const { return err.Text(); }
};

// Runs the driver on a UTF-8 console whose output is no terminal, with the clock fixed.
void RunDriver(DriverRun& r, const std::vector<std::string>& args, const MergeOptions& options,
               ConsoleEncoding enc = ConsoleEncoding::Utf8) {
    Console console(r.out.fd(), r.err.fd(), enc, false);
    r.code = RunMerge(args, console, options);
}

MergeOptions Options(const TempDir& t) { return testutil::RunOptions(t); }

std::vector<std::string> LogLines(const std::string& path) { return testutil::ReadLogLines(path); }

std::size_t CountFiles(const std::string& dir) {
    std::size_t n = 0;
    for (auto it = fs::directory_iterator(dir); it != fs::directory_iterator(); ++it) ++n;
    return n;
}

TEST(Driver, UsageWithoutParameters) {
    TempDir t;
    for (std::vector<std::string> args : {std::vector<std::string>{}, std::vector<std::string>{""}}) {
        DriverRun r;
        RunDriver(r, args, Options(t));
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.Out(),
                  "Объединение DBF файлов.\n"
                  "\n"
                  "ZARBEL.EXE [диск:]путь до DBF файлов [диск:]путь до нового DBF файла [-oem,win]\n"
                  " -oem использовать Dos кодировку\n"
                  " -win использовать Win кодировку\n"
                  "\n"
                  "Пример:\n"
                  "   ZARBEL.EXE C:\\dbffiles\\ C:\\all.dbf -win\n");
        EXPECT_EQ(r.Err(), "");
    }
    EXPECT_EQ(CountFiles(t / "app") + CountFiles(t / "cwd"), 0u);
}

TEST(Driver, ParameterErrorsExitTwoAndWriteNothing) {
    TempDir t;
    testutil::WriteFile(t / "file.dbf", "x");
    testutil::WriteFile(t / "src/old.dbf", "x");
    struct Case {
        std::vector<std::string> args;
        std::string text;
    } cases[] = {
        {{t / "missing", t / "out.dbf"}, "Проверьте параметры. Директория  [" + (t / "missing") + "] не существует\n"},
        {{t / "file.dbf", t / "out.dbf"}, "Проверьте параметры. Директория  [" + (t / "file.dbf") + "] не существует\n"},
        {{t / "src"}, "Проверьте параметры. Не указан результирующий DBF файл\n"},
        {{t / "src", " \t "}, "Проверьте параметры. Не указан результирующий DBF файл\n"},
        {{t / "нет", "x"}, "Проверьте параметры. Директория  [" + (t / "нет") + "] не существует\n"},
    };
    for (const Case& c : cases) {
        DriverRun r;
        RunDriver(r, c.args, Options(t));
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.Out(), c.text);
    }
    EXPECT_EQ(CountFiles(t / "app") + CountFiles(t / "cwd"), 0u);
    EXPECT_TRUE(fs::exists(t / "src/old.dbf"));
}

TEST(Driver, ScanRunConsoleAndLogInOrder) {
    TempDir t;
    const std::string src = t / "src";
    std::vector<std::string> rel = testutil::MakeSourceTree(src);
    const std::string out = src + "/sub/out.dbf";  // an old output inside the tree
    testutil::WriteFile(out, testutil::SmallTable("old"));
    for (const std::string& param : {src, src + "/"}) {
        testutil::WriteFile(out, testutil::SmallTable("old"));
        DriverRun r;
        RunDriver(r, {param, out, "-win"}, Options(t));
        EXPECT_EQ(r.code, 0);
        const std::string head = "Начинаем процесс объединения...\n"
                                 " Директория в DBF файлами: " + param + "\n"
                                 " Результирующий DBF файл: " + out + "\n"
                                 "\n"
                                 "Сканирование директории...\n"
                                 "Найдено " + std::to_string(rel.size()) + " DBF файлов\n";
        EXPECT_EQ(r.Out().substr(0, head.size()), head);
        EXPECT_EQ(r.Err(), "");
        // The old output was deleted first and never taken for a source: the new one holds one
        // record per source table, none of them the old output's.
        const std::string merged = testutil::ReadFile(out);
        EXPECT_EQ(merged.find("old"), std::string::npos);
        EXPECT_NE(merged.find("inner"), std::string::npos);
        std::vector<std::string> expected = {"Дата и время начала загрузки: 07.12.2026 4:05:54",
                                             "Сканирование директории: " + param};
        for (const std::string& p : rel) expected.push_back(src + "/" + p);  // exactly one separator
        std::vector<std::string> lines = LogLines(t / "app/load_07122026_40554.log");
        ASSERT_GT(lines.size(), expected.size());
        lines.resize(expected.size());  // the scan part; the merge phases follow
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(CountFiles(t / "cwd"), 0u);
    }
}

TEST(Driver, NoFilesToLoad) {
    TempDir t;
    testutil::WriteFile(t / "src/a.txt", "x");
    testutil::WriteFile(t / "src/b.DBT", "x");
    DriverRun r;
    RunDriver(r, {t / "src", t / "out.dbf"}, Options(t));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.Out(),
              "Начинаем процесс объединения...\n"
              " Директория в DBF файлами: " + (t / "src") + "\n"
              " Результирующий DBF файл: " + (t / "out.dbf") + "\n"
              "\n"
              "Сканирование директории...\n"
              "Нет файлов для загрузки!\n");
    EXPECT_EQ(LogLines(t / "app/load_07122026_40554.log"),
              (std::vector<std::string>{"Дата и время начала загрузки: 07.12.2026 4:05:54",
                                        "Сканирование директории: " + (t / "src"), "Нет файлов для загрузки!",
                                        "Дата и время окончания загрузки: 07.12.2026 4:05:54"}));
    // The log's bytes are CP1251 with CR LF.
    std::string bytes = testutil::ReadFile(t / "app/load_07122026_40554.log");
    EXPECT_NE(bytes.find("\xCD\xE5\xF2 \xF4\xE0\xE9\xEB\xEE\xE2 \xE4\xEB\xFF \xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE8!\r\n"),
              std::string::npos);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
}

// One source of one record, and a clock that moves one second on every reading.
MergeOptions OneRecordCountingClock(const TempDir& t, int& calls) {
    testutil::WriteFile(t / "src/a.dbf", testutil::SmallTable("x"));
    MergeOptions o = Options(t);
    o.clock = [&calls] { return kStart + EncodeTime(0, 0, calls++, 0); };
    return o;
}

TEST(Driver, ClockReadForTagStartLineAndEndLine) {
    TempDir t;
    int calls = 0;
    MergeOptions o = OneRecordCountingClock(t, calls);
    DriverRun r;
    RunDriver(r, {t / "src", t / "out.dbf"}, o);
    EXPECT_EQ(r.code, 0);
    // Tag, start line, load start, end line: the progress of the one record reads the clock
    // only for a terminal's status line (next test).
    EXPECT_EQ(calls, 4);
    std::vector<std::string> lines = LogLines(t / "app/load_07122026_40554.log");  // tag: first reading
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines.front(), "Дата и время начала загрузки: 07.12.2026 4:05:55");
    EXPECT_EQ(lines.back(), "Дата и время окончания загрузки: 07.12.2026 4:05:57");
}

// On a terminal every record's progress reads the clock twice (elapsed time, then the
// remaining time) and the status line shows the counts and the estimate.
TEST(Driver, ProgressOnATerminalReadsTheClockForTheEstimate) {
    TempDir t;
    int calls = 0;
    MergeOptions o = OneRecordCountingClock(t, calls);
    DriverRun r;
    Console console(r.out.fd(), r.err.fd(), ConsoleEncoding::Utf8, true);
    r.code = RunMerge({t / "src", t / "out.dbf"}, console, o);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(calls, 6);
    // load start at 2 s, the record at 3 s: one record of one, ends at 3 s, read again at 4 s
    EXPECT_NE(r.Out().find("1 / 1 / 0:00:00"), std::string::npos);
}

TEST(Driver, CyrillicNamesOnAnOemConsoleAndInTheLog) {
    TempDir t;
    testutil::WriteFile(t / "Исходные/Таблица.dbf", testutil::SmallTable("x"));
    DriverRun r;
    RunDriver(r, {t / "Исходные", t / "итог.dbf"}, Options(t), ConsoleEncoding::Oem);
    EXPECT_EQ(r.code, 0);
    std::string expected = AnsiToOem(Utf8ToAnsi(" Директория в DBF файлами: " + (t / "Исходные") + "\n"));
    EXPECT_NE(r.Out().find(expected), std::string::npos);
    EXPECT_EQ(r.Out().substr(0, 3), "\x8D\xA0\xE7");  // "Нач" in CP866
    std::vector<std::string> lines = LogLines(t / "app/load_07122026_40554.log");
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2], t / "Исходные/Таблица.dbf");
    EXPECT_TRUE(fs::exists(t / "Исходные/Таблица.dbf"));
}

TEST(Driver, NamesCp1251LacksShowOnAUtf8ConsoleAndAreQuestionMarksInTheLog) {
    TempDir t;
    const std::string src = t / "«данные»中";
    testutil::WriteFile(src + "/表.dbf", testutil::SmallTable("x"));
    DriverRun r;
    RunDriver(r, {src, t / "out.dbf"}, Options(t));
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.Out().find(" Директория в DBF файлами: " + src + "\n"), std::string::npos);
    std::vector<std::string> lines = LogLines(t / "app/load_07122026_40554.log");
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], "Сканирование директории: " + (t / "«данные»?"));
    EXPECT_EQ(lines[2], t / "«данные»?/?.dbf");
}

TEST(Driver, LogFallsBackToTheCurrentDirectory) {
    TempDir t;
    testutil::WriteFile(t / "src/a.dbf", testutil::SmallTable("x"));
    MergeOptions o = Options(t);
    o.appDir = t / "not-there";
    DriverRun r;
    RunDriver(r, {t / "src", t / "out.dbf"}, o);
    EXPECT_EQ(r.code, 0);
    const std::string saved = t / "cwd/load_07122026_40554.log";
    EXPECT_GE(LogLines(saved).size(), 4u);
    const std::string out = r.Out();
    EXPECT_EQ(out.substr(out.size() - ("Лог загрузки записан в " + saved + "\n").size()),
              "Лог загрузки записан в " + saved + "\n");
}

TEST(Driver, LogThatCannotBeSavedGoesToStandardErrorExitThree) {
    TempDir t;
    testutil::WriteFile(t / "src/a.dbf", testutil::SmallTable("x"));
    MergeOptions o = Options(t);
    o.appDir = t / "not-there";
    o.fallbackDir = t / "nor-there";
    DriverRun r;
    RunDriver(r, {t / "src", t / "out.dbf"}, o);
    EXPECT_EQ(r.code, 3);
    const std::string err = r.Err();
    EXPECT_EQ(err.find("Невозможно записать лог загрузки: " + (t / "not-there/load_07122026_40554.log")), 0u);
    EXPECT_NE(err.find(t / "nor-there/load_07122026_40554.log"), std::string::npos);
    EXPECT_NE(err.find("\nСканирование директории: " + (t / "src") + "\n" + (t / "src/a.dbf") + "\n"),
              std::string::npos);
    EXPECT_NE(err.find("Дата и время окончания загрузки: 07.12.2026 4:05:54\n"), std::string::npos);
}

TEST(Driver, UnexpectedFailureReportedLoggedAndExitThree) {
    TempDir t;
    testutil::WriteFile(t / "src/a.dbf", testutil::SmallTable("x"));
    MergeOptions o = Options(t);
    int calls = 0;
    o.clock = [&calls]() -> TDateTime {
        if (++calls == 3) throw std::runtime_error("clock broke");
        return kStart;
    };
    DriverRun r;
    RunDriver(r, {t / "src", t / "out.dbf"}, o);
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.Err(), "Аварийное завершение: clock broke\n");
    std::vector<std::string> lines = LogLines(t / "app/load_07122026_40554.log");
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines.back(), "Аварийное завершение: clock broke");
}

}  // namespace
}  // namespace zarbel
