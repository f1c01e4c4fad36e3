// The whole merge in-process: structure union, creation of the output, record transfer, the
// console and log lines, exit codes, and sources left untouched.
#include "tool/merge_tables.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>

#include "index/HXDBFNTX.h"
#include "platform/fileio.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "testutil/capture.h"
#include "engine/dbf_builder.h"
#include "testutil/temp_dir.h"
#include "tool/run_helpers.h"

namespace zarbel {
namespace {

using test::BuildDbf;
using testutil::Capture;
using test::FieldSpec;
using test::Record;
using testutil::TempDir;
namespace fs = std::filesystem;

const TDateTime kStart = testutil::FixedStart();
const std::string kLog = "app/load_07122026_40554.log";

struct MergeRun {
    Capture out, err;
    int code = -1;
};

MergeOptions Options(const TempDir& t) { return testutil::RunOptions(t); }

void Merge(MergeRun& r, const TempDir& t, std::vector<std::string> args) {
    Console console(r.out.fd(), r.err.fd(), ConsoleEncoding::Utf8, false);
    r.code = RunMerge(args, console, Options(t));
}

std::vector<std::string> LogLines(const TempDir& t) { return testutil::ReadLogLines(t / kLog); }

std::string LogText(const TempDir& t) {
    std::string s;
    for (const std::string& l : LogLines(t)) s += l + "\n";
    return s;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The output read back through the engine: field definitions and every record as texts.
struct Output {
    std::vector<std::string> names;
    std::vector<char> types;
    std::vector<int> lens, decs;
    std::vector<std::vector<std::string>> rows;  // UTF-8 texts
    std::vector<bool> deleted;
    std::uint8_t version = 0, codepage = 0;
};

Output ReadOutput(const std::string& path, bool oem = true) {
    Output o;
    const std::string bytes = testutil::ReadFile(path);
    if (bytes.size() >= 32) {
        o.version = static_cast<std::uint8_t>(bytes[0]);
        o.codepage = static_cast<std::uint8_t>(bytes[29]);
    }
    THXDBFNTX t;
    t.SetDBFFileName(path);
    t.SetOEM(oem);
    t.AccessMode().SetAccessMode(0);
    t.SetBufferSize(32384);
    t.Open();
    for (int i = 0; i < t.DBFFieldDefs().Count(); ++i) {
        const THXDBFFieldDef& d = t.DBFFieldDefs()[i];
        o.names.push_back(AnsiToUtf8(d.Name()));
        o.types.push_back(d.field_type());
        o.lens.push_back(d.len());
        o.decs.push_back(d.dec());
    }
    for (t.First(); !t.Eof(); t.Next()) {
        std::vector<std::string> row;
        for (int i = 0; i < t.FieldCount(); ++i) row.push_back(AnsiToUtf8(t.Fields()[i].AsString()));
        o.rows.push_back(row);
        o.deleted.push_back(t.IsDeleted());
    }
    t.Close();
    return o;
}

testutil::TreeSnapshot Snapshot(const std::string& dir) { return testutil::SnapshotTree(dir); }

std::string Oem(const std::string& utf8) { return AnsiToOem(Utf8ToAnsi(utf8)); }

const std::vector<FieldSpec> kA = {{"NAME", 'C', 20}, {"SUM", 'N', 10, 2}};
const std::vector<FieldSpec> kB = {{"NAME", 'C', 40}, {"CODE", 'N', 5}};

void WriteAB(const TempDir& t) {
    testutil::WriteFile(t / "src/A.DBF", BuildDbf(0x03, kA,
        {Record(kA, {Oem("Иванов"), "12.50"}), Record(kA, {"Petrov", "-3.00"}),
         Record(kA, {Oem("Сидоров"), "7.25"}, true)}));
    testutil::WriteFile(t / "src/B.DBF", BuildDbf(0x03, kB,
        {Record(kB, {Oem("Ёлкин"), "42"}), Record(kB, {"Smith", ""})}));
}

TEST(Merge, UnionOrderAndFirstOccurrenceDecides) {
    TempDir t;
    WriteAB(t);
    MergeRun r;
    Merge(r, t, {t / "src", t / "out.dbf"});
    ASSERT_EQ(r.code, 0) << r.err.Text() << LogText(t);
    Output o = ReadOutput(t / "out.dbf");
    EXPECT_EQ(o.names, (std::vector<std::string>{"NAME", "SUM", "CODE"}));
    EXPECT_EQ(o.types, (std::vector<char>{'C', 'N', 'N'}));
    EXPECT_EQ(o.lens, (std::vector<int>{20, 10, 5}));
    EXPECT_EQ(o.decs, (std::vector<int>{0, 2, 0}));
    EXPECT_EQ(o.version, 0x03);
    EXPECT_EQ(o.codepage, 0x65);  // CP866
    // Every source record in order, the deleted one appended as a live record.
    ASSERT_EQ(o.rows.size(), 5u);
    EXPECT_EQ(o.rows[0], (std::vector<std::string>{"Иванов              ", "12,5", ""}));
    EXPECT_EQ(o.rows[1], (std::vector<std::string>{"Petrov              ", "-3", ""}));
    EXPECT_EQ(o.rows[2], (std::vector<std::string>{"Сидоров             ", "7,25", ""}));
    EXPECT_EQ(o.rows[3], (std::vector<std::string>{"Ёлкин               ", "", "42"}));
    EXPECT_EQ(o.rows[4], (std::vector<std::string>{"Smith               ", "", ""}));
    for (bool d : o.deleted) EXPECT_FALSE(d);
    // Cyrillic stays in CP866 in the output (OEM mode): the bytes are the source's.
    const std::string bytes = testutil::ReadFile(t / "out.dbf");
    EXPECT_NE(bytes.find(Oem("Иванов")), std::string::npos);
}

TEST(Merge, TwoSourceRunLogLineByLineAndConsole) {
    TempDir t;
    WriteAB(t);
    MergeRun r;
    const std::string src = t / "src";
    const std::string out = t / "out.dbf";
    Merge(r, t, {src, out});
    ASSERT_EQ(r.code, 0);
    const std::string a = src + "/A.DBF", b = src + "/B.DBF";
    const std::string rule = "___________________________________________";
    EXPECT_EQ(LogLines(t), (std::vector<std::string>{
                               "Дата и время начала загрузки: 07.12.2026 4:05:54",
                               "Сканирование директории: " + src,
                               a,
                               b,
                               "Открытие файла: " + a,
                               "   Получение структуры файла: " + a,
                               "Открытие файла: " + b,
                               "   Получение структуры файла: " + b,
                               rule,
                               "Создаем чистый файл: " + out,
                               rule,
                               "Открытие файла: " + a,
                               "   Загрузка записей: 3",
                               "   Загружено: 3 / ошибки: 0",
                               "Открытие файла: " + b,
                               "   Загрузка записей: 2",
                               "   Загружено: 2 / ошибки: 0",
                               "Дата и время окончания загрузки: 07.12.2026 4:05:54",
                           }));
    // The bytes are CP1251 with CR LF after every line.
    const std::string bytes = testutil::ReadFile(t / kLog);
    EXPECT_EQ(bytes.substr(0, 30), Utf8ToAnsi("Дата и время начала загрузки: "));
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    EXPECT_EQ(r.out.Text(),
              "Начинаем процесс объединения...\n"
              " Директория в DBF файлами: " + src + "\n"
              " Результирующий DBF файл: " + out + "\n"
              "\n"
              "Сканирование директории...\n"
              "Найдено 2 DBF файлов\n"
              " анализ структуры: A.DBF\n"
              " анализ структуры: B.DBF\n"
              " анализ структуры завершен\n"
              "\n"
              "Создаем чистый файл: " + out + "\n"
              "Начинаем загрузку\n"
              " загрузка файла: A.DBF успешо: 3 / ошибки: 0\n"
              " загрузка файла: B.DBF успешо: 2 / ошибки: 0\n"
              "\n"
              "Процесс объединения DBF файлов завершен!\n");
}

TEST(Merge, SourcesNeverChange) {
    TempDir t;
    WriteAB(t);
    // A dBase IV source with a memo file and deleted records: the pack must not touch it.
    const std::vector<FieldSpec> m = {{"NAME", 'C', 10}, {"NOTE", 'M', 10}};
    std::string memo(512, '\0');
    memo[0] = 2;  // next free block
    memo[20] = 0x00;
    memo[21] = 0x02;  // block size 512
    std::string entry = std::string("\xFF\xFF\x08\x00", 4) + std::string("\x0D\x00\x00\x00", 4) + "hello";
    entry.resize(512, '\0');
    memo += entry;
    testutil::WriteFile(t / "src/M.DBT", memo);
    testutil::WriteFile(t / "src/M.DBF", BuildDbf(0x8B, m,
        {Record(m, {"one", "1"}, true), Record(m, {"two", "1"})}));
    testutil::WriteFile(t / "src/BROKEN.DBF", "not a table");
    const auto before = Snapshot(t / "src");
    MergeRun r;
    Merge(r, t, {t / "src", t / "out.dbf"});
    EXPECT_EQ(r.code, 1);  // BROKEN.DBF failed to open
    EXPECT_EQ(Snapshot(t / "src"), before);
    Output o = ReadOutput(t / "out.dbf");
    EXPECT_EQ(o.version, 0x8B);  // a memo field: dBase IV with a .dbt
    ASSERT_EQ(o.rows.size(), 7u);
    EXPECT_EQ(o.rows[5][3], "hello");
    EXPECT_EQ(o.rows[6][3], "hello");
}

TEST(Merge, IntegerAndDoubleFieldsBecomeCharacter) {
    TempDir t;
    // Visual FoxPro with an I field; dBase VII with an O field and a long mixed-case name.
    const std::vector<FieldSpec> v = {{"QTY", 'I', 4}, {"NAME", 'C', 5}};
    std::string rec = std::string(" ") + std::string("\x2A\x00\x00\x00", 4) + "abc  ";
    testutil::WriteFile(t / "src/a_vfp.dbf", BuildDbf(0x30, v, {rec}));
    const std::vector<FieldSpec> s = {{"RATE", 'O', 8}, {"Very long name", 'C', 6}, {"very long nameX", 'C', 3}};
    // 2.5 as dBase VII stores doubles: big-endian with the sign bit set for v >= 0.
    std::string o8 = std::string("\xC0\x04\x00\x00\x00\x00\x00\x00", 8);
    testutil::WriteFile(t / "src/b_db7.dbf", BuildDbf(0x04, s, {" " + o8 + "xyz   " + "q  "}));
    MergeRun r;
    Merge(r, t, {t / "src", t / "out.dbf", "-win"});
    ASSERT_EQ(r.code, 0) << r.err.Text() << LogText(t);
    Output o = ReadOutput(t / "out.dbf", false);
    // Two long names with the same first 10 characters are two fields; the second gets the
    // longest prefix that leaves room for "_1", and the renaming is logged.
    EXPECT_EQ(o.names, (std::vector<std::string>{"QTY", "NAME", "RATE", "VERY LONG", "VERY LON_1"}));
    EXPECT_EQ(o.types, (std::vector<char>{'C', 'C', 'C', 'C', 'C'}));
    EXPECT_EQ(o.lens, (std::vector<int>{11, 5, 21, 6, 3}));
    EXPECT_EQ(o.codepage, 0xC9);  // CP1251
    ASSERT_EQ(o.rows.size(), 2u);
    EXPECT_EQ(o.rows[0][0], "42         ");
    EXPECT_EQ(o.rows[1][2], "2,5                  ");
    EXPECT_EQ(o.rows[1][3], "xyz   ");
    EXPECT_EQ(o.rows[1][4], "q  ");
    const std::vector<std::string> lines = LogLines(t);
    EXPECT_TRUE(Contains(lines, "   Поле VERY LONG NAMEX файла " + t / "src/b_db7.dbf" + " загружается в поле VERY LON_1"));
    EXPECT_FALSE(Contains(lines, "Ошибка вставки строки из файла: " + t / "src/b_db7.dbf"));
}

TEST(Merge, BlankNamesSkippedAndCaseVariantsKeptApart) {
    TempDir t;
    const std::vector<FieldSpec> f = {{"Code", 'C', 4}, {"  ", 'C', 3}, {"CODE", 'C', 6}, {"x", 'N', 3}};
    testutil::WriteFile(t / "src/a.dbf", BuildDbf(0x03, f, {Record(f, {"ab", "zz", "cdef", "7"})}));
    MergeRun r;
    Merge(r, t, {t / "src", t / "out.dbf"});
    ASSERT_EQ(r.code, 0) << r.err.Text() << LogText(t);
    Output o = ReadOutput(t / "out.dbf");
    // The second CODE of the table is a field of its own: both values are kept.
    EXPECT_EQ(o.names, (std::vector<std::string>{"CODE", "CODE_1", "X"}));
    EXPECT_EQ(o.lens, (std::vector<int>{4, 6, 3}));
    ASSERT_EQ(o.rows.size(), 1u);
    EXPECT_EQ(o.rows[0], (std::vector<std::string>{"ab  ", "cdef  ", "7"}));
}

TEST(Merge, FieldValuesThatDoNotFitAreLoggedAndTheRecordPosted) {
    TempDir t;
    const std::vector<FieldSpec> a = {{"QTY", 'N', 3}, {"NOTE", 'C', 5}};
    const std::vector<FieldSpec> b = {{"QTY", 'N', 10}, {"NOTE", 'C', 5}};
    const std::vector<FieldSpec> c = {{"QTY", 'C', 5}, {"NOTE", 'C', 5}};
    testutil::WriteFile(t / "src/a.dbf", BuildDbf(0x03, a, {Record(a, {"1", "a"})}));
    testutil::WriteFile(t / "src/b.dbf", BuildDbf(0x03, b, {Record(b, {"123456", "b"})}));
    testutil::WriteFile(t / "src/c.dbf", BuildDbf(0x03, c, {Record(c, {"abc", "c"})}));
    MergeRun r;
    Merge(r, t, {t / "src", t / "out.dbf"});
    EXPECT_EQ(r.code, 1);
    Output o = ReadOutput(t / "out.dbf");
    ASSERT_EQ(o.rows.size(), 3u);
    EXPECT_EQ(o.rows[1], (std::vector<std::string>{"", "b    "}));  // too wide: not cut
    EXPECT_EQ(o.rows[2], (std::vector<std::string>{"", "c    "}));  // not a number
    std::vector<std::string> lines = LogLines(t);
    // The line names the output field, the source record and the source value.
    EXPECT_TRUE(Contains(lines, "  Нет поля или невозможно установить значение: QTY / запись 1 / 123456"));
    EXPECT_TRUE(Contains(lines, "  Нет поля или невозможно установить значение: QTY / запись 1 / abc  "));
    EXPECT_TRUE(Contains(lines, "   Загружено: 1 / ошибки: 0"));
}

TEST(Merge, OutputThatCannotBeCreatedLogsTheStructure) {
    TempDir t;
    // A memo field and a record longer than the buffer: the table and its memo file are
    // written, then the opening fails; both are removed again.
    const std::vector<FieldSpec> v = {{"NAME", 'C', 20000}, {"NOTE", 'M', 10}};
    const std::vector<FieldSpec> w = {{"MORE", 'C', 20000}};
    testutil::WriteFile(t / "src/v.dbf", BuildDbf(0x03, v, {}));
    testutil::WriteFile(t / "src/w.dbf", BuildDbf(0x03, w, {}));
    MergeRun r;
    Merge(r, t, {t / "src", t / "out.dbf"});
    EXPECT_EQ(r.code, 1);
    std::vector<std::string> lines = LogLines(t);
    const std::vector<std::string> tail(lines.end() - 16, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "Ошибка создания чистого файла: " + t / "out.dbf" +
                            " / THXSmartDBF.InternalOpen: BufferSize too small!",
                        "   NAME", "   C", "   20000", "   0", "   ---",
                        "   NOTE", "   M", "   10", "   0", "   ---",
                        "   MORE", "   C", "   20000", "   0", "   ---"}));
    EXPECT_EQ(r.out.Text().find("Начинаем загрузку"), std::string::npos);
    EXPECT_FALSE(fs::exists(t / "out.dbf"));
    EXPECT_FALSE(fs::exists(t / "out.dbt"));
}

TEST(Merge, RecordLongerThanTheBufferFailsCreation) {
    TempDir t;
    for (const char* n : {"a", "b"}) {
        std::vector<FieldSpec> f;
        for (int i = 0; i < 2; ++i) f.push_back({std::string(1, n[0]) + std::to_string(i), 'C', 9000});
        testutil::WriteFile(t / (std::string("src/") + n + ".dbf"), BuildDbf(0x03, f, {Record(f, {"x", "y"})}));
    }
    MergeRun r;
    Merge(r, t, {t / "src", t / "out.dbf"});
    EXPECT_EQ(r.code, 1);
    std::vector<std::string> lines = LogLines(t);
    EXPECT_TRUE(Contains(lines, "Ошибка создания чистого файла: " + t / "out.dbf" +
                                    " / THXSmartDBF.InternalOpen: BufferSize too small!"));
    EXPECT_EQ(lines.back(), "   ---");  // this log has no end line
    EXPECT_FALSE(fs::exists(t / "out.dbf"));  // written completely, the opening failed, removed
}

TEST(Merge, SourceFailingToOpenInTheTransferPhase) {
    TempDir t;
    WriteAB(t);
    // A source that opens for the union but is gone when the records are transferred: the
    // first source's transfer removes it, through the progress clock.
    bool removed = false;
    MergeOptions o = Options(t);
    const std::string gone = t / "src/B.DBF";
    o.clock = [&] {
        if (!removed && fs::exists(t / "out.dbf")) {
            removed = true;
            fs::remove(gone);
        }
        return kStart;
    };
    MergeRun r;
    Console console(r.out.fd(), r.err.fd(), ConsoleEncoding::Utf8, false);
    r.code = RunMerge({t / "src", t / "out.dbf"}, console, o);
    EXPECT_EQ(r.code, 1);
    std::vector<std::string> lines = LogLines(t);
    EXPECT_TRUE(Contains(lines, "Ошибка открытия файла: " + gone +
                                    " / THXSmartDBF.InternalOpen: Open error \"" + gone +
                                    "\" (No such file or directory)"));
    // No summary lines for it, and its console text has no line break.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("   Загружено: ", 0) == 0; }), 1);
    EXPECT_NE(r.out.Text().find(" загрузка файла: B.DBF\nПроцесс") , std::string::npos);
}

TEST(Merge, RecordWhosePostFailsIsCancelledCountedAndLogged) {
    TempDir t;
    const std::vector<FieldSpec> f = {{"NAME", 'C', 20}};
    std::vector<std::string> recs;
    for (int i = 0; i < 6; ++i) recs.push_back(Record(f, {"row" + std::to_string(i)}));
    testutil::WriteFile(t / "src/a.dbf", BuildDbf(0x03, f, recs));
    // The phases driven one by one: after creation the output follows the dBase IV locking
    // protocol, and another open of the file holds the lock of record 4, so the posts of the
    // records that would become record 4 fail; the first three go in.
    MergeRun r;
    Console console(r.out.fd(), r.err.fd(), ConsoleEncoding::Utf8, false);
    MergeContext ctx(console, Options(t));
    ctx.sourceDir = t / "src";
    ctx.outputPath = t / "out.dbf";
    ctx.fileList = {t / "src/a.dbf"};
    ctx.startTag = "07122026_40554";
    MergeTables tables;
    SetUpTables(ctx, tables);
    BuildStructureUnion(ctx, tables);
    ASSERT_TRUE(CreateOutput(ctx, tables));
    tables.output->Close();
    tables.output->SetLockProtocol(lpDB4Lock);
    tables.output->SetWaitBusyRes(1);
    // shared: an output open without sharing holds every lock byte, and nobody could lock one
    tables.output->AccessMode().SetAccessMode(TAccessMode::kOpenReadWrite | TAccessMode::kShareDenyNone);
    tables.output->Open();
    THandle other = FileOpen(t / "out.dbf", faReadWrite, TShareLock::None);
    ASSERT_TRUE(FileLockRange(other, 0xEFFFFFFEu - 4, 1, true));
    TransferRecords(ctx, tables);
    FinishMerge(ctx, tables);
    FileClose(other);
    EXPECT_TRUE(ctx.failureLogged);
    std::vector<std::string> lines = LogLines(t);
    EXPECT_TRUE(Contains(lines, "   Загружено: 3 / ошибки: 3"));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Ошибка вставки строки из файла: " + t / "src/a.dbf" +
                                    " / THXSmartDBF.InternalAddRecord: Can not lock DBF record."), 3);
    Output o = ReadOutput(t / "out.dbf");
    ASSERT_EQ(o.rows.size(), 3u);
    EXPECT_EQ(o.rows[2][0], "row2                ");
}

