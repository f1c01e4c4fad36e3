// The built zarbel program on hostile trees and paths: field identities, a guarded output path,
// interrupted and out-of-space runs, and losses that are logged. Every run leaves its sources
// byte-identical, modification times included.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "index/HXDBFNTX.h"
#include "engine/dbf_builder.h"
#include "platform/codepage.h"
#include "platform/fileio.h"
#include "testutil/temp_dir.h"
#include "tool/run_helpers.h"

namespace zarbel {
namespace {

using test::BuildDbf;
using test::FieldSpec;
using test::Record;
using testutil::TempDir;
namespace fs = std::filesystem;

using Snapshot = testutil::TreeSnapshot;
Snapshot Snap(const std::string& dir) { return testutil::SnapshotTree(dir); }

struct Result {
    int code = -1;
    std::string out, err;
};

// A started copy of the program living in `app`; `childSetUp` runs in the child before exec.
class Child {
public:
    Child(const std::string& app, const std::vector<std::string>& args,
          const std::function<void()>& childSetUp = {}) {
        const std::string program = app + "/zarbel";
        outPath_ = app + "/stdout";
        errPath_ = app + "/stderr";
        pid_ = fork();
        if (pid_ == 0) {
            int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            if (childSetUp) childSetUp();
            std::vector<std::string> store = {program};
            store.insert(store.end(), args.begin(), args.end());
            std::vector<char*> argv;
            for (std::string& a : store) argv.push_back(a.data());
            argv.push_back(nullptr);
            char lc[] = "LC_ALL=C.UTF-8";
            char* envp[] = {lc, nullptr};
            execve(program.c_str(), argv.data(), envp);
            _exit(127);
        }
    }
    Result Wait() {
        Result r;
        int status = 0;
        waitpid(pid_, &status, 0);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = testutil::ReadFile(outPath_);
        r.err = testutil::ReadFile(errPath_);
        return r;
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::string outPath_, errPath_;
};

class MergeProgram : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string built = std::string(ZARBEL_BINARY_DIR) + "/zarbel";
        if (!fs::exists(built)) GTEST_SKIP() << "zarbel is not built in " << ZARBEL_BINARY_DIR;
        App("app");
    }
    // A directory holding a copy of the program (its log goes there).
    std::string App(const std::string& name) {
        const std::string dir = t_ / name;
        fs::create_directories(dir);
        fs::copy_file(std::string(ZARBEL_BINARY_DIR) + "/zarbel", dir + "/zarbel",
                      fs::copy_options::overwrite_existing);
        return dir;
    }
    Result Run(const std::vector<std::string>& args, const std::function<void()>& childSetUp = {},
               const std::string& app = "app") {
        return Child(t_ / app, args, childSetUp).Wait();
    }
    // The lines of the one load log in the program's directory, as UTF-8 ("" when none).
    std::vector<std::string> Log(const std::string& app = "app") {
        std::vector<std::string> lines;
        for (const auto& e : fs::directory_iterator(t_ / app)) {
            if (e.path().filename().string().rfind("load_", 0) != 0) continue;
            std::string bytes = testutil::ReadFile(e.path().string());
            for (std::size_t pos = 0, end; (end = bytes.find("\r\n", pos)) != std::string::npos; pos = end + 2)
                lines.push_back(AnsiToUtf8(bytes.substr(pos, end - pos)));
        }
        return lines;
    }
    bool HasLog(const std::string& app = "app") {
        for (const auto& e : fs::directory_iterator(t_ / app))
            if (e.path().filename().string().rfind("load_", 0) == 0) return true;
        return false;
    }
    static bool Has(const std::vector<std::string>& lines, const std::string& prefix) {
        for (const std::string& l : lines)
            if (l.rfind(prefix, 0) == 0) return true;
        return false;
    }
    // A source of n records (NAME C 20, NUM N 8).
    void BigSource(const std::string& path, int n) {
        const std::vector<FieldSpec> f = {{"NAME", 'C', 20}, {"NUM", 'N', 8}};
        std::vector<std::string> recs;
        recs.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) recs.push_back(Record(f, {"name" + std::to_string(i), std::to_string(i)}));
        testutil::WriteFile(path, BuildDbf(0x03, f, recs));
    }
    TempDir t_;
};

