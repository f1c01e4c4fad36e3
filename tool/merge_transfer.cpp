// Creation of the output, record transfer with the progress line, and the finish.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <exception>
#include <vector>

#include "engine/HXDBFMemoFile.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/locale.h"
#include "platform/signals.h"
#include "tool/merge_tables.h"
#include "tool/zStrings.h"

namespace zarbel {

namespace {

const char* const kRule = "___________________________________________";

// One source field and the output field of its identity.
struct FieldPair {
    TField* source;
    TField* output;
    bool bytes;        // binary values: copied without code-page translation
    bool checkCut;     // the output is a text field that may be shorter than the value
    int cut;           // values cut in this source
};

void ShowProgress(MergeContext& ctx) {
    if (ctx.processedCount <= 0) return;
    // The estimate is only ever shown on the status line: with no terminal to draw it on, the
    // clock is not read for it.
    if (!ctx.console.IsTerminal()) return;
    const TDateTime now = ctx.Now();
    const TDateTime estimatedEnd = ctx.loadStartTime + (now - ctx.loadStartTime) /
                                                           ctx.processedCount * ctx.totalRecordCount;
    ctx.remainingTime = estimatedEnd - ctx.Now();
    char counts[48];
    std::snprintf(counts, sizeof counts, "%d / %d / ", ctx.processedCount, ctx.totalRecordCount);
    ctx.console.ShowStatus(std::string(counts) + RemainingTimeText(ctx.remainingTime));
}

// A write of the output failed because its disk, its quota or the file size limit is full:
// every later record would fail the same way.
bool IsOutOfSpace(const std::string& message) {
    for (int code : {ENOSPC, EFBIG, EDQUOT})
        if (message == "THXSmartDBF: " + TEnv::ErrorText(code)) return true;
    return false;
}

// The length of a text up to its first zero byte (where a text field's value ends), without
// its trailing blanks.
std::size_t TrimmedLength(std::string_view s) {
    std::size_t n = std::min(s.find('\0'), s.size());
    while (n > 0 && s[n - 1] == ' ') --n;
    return n;
}

// Copies the current source record into a new output record; a failure cancels the record.
void TransferRecord(MergeContext& ctx, THXDBFNTX& src, THXDBFNTX& out, std::vector<FieldPair>& pairs,
                    std::string& value, const std::string& pathAnsi) {
    ++ctx.processedCount;
    ++ctx.loadedCount;
    out.Append();  // outside the guard: a failure here ends the run
    try {
        out.Edit();
        for (FieldPair& p : pairs) {
            try {
                p.source->GetAsString(value);
                // Bytes go through the output's ANSI-to-OEM translation unchanged when they
                // are first given the inverse one.
                if (p.bytes && ctx.oem && !value.empty()) OemToCharBuffA(value.data(), value.data(), value.size());
                if (p.checkCut && TrimmedLength(value) > static_cast<std::size_t>(p.output->Size())) ++p.cut;
                p.output->SetAsString(value);
            } catch (const std::exception&) {
                ctx.Log(Ansi("  Нет поля или невозможно установить значение: ") + p.output->FieldName() +
                        Ansi(" / запись ") + std::to_string(src.RecNo()) + " / " + value);
                ctx.failureLogged = true;
            }
        }
        out.Post();
    } catch (const std::exception& e) {
        const std::string message = e.what();
        ++ctx.errorCount;
        --ctx.loadedCount;
        out.Cancel();
        if (IsOutOfSpace(message)) {
            ctx.stopMessage = EngineText(e);
            return;
        }
        ctx.Log(Ansi("Ошибка вставки строки из файла: ") + pathAnsi + " / " + EngineText(e));
        ctx.failureLogged = true;
    }
}

}  // namespace

std::string RemainingTimeText(TDateTime remaining) {
    if (!(remaining > 0)) return TimeToStr(0);
    if (remaining < 1) return TimeToStr(remaining);
    const long long seconds = std::llround(remaining * 86400.0);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%lld%c%02lld%c%02lld", seconds / 3600,
                  FormatSettings().TimeSeparator, seconds / 60 % 60, FormatSettings().TimeSeparator,
                  seconds % 60);
    return buf;
}

bool CreateOutput(MergeContext& ctx, MergeTables& tables) {
    THXDBFNTX& out = *tables.output;
    const std::string nameAnsi = FileNameToAnsi(out.DBFFileName());
    ctx.Log(kRule);
    ctx.Log(Ansi("Создаем чистый файл: ") + nameAnsi);
    ctx.Say("");
    ctx.SayName(Ansi("Создаем чистый файл: "), out.DBFFileName());
    // The memo file creation may write: removed again when creation fails, unless it was there.
    const std::string memoPath = MemoFileNameFor(out.DBFFileName(), 0x8B, xBaseIV);
    const bool memoExisted = ctx.env.PathKind(memoPath) != TPathKind::None;
    try {
        out.CreateTable();
    } catch (const std::exception& e) {
        ctx.Log(Ansi("Ошибка создания чистого файла: ") + nameAnsi + " / " + EngineText(e));
        const THXDBFFieldDefs& defs = out.DBFFieldDefs();
        for (int i = 0; i < defs.Count(); ++i) {
            const THXDBFFieldDef& d = defs[i];
            ctx.Log("   " + d.Name());
            ctx.Log(std::string("   ") + d.field_type());
            ctx.Log("   " + std::to_string(d.len()));
            ctx.Log("   " + std::to_string(d.dec()));
            ctx.Log("   ---");
        }
        // No broken table is left behind.
        ctx.RemoveOutput();
        if (!memoExisted) ctx.env.DeleteFile(memoPath);
        ctx.failureLogged = true;
        ctx.SaveLog();
        return false;
    }
    ctx.Log(kRule);
    out.Open();  // outside the guard: a failure here ends the run
    ctx.Say(Ansi("Начинаем загрузку"));
    ctx.loadStartTime = ctx.Now();
    return true;
}