TEST(Merge, WinAndOemModesKeepTextBytesAndMarkTheCodePage) {
    TempDir t;
    const std::vector<FieldSpec> f = {{"NAME", 'C', 10}};
    const std::vector<std::pair<std::string, bool>> modes = {
        {"-win", true}, {" -WIN ", true}, {"-oem", false}, {"win", false}};
    for (const auto& [mode, isWin] : modes) {
        // CP1251 text in Windows mode, CP866 text in OEM mode (converted to ANSI and back).
        const std::string text = isWin ? Utf8ToAnsi("Привет") : Oem("Привет");
        testutil::WriteFile(t / "src/a.dbf", BuildDbf(0x03, f, {Record(f, {text})}));
        MergeRun r;
        Merge(r, t, {t / "src", t / "out.dbf", mode});
        ASSERT_EQ(r.code, 0) << LogText(t);
        const std::string bytes = testutil::ReadFile(t / "out.dbf");
        EXPECT_EQ(static_cast<std::uint8_t>(bytes[29]), isWin ? 0xC9 : 0x65) << mode;
        EXPECT_NE(bytes.find(text), std::string::npos) << mode;
        EXPECT_EQ(ReadOutput(t / "out.dbf", !isWin).rows.at(0).at(0), "Привет    ") << mode;
    }
}