// The output read back by the engine: names and every record's texts.
struct Table {
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> rows;
    bool consistent = false;  // file size = header + records + end-of-file byte
};
Table ReadTable(const std::string& path) {
    Table o;
    THXDBFNTX t;
    t.SetDBFFileName(path);
    t.AccessMode().SetAccessMode(0);
    t.SetBufferSize(32384);
    t.SetOEM(true);
    t.Open();
    for (int i = 0; i < t.DBFFieldDefs().Count(); ++i) o.names.push_back(t.DBFFieldDefs()[i].Name());
    for (t.First(); !t.Eof(); t.Next()) {
        std::vector<std::string> row;
        for (int i = 0; i < t.FieldCount(); ++i) row.push_back(t.Fields()[i].AsString());
        o.rows.push_back(row);
    }
    const std::uint64_t expected = static_cast<std::uint64_t>(t.HeaderLength()) +
                                   static_cast<std::uint64_t>(t.RecordLength()) * o.rows.size() + 1;
    const std::string bytes = testutil::ReadFile(path);
    o.consistent = bytes.size() == expected && bytes.back() == '\x1A' &&
                   static_cast<std::uint8_t>(bytes[4]) + 256u * static_cast<std::uint8_t>(bytes[5]) +
                           65536u * static_cast<std::uint8_t>(bytes[6]) ==
                       (o.rows.size() & 0xFFFFFF);
    t.Close();
    return o;
}