void TransferRecords(MergeContext& ctx, MergeTables& tables) {
    THXDBFNTX& out = *tables.output;
    THXDBFNTX& src = *tables.source;
    std::vector<SourceField> fields;
    std::vector<FieldPair> pairs;
    std::string value;
    value.reserve(256);
    for (const std::string& path : ctx.fileList) {
        if (ctx.Stopped()) return;
        const std::string pathAnsi = FileNameToAnsi(path);
        src.SetActive(false);
        src.DBFFieldDefs().Clear();
        src.SetDBFFileName(path);
        try {
            ctx.Log(Ansi("Открытие файла: ") + pathAnsi);
            ctx.SayNamePart(Ansi(" загрузка файла: "), FileNamePart(path));
            src.SetActive(true);
        } catch (const std::exception& e) {
            ctx.Log(Ansi("Ошибка открытия файла: ") + pathAnsi + " / " + EngineText(e));
            ctx.failureLogged = true;
            ++ctx.openFailures;
        }
        if (!src.Active()) continue;

        ctx.Log(Ansi("   Загрузка записей: ") + std::to_string(src.RecordCount()));
        // Each source field with the output field of its identity; fields left out of the
        // structure (blank names, kinds without user data) are left out here too.
        ListSourceFields(src, fields, ctx.oem);
        pairs.clear();
        bool hasMemo = false;
        for (const SourceField& f : fields) {
            if (!f.field) continue;
            const TFieldType type = f.field->DataType();
            hasMemo = hasMemo || type == ftMemo || type == ftFmtMemo || type == ftBlob || type == ftGraphic ||
                      type == ftParadoxOle;
            const auto it = tables.outputOf.find(IdentityKey(f));
            if (it == tables.outputOf.end()) continue;
            TField* target = out.FindField(it->second);
            if (!target) continue;
            pairs.push_back({f.field, target, CopiesBytes(type), target->DataType() == ftString, 0});
        }
        if (hasMemo && !src.MemoFileOpen()) {
            ctx.Log(Ansi("   Мемо-файл не найден или не читается, мемо-поля загружены пустыми: ") + pathAnsi);
            ctx.failureLogged = true;
        }
        src.First();
        ctx.loadedCount = 0;
        ctx.errorCount = 0;
        const int outBefore = out.RecordCount();
        while (!src.Eof() && !ctx.Stopped()) {
            TransferRecord(ctx, src, out, pairs, value, pathAnsi);
            if (!ctx.stopMessage.empty()) break;
            src.Next();
            ShowProgress(ctx);
        }
        // The output gathers records in its write block: what the source gave goes out now,
        // and the records counted are those the output holds (a failed block write loses the
        // block's records, also those of posts that had succeeded).
        try {
            out.FlushAddBuffer();
        } catch (const std::exception& e) {
            if (!IsOutOfSpace(e.what())) throw;
            if (ctx.stopMessage.empty()) ctx.stopMessage = EngineText(e);
        }
        ctx.loadedCount = std::clamp(out.RecordCount() - outBefore, 0, ctx.loadedCount);
        for (const FieldPair& p : pairs) {
            if (p.cut == 0) continue;
            ctx.Log(Ansi("   Обрезаны значения поля ") + p.output->FieldName() + ": " + std::to_string(p.cut));
            ctx.failureLogged = true;
        }
        ctx.Log(Ansi("   Загружено: ") + std::to_string(ctx.loadedCount) + Ansi(" / ошибки: ") +
                std::to_string(ctx.errorCount));
        ctx.Say(Ansi(" успешо: ") + std::to_string(ctx.loadedCount) + Ansi(" / ошибки: ") +
                std::to_string(ctx.errorCount));
    }
}

void FinishMerge(MergeContext& ctx, MergeTables& tables) {
    // Closing writes the output's header; a full disk may refuse that too.
    try {
        tables.output->Close();
    } catch (const std::exception&) {
        if (ctx.stopMessage.empty()) throw;
    }
    tables.source->Close();
    tables.output.reset();
    tables.source.reset();
    ctx.console.FlushStatus();
    ctx.Say("");
    if (ctx.interruptSignal == 0) ctx.interruptSignal = TInterruptCatcher::Pending();
    if (ctx.interruptSignal != 0) {
        const std::string line = Ansi("Загрузка прервана сигналом ") + TInterruptCatcher::SignalName(ctx.interruptSignal) +
                                 ": " + DateTimeToStr(ctx.Now());
        ctx.Say(line);
        ctx.Log(line);
    } else if (!ctx.stopMessage.empty()) {
        const std::string line = Ansi("Загрузка остановлена, нет места для результирующего файла: ") + ctx.stopMessage;
        ctx.console.WriteErrorLine(ToOem(line));
        ctx.Log(line);
    } else {
        ctx.Say(Ansi("Процесс объединения DBF файлов завершен!"));
    }
    if (ctx.openFailures > 0) ctx.Say(Ansi("Не удалось открыть файлов: ") + std::to_string(ctx.openFailures));
    FinishRun(ctx);
}

}  // namespace zarbel