TEST(Merge, RemainingTimeTexts) {
    EXPECT_EQ(RemainingTimeText(-0.25), "0:00:00");
    EXPECT_EQ(RemainingTimeText(0), "0:00:00");
    EXPECT_EQ(RemainingTimeText(EncodeTime(4, 5, 54, 0)), "4:05:54");
    EXPECT_EQ(RemainingTimeText(1 + EncodeTime(3, 3, 10, 0)), "27:03:10");
    // Output names: the first 10 characters, else the longest prefix with "_" and a number.
    const std::set<std::string> taken = {"CUSTOMERNA", "KOD", "KOD_1", "ABCDEFGH_1"};
    EXPECT_EQ(FreeOutputName("VERY LONG NAME", taken), "VERY LONG");
    EXPECT_EQ(FreeOutputName("CUSTOMERNAME_LAST", taken), "CUSTOMER_1");
    EXPECT_EQ(FreeOutputName("KOD", taken), "KOD_2");
    EXPECT_EQ(FreeOutputName("ABCDEFGHIJL", {"ABCDEFGHIJ"}), "ABCDEFGH_1");
    EXPECT_EQ(FreeOutputName("ABCDEFGHIJK", taken), "ABCDEFGHIJ");
    std::set<std::string> nine = {"ABCDEFGHIJ"};
    for (int n = 1; n <= 9; ++n) nine.insert("ABCDEFGH_" + std::to_string(n));
    EXPECT_EQ(FreeOutputName("ABCDEFGHIJ", nine), "ABCDEFG_10");
    EXPECT_EQ(FileNamePart("/a/b/C.DBF"), "C.DBF");
}

}  // namespace
}  // namespace zarbel