// Waits (up to 20 s) until the condition holds.
bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 2000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(MergeProgram, CollisionTreeKeepsEveryFieldUnderItsOwnName) {
    // dBase VII sources with long names sharing their first 10 characters, a dBase III table
    // with one name twice, and the same long name in two sources.
    const std::vector<FieldSpec> a = {{"CUSTOMERNAME_FIRST", 'C', 8}, {"CUSTOMERNAME_LAST", 'C', 8},
                                      {"ABCDEFGHIJK", 'C', 3}, {"ABCDEFGHIJL", 'C', 3}};
    const std::vector<FieldSpec> b = {{"KOD", 'C', 4}, {"KOD", 'C', 4}};
    const std::vector<FieldSpec> c = {{"CUSTOMERNAME_LAST", 'C', 8}};
    testutil::WriteFile(t_ / "src/a.dbf", BuildDbf(0x04, a, {Record(a, {"Ivan", "Petrov", "k", "l"})}));
    testutil::WriteFile(t_ / "src/b.dbf", BuildDbf(0x03, b, {Record(b, {"one", "two"})}));
    testutil::WriteFile(t_ / "src/c.dbf", BuildDbf(0x04, c, {Record(c, {"Sidorov"})}));
    const Snapshot before = Snap(t_ / "src");
    Result r = Run({t_ / "src", t_ / "out.dbf"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ(Snap(t_ / "src"), before);
    Table o = ReadTable(t_ / "out.dbf");
    EXPECT_EQ(o.names, (std::vector<std::string>{"CUSTOMERNA", "CUSTOMER_1", "ABCDEFGHIJ", "ABCDEFGH_1", "KOD",
                                                 "KOD_1"}));
    ASSERT_EQ(o.rows.size(), 3u);
    EXPECT_EQ(o.rows[0], (std::vector<std::string>{"Ivan    ", "Petrov  ", "k  ", "l  ", "    ", "    "}));
    EXPECT_EQ(o.rows[1], (std::vector<std::string>{"        ", "        ", "   ", "   ", "one ", "two "}));
    EXPECT_EQ(o.rows[2], (std::vector<std::string>{"        ", "Sidorov ", "   ", "   ", "    ", "    "}));
    const std::vector<std::string> log = Log();
    const std::string pa = t_ / "src/a.dbf", pb = t_ / "src/b.dbf";
    for (const std::string& line :
         {"   Поле CUSTOMERNAME_LAST файла " + pa + " загружается в поле CUSTOMER_1",
          "   Поле ABCDEFGHIJL файла " + pa + " загружается в поле ABCDEFGH_1",
          "   Поле KOD файла " + pb + " загружается в поле KOD_1"})
        EXPECT_EQ(std::count(log.begin(), log.end(), line), 1) << line;
    EXPECT_FALSE(Has(log, "   Поле CUSTOMERNAME_LAST файла " + (t_ / "src/c.dbf")));
}

TEST_F(MergeProgram, OutputPathHoldingAnythingButATableIsRefusedUntouched) {
    const std::vector<FieldSpec> m = {{"NAME", 'C', 4}, {"NOTE", 'M', 10}};
    testutil::WriteFile(t_ / "src/M.DBF", BuildDbf(0x83, m, {Record(m, {"a", "1"})}));
    std::string memo(1024, '\0');
    memo[0] = 2;
    memo.replace(512, 6, "hello\x1A");
    testutil::WriteFile(t_ / "src/M.DBT", memo);
    testutil::WriteFile(t_ / "notes.txt", "some text, not a table\n");
    const Snapshot before = Snap(t_.path());
    struct Case {
        std::string path, text;
    } cases[] = {
        {t_ / "src/M.DBT", "Результирующий файл не является DBF таблицей, удалять его нельзя: "},
        {t_ / "notes.txt", "Результирующий файл не является DBF таблицей, удалять его нельзя: "},
        {t_ / "src", "Результирующий файл не является DBF таблицей, удалять его нельзя: "},
        {t_ / "new.dbt", "Результирующий DBF файл совпадает со своим мемо-файлом: "},
    };
    for (const Case& c : cases) {
        Result r = Run({t_ / "src", c.path});
        EXPECT_EQ(r.code, 2) << c.path;
        EXPECT_NE(r.out.find(c.text + c.path + "\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.err, c.text + c.path + "\n");
        EXPECT_FALSE(HasLog());
        EXPECT_FALSE(fs::exists(t_ / "new.dbt"));
    }
    // Nothing was touched, the memo file and the text file included.
    Snapshot after = Snap(t_.path());
    for (const auto& [path, v] : before) EXPECT_EQ(after[path], v) << path;
}

TEST_F(MergeProgram, SecondRunOnTheSameOutputIsRefusedAndTheFirstCompletes) {
    BigSource(t_ / "src/big.dbf", 100000);
    testutil::WriteFile(t_ / "out.dbf", BuildDbf(0x03, {{"OLD", 'C', 3}}, {}));  // an old output
    const Snapshot before = Snap(t_ / "src");
    App("app2");
    App("app3");
    Child first(t_ / "app", {t_ / "src", t_ / "out.dbf"});
    // The first run holds its guard once its placeholder has replaced the old output.
    ASSERT_TRUE(WaitFor([&] {
        THandle h = FileOpen(t_ / "out.dbf", faReadWrite, TShareLock::None);
        const bool held = h != kInvalidHandle && !FileLockRange(h, std::uint64_t{1} << 40, 1, true);
        FileClose(h);
        return held;
    }));
    Result second = Run({t_ / "src", t_ / "out.dbf"}, {}, "app2");
    EXPECT_EQ(second.code, 2);
    const std::string busy = "Результирующий DBF файл занят другим процессом объединения: " + (t_ / "out.dbf") + "\n";
    EXPECT_EQ(second.err, busy);
    EXPECT_FALSE(HasLog("app2"));
    Result r = first.Wait();
    EXPECT_EQ(r.code, 0) << r.err;
    Table o = ReadTable(t_ / "out.dbf");
    EXPECT_EQ(o.rows.size(), 100000u);
    EXPECT_TRUE(o.consistent);
    // Another program holding the table open (the engine's exclusive lock) is refused as well.
    THandle held = FileOpen(t_ / "out.dbf", faRead, TShareLock::Exclusive);
    ASSERT_NE(held, kInvalidHandle);
    Result third = Run({t_ / "src", t_ / "out.dbf"}, {}, "app3");
    FileClose(held);
    EXPECT_EQ(third.code, 2);
    EXPECT_EQ(third.err, "Результирующий DBF файл открыт другой программой: " + (t_ / "out.dbf") + "\n");
    EXPECT_FALSE(HasLog("app3"));
    EXPECT_EQ(ReadTable(t_ / "out.dbf").rows.size(), 100000u);
    EXPECT_EQ(Snap(t_ / "src"), before);
}

TEST_F(MergeProgram, InterruptedRunClosesTheOutputLogsAndSaysSo) {
    BigSource(t_ / "src/big.dbf", 100000);
    const Snapshot before = Snap(t_ / "src");
    Child run(t_ / "app", {t_ / "src", t_ / "out.dbf"});
    // Interrupted in the middle of the transfer: some records are in, not all.
    ASSERT_TRUE(WaitFor([&] { return fs::exists(t_ / "out.dbf") && fs::file_size(t_ / "out.dbf") > 200000; }));
    kill(run.pid(), SIGINT);
    Result r = run.Wait();
    EXPECT_EQ(r.code, 130) << r.err;
    EXPECT_NE(r.out.find("Загрузка прервана сигналом SIGINT: "), std::string::npos) << r.out;
    const std::vector<std::string> log = Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 2].rfind("Загрузка прервана сигналом SIGINT: ", 0), 0u) << log[log.size() - 2];
    EXPECT_EQ(log.back().rfind("Дата и время окончания загрузки: ", 0), 0u);
    Table o = ReadTable(t_ / "out.dbf");
    EXPECT_TRUE(o.consistent);
    EXPECT_GT(o.rows.size(), 0u);
    EXPECT_LT(o.rows.size(), 100000u);
    EXPECT_TRUE(Has(log, "   Загружено: " + std::to_string(o.rows.size()) + " / ошибки: 0"));
    EXPECT_EQ(o.rows.back()[0], "name" + std::to_string(o.rows.size() - 1) + std::string(20 - 4 - std::to_string(o.rows.size() - 1).size(), ' '));
    EXPECT_EQ(Snap(t_ / "src"), before);
}

// zarbel killed outright at ten moments of a 100,000-record transfer: each time the output
// opens in the engine and in python3-dbfread, every record in it is whole, and the header never
// counts more records than the file holds whole.
TEST_F(MergeProgram, KilledRunLeavesWholeRecords) {
    if (std::system("/usr/bin/python3 -c 'import dbfread' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3-dbfread is not installed (scripts/test.sh installs it)";
    BigSource(t_ / "src/big.dbf", 100000);
    const std::uint64_t full = 100000ull * 29;  // records of the output (deletion flag + 20 + 8)
    std::uint64_t seed = 20261208;
    for (int round = 0; round < 10; ++round) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const std::uint64_t at = full / 100 + (seed >> 33) % (full * 9 / 10);
        const std::string out = t_ / ("killed" + std::to_string(round) + ".dbf");
        Child run(t_ / "app", {t_ / "src", out});
        WaitFor([&] { return fs::exists(out) && fs::file_size(out) > at; });
        kill(run.pid(), SIGKILL);
        run.Wait();
        SCOPED_TRACE("killed past byte " + std::to_string(at) + ", file " + std::to_string(fs::file_size(out)));
        const std::string bytes = testutil::ReadFile(out);
        ASSERT_GT(bytes.size(), 32u);
        const std::uint32_t header = static_cast<std::uint8_t>(bytes[8]) + 256u * static_cast<std::uint8_t>(bytes[9]);
        const std::uint32_t counted = static_cast<std::uint8_t>(bytes[4]) + 256u * static_cast<std::uint8_t>(bytes[5]) +
                                      65536u * static_cast<std::uint8_t>(bytes[6]);
        EXPECT_LE(counted, (bytes.size() - header) / 29) << "the header counts a record the file does not hold";
        // the engine counts the whole records the file holds; dbfread goes by the header
        Table o = ReadTable(out);
        ASSERT_EQ(o.rows.size(), (bytes.size() - header) / 29);
        for (std::size_t i = 0; i < o.rows.size(); ++i) {
            const std::string name = "name" + std::to_string(i);
            ASSERT_EQ(o.rows[i][0], name + std::string(20 - name.size(), ' ')) << "record " << i + 1;
            ASSERT_EQ(o.rows[i][1], std::to_string(i)) << "record " << i + 1;
        }
        const std::string cmd = "/usr/bin/python3 -c \"import dbfread,sys; t=dbfread.DBF(sys.argv[1], raw=True); "
                                "n=sum(1 for r in t); sys.exit(0 if n == len(t) else 1)\" " + out;
        EXPECT_EQ(std::system(cmd.c_str()), 0) << "python3-dbfread does not read it whole";
    }
}

TEST_F(MergeProgram, FullDiskEndsTheRunAtOnceWithTheOutputConsistent) {
    BigSource(t_ / "src/big.dbf", 20000);
    const Snapshot before = Snap(t_ / "src");
    // A small tmpfs for the output where one can be mounted; a file size limit in any case (its
    // last write lands in part, which the run must cut off again).
    const std::string disk = t_ / "disk";
    fs::create_directories(disk);
    const bool mounted = mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") == 0;
    for (const bool useLimit : {false, true}) {
        if (!useLimit && !mounted) continue;
        std::function<void()> limit;
        if (useLimit)
            limit = [] {
                struct rlimit rl {256 * 1024 + 5, 256 * 1024 + 5};
                setrlimit(RLIMIT_FSIZE, &rl);
            };
        const std::string app = useLimit ? "app_limit" : "app_tmpfs";
        App(app);
        const std::string out = useLimit ? t_ / "limited.dbf" : disk + "/out.dbf";
        Result r = Run({t_ / "src", out}, limit, app);
        const std::string copy = t_ / "copy.dbf";
        testutil::WriteFile(copy, testutil::ReadFile(out));
        EXPECT_EQ(r.code, 3) << r.out << r.err;
        const std::string stop = "Загрузка остановлена, нет места для результирующего файла: THXSmartDBF: ";
        EXPECT_EQ(r.err.rfind(stop, 0), 0u) << r.err;
        const std::vector<std::string> log = Log(app);
        EXPECT_TRUE(Has(log, stop));
        EXPECT_LT(log.size(), 30u);  // one line for the failure, not one per remaining record
        Table o = ReadTable(copy);
        EXPECT_TRUE(o.consistent) << app;
        EXPECT_GT(o.rows.size(), 1000u);
        EXPECT_LT(o.rows.size(), 20000u);
        EXPECT_TRUE(Has(log, "   Загружено: " + std::to_string(o.rows.size()) + " / ошибки: 1"));
    }
    if (mounted) umount(disk.c_str());
    EXPECT_EQ(Snap(t_ / "src"), before);
}

// Runs `body` with `dir` unreadable for the program: as a user without the right, or as root
// that has given up the capabilities that override it. False when neither can be arranged.
bool DropReadRight(std::function<void()>& childSetUp) {
    if (geteuid() != 0) {
        childSetUp = {};
        return true;
    }
    // Root: the child drops the capabilities that bypass permission checks from its bounding
    // set, so they do not come back at exec.
    const pid_t probe = fork();
    if (probe == 0) _exit(prctl(PR_CAPBSET_DROP, 1 /*CAP_DAC_OVERRIDE*/) == 0 &&
                                  prctl(PR_CAPBSET_DROP, 2 /*CAP_DAC_READ_SEARCH*/) == 0 ? 0 : 1);
    int status = 0;
    waitpid(probe, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    childSetUp = [] {
        prctl(PR_CAPBSET_DROP, 1);
        prctl(PR_CAPBSET_DROP, 2);
    };
    return true;
}

TEST_F(MergeProgram, MissingMemoFileAndUnreadableFolderAreLoggedWithStatusOne) {
    const std::vector<FieldSpec> m = {{"NAME", 'C', 4}, {"NOTE", 'M', 10}};
    testutil::WriteFile(t_ / "src/M.DBF", BuildDbf(0x83, m, {Record(m, {"a", "1"})}));  // no M.DBT
    const std::vector<FieldSpec> n = {{"NAME", 'C', 20}};
    testutil::WriteFile(t_ / "src/long.dbf", BuildDbf(0x03, n, {Record(n, {AnsiToOem(Utf8ToAnsi("Длинное имя"))})}));
    testutil::WriteFile(t_ / "src/a_short.dbf", BuildDbf(0x03, {{"NAME", 'C', 5}}, {}));  // listed first: NAME C 5
    testutil::WriteFile(t_ / "src/locked/hidden.dbf", BuildDbf(0x03, n, {Record(n, {"hidden"})}));
    testutil::WriteFile(t_ / "src/сломан.dbf", "not a table");
    const Snapshot before = Snap(t_ / "src");
    std::function<void()> setUp;
    const bool canDrop = DropReadRight(setUp);
    chmod((t_ / "src/locked").c_str(), 0);
    Result r = Run({t_ / "src", t_ / "out.dbf"}, setUp);
    chmod((t_ / "src/locked").c_str(), 0755);
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    EXPECT_EQ(Snap(t_ / "src"), before);
    const std::vector<std::string> log = Log();
    EXPECT_TRUE(Has(log, "   Мемо-файл не найден или не читается, мемо-поля загружены пустыми: " + (t_ / "src/M.DBF")));
    // A value cut to fit the shorter output field: one line per source and field.
    EXPECT_TRUE(Has(log, "   Обрезаны значения поля NAME: 1"));
    // The engine's message names the file in the log's code page like the tool's own text.
    const std::string broken = t_ / "src/сломан.dbf";
    EXPECT_TRUE(Has(log, "Ошибка открытия файла: " + broken + " / THXSmartDBF.InternalOpen: File \"" + broken + "\""));
    EXPECT_NE(r.out.find("Не удалось открыть файлов: 1\n"), std::string::npos) << r.out;
    Table o = ReadTable(t_ / "out.dbf");
    EXPECT_EQ(o.rows.at(0).at(0), Utf8ToAnsi("Длинн"));
    if (!canDrop) GTEST_SKIP() << "running as root without the right to drop CAP_DAC_OVERRIDE: "
                                  "the unreadable folder cannot be shown";
    EXPECT_TRUE(Has(log, "Ошибка чтения директории: " + (t_ / "src/locked/") + " / Permission denied"));
    EXPECT_EQ(o.rows.size(), 2u);  // the hidden table was not reached
}

// Visual FoxPro varchar, varbinary and blob fields reach the output: V as text of its real
// length in a C field of its width, Q and W as memo bytes. dbfread reads both sides.
TEST_F(MergeProgram, VisualFoxProVarcharVarbinaryAndBlobAreCopied) {
    if (std::system("/usr/bin/python3 -c 'import dbfread' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3-dbfread is not installed (scripts/test.sh installs it)";
    // bits of _NULLFLAGS: V length 0, V null 1, Q length 2
    // (an empty M beside them: dbfread opens a memo file only for the kinds it knows)
    const std::vector<FieldSpec> f{{"V", 'V', 8, 0, 0x02}, {"Q", 'Q', 6}, {"W", 'W', 4, 0, 0x04},
                                   {"M", 'M', 4}, {"_NULLFLAGS", '0', 1, 0, 0x05}};
    const std::string ivan = Utf8ToAnsi("Иван");
    const std::string rec1 = " " + ivan + "   \x04" + std::string("\0\x01\xFF\0\0\x03", 6) + test::LE32(8) + test::LE32(0) + "\x05";
    const std::string rec2 = std::string(" ABCDEFGH") + "123456" + test::LE32(0) + test::LE32(0) + std::string(1, '\0');
    const std::string rec3 = std::string(" ABCDEFGH") + std::string(6, '\0') + test::LE32(9) + test::LE32(0) + "\x06";  // V null
    testutil::WriteFile(t_ / "src/var.dbf", BuildDbf(0x32, f, {rec1, rec2, rec3}, true, 0x02));
    // The memo file: 64-byte blocks, entries at blocks 8 and 9 (type 0: binary).
    std::string fpt(512 + 128, '\0');
    fpt[3] = 10;
    fpt[7] = 64;
    const std::string blob("\x89PNG\r\n\x1A\n\0\xFE", 10);
    fpt[512 + 7] = static_cast<char>(blob.size());
    fpt.replace(512 + 8, blob.size(), blob);
    fpt[576 + 7] = 2;
    fpt.replace(576 + 8, 2, "\x7F\x80");
    testutil::WriteFile(t_ / "src/var.fpt", fpt);

    Result r = Run({t_ / "src", t_ / "out.dbf", "-win"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    THXDBFNTX o;
    o.SetDBFFileName(t_ / "out.dbf");
    o.AccessMode().SetAccessMode(0);
    o.Open();
    ASSERT_EQ(o.DBFFieldDefs().Count(), 4);  // _NULLFLAGS left out
    EXPECT_EQ(o.DBFFieldDefs()[0].field_type(), 'C');
    EXPECT_EQ(o.DBFFieldDefs()[0].len(), 8);
    EXPECT_EQ(o.DBFFieldDefs()[1].field_type(), 'M');
    EXPECT_EQ(o.DBFFieldDefs()[2].field_type(), 'M');
    const std::vector<std::vector<std::string>> want{{ivan, std::string("\0\x01\xFF", 3), blob},
                                                     {"ABCDEFGH", "123456", ""},
                                                     {"", "", "\x7F\x80"}};
    for (const auto& row : want) {
        EXPECT_EQ(o.FieldByName("V").AsString().substr(0, row[0].size()), row[0]) << o.RecNo();
        EXPECT_EQ(o.FieldByName("V").AsString().find_first_not_of(' ', row[0].size()), std::string::npos);
        EXPECT_EQ(o.FieldByName("Q").AsString(), row[1]) << o.RecNo();
        EXPECT_EQ(o.FieldByName("W").AsString(), row[2]) << o.RecNo();
        o.Next();
    }
    o.Close();
    std::string log;
    for (const auto& e : fs::directory_iterator(t_ / "app"))
        if (e.path().filename().string().rfind("load_", 0) == 0) log = e.path().string();
    const std::string cmd = "/usr/bin/python3 " ZARBEL_SOURCE_DIR "/tests/tool/merged_corpus.py " + (t_ / "out.dbf") +
                            " " + log + " cp1251 2>&1";
    std::string report;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) report += buf;
        pclose(p);
    }
    EXPECT_EQ(report.rfind("ok 3 12 ", 0), 0u) << report;
    EXPECT_NE(report.find("varlength=3"), std::string::npos) << report;
}

TEST_F(MergeProgram, WholeCorpusMergesWithEveryRecordAndTheReadersValues) {
    const std::string corpus = ZARBEL_SOURCE_DIR "/../shared/corpus";
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "the compatibility corpus is absent: " << corpus;
    if (std::system("/usr/bin/python3 -c 'import dbfread' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3-dbfread is not installed (scripts/test.sh installs it)";
    fs::copy(corpus, t_ / "src", fs::copy_options::recursive);
    const Snapshot before = Snap(t_ / "src");
    for (const auto& [mode, encoding] : {std::pair<std::string, std::string>{"-oem", "cp866"}, {"-win", "cp1251"}}) {
        const std::string app = "app" + mode, out = t_ / ("all" + mode + ".dbf");
        App(app);
        // The expected/ views carry ".DBF" in their names and do not open: status 1.
        Result r = Run({t_ / "src", out, mode}, {}, app);
        EXPECT_EQ(r.code, 1) << mode << r.err;
        ASSERT_TRUE(fs::exists(out)) << mode;
        std::string log;
        for (const auto& e : fs::directory_iterator(t_ / app))
            if (e.path().filename().string().rfind("load_", 0) == 0) log = e.path().string();
        const std::string cmd = "/usr/bin/python3 " ZARBEL_SOURCE_DIR "/tests/tool/merged_corpus.py " + out + " " +
                                log + " " + encoding + " 2>&1";
        std::string report;
        if (FILE* p = popen(cmd.c_str(), "r")) {
            char buf[512];
            while (fgets(buf, sizeof buf, p)) report += buf;
            EXPECT_EQ(pclose(p), 0) << mode << "\n" << report;
        }
        EXPECT_EQ(report.rfind("ok ", 0), 0u) << mode << "\n" << report;
        EXPECT_EQ(Snap(t_ / "src"), before) << mode;
    }
}

}  // namespace
}  // namespace zarbel