namespace zarbel {
namespace {

// The merge of the shipped sample sources, read back by an independent reader.
TEST(MergeInterop, SampleSourcesReadBackByDbfread) {
    if (std::system("/usr/bin/python3 -c 'import dbfread' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3-dbfread is not installed (scripts/test.sh installs it)";
    TempDir t;
    const std::string src = std::string(ZARBEL_SOURCE_DIR) + "/examples/sources";
    MergeRun r;
    Console console(r.out.fd(), r.err.fd(), ConsoleEncoding::Utf8, false);
    MergeOptions o = Options(t);
    r.code = RunMerge({src, t / "all.dbf"}, console, o);
    EXPECT_EQ(r.code, 1) << LogText(t);  // BROKEN.DBF does not open
    std::string cmd = "/usr/bin/python3 " + std::string(ZARBEL_SOURCE_DIR) + "/tests/tool/merged_values.py " +
                      t / "all.dbf";
    for (const char* p : {"/clipper/BROKEN.DBF", "/clipper/STOCK.DBF", "/dbase3/CLIENTS.DBF",
                          "/dbase4/NOTES.DBF", "/foxpro/archive/orders.dbf"})
        cmd += " " + src + p;
    cmd += " 2>&1";
    std::string output;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) output += buf;
        EXPECT_EQ(pclose(p), 0) << output;
    }
    EXPECT_EQ(output, "ok 12\n");
}

}  // namespace
}  // namespace zarbel
