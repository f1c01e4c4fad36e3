// Creation of the output, record transfer with the progress line, and the finish.
#include <cmath>
#include <cstdio>
#include <exception>
#include <vector>

#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/locale.h"
#include "tool/merge_tables.h"

namespace zarbel {

namespace {

const char* const kRule = "___________________________________________";

// One source field and the output field of the same name (null when the output has none).
struct FieldPair {
    TField* source;
    TField* output;
    std::string outputName;
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

// Copies the current source record into a new output record; a failure cancels the record.
void TransferRecord(MergeContext& ctx, THXDBFNTX& out, std::vector<FieldPair>& pairs,
                    std::string& value, const std::string& pathAnsi) {
    ++ctx.processedCount;
    ++ctx.loadedCount;
    out.Append();  // outside the guard: a failure here ends the run
    try {
        out.Edit();
        for (FieldPair& p : pairs) {
            try {
                p.source->GetAsString(value);
                TField& target = p.output ? *p.output : out.FieldByName(p.outputName);
                target.SetAsString(value);
            } catch (const std::exception&) {
                // The line names the output field's current value; with no such field the line
                // cannot be built, and the whole record fails.
                TField& target = p.output ? *p.output : out.FieldByName(p.outputName);
                ctx.Log(Ansi("  Нет поля или невозможно установить значение: ") + target.AsString());
                ctx.failureLogged = true;
            }
        }
        out.Post();
    } catch (const std::exception& e) {
        ++ctx.errorCount;
        --ctx.loadedCount;
        out.Cancel();
        ctx.Log(Ansi("Ошибка вставки строки из файла: ") + pathAnsi + " / " + e.what());
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
    try {
        out.CreateTable();
    } catch (const std::exception& e) {
        ctx.Log(Ansi("Ошибка создания чистого файла: ") + nameAnsi + " / " + e.what());
        const THXDBFFieldDefs& defs = out.DBFFieldDefs();
        for (int i = 0; i < defs.Count(); ++i) {
            const THXDBFFieldDef& d = defs[i];
            ctx.Log("   " + d.Name());
            ctx.Log(std::string("   ") + d.field_type());
            ctx.Log("   " + std::to_string(d.len()));
            ctx.Log("   " + std::to_string(d.dec()));
            ctx.Log("   ---");
        }
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
    std::vector<FieldPair> pairs;
    std::string value;
    value.reserve(256);
    for (const std::string& path : ctx.fileList) {
        const std::string pathAnsi = FileNameToAnsi(path);
        src.SetActive(false);
        src.DBFFieldDefs().Clear();
        src.SetDBFFileName(path);
        try {
            ctx.Log(Ansi("Открытие файла: ") + pathAnsi);
            ctx.SayNamePart(Ansi(" загрузка файла: "), FileNamePart(path));
            src.SetActive(true);
        } catch (const std::exception& e) {
            ctx.Log(Ansi("Ошибка открытия файла: ") + pathAnsi + " / " + e.what());
            ctx.failureLogged = true;
        }
        if (!src.Active()) continue;

        ctx.Log(Ansi("   Загрузка записей: ") + std::to_string(src.RecordCount()));
        // Each source field with the output field of the same name (in the output's form).
        pairs.clear();
        // A field with a blank name was left out of the structure, so its values have no place
        // in the output; it is left out here too instead of failing every record of the source.
        for (int i = 0; i < src.FieldCount(); ++i) {
            TField& f = src.Fields()[i];
            if (Trim(f.FieldName()).empty()) continue;
            std::string outName = OutputFieldName(f.FieldName(), ctx.oem);
            pairs.push_back({&f, out.FindField(outName), std::move(outName)});
        }
        src.First();
        ctx.loadedCount = 0;
        ctx.errorCount = 0;
        while (!src.Eof()) {
            TransferRecord(ctx, out, pairs, value, pathAnsi);
            src.Next();
            ShowProgress(ctx);
        }
        ctx.Log(Ansi("   Загружено: ") + std::to_string(ctx.loadedCount) + Ansi(" / ошибки: ") +
                std::to_string(ctx.errorCount));
        ctx.Say(Ansi(" успешо: ") + std::to_string(ctx.loadedCount) + Ansi(" / ошибки: ") +
                std::to_string(ctx.errorCount));
    }
}

void FinishMerge(MergeContext& ctx, MergeTables& tables) {
    tables.output->Close();
    tables.source->Close();
    tables.output.reset();
    tables.source.reset();
    ctx.console.FlushStatus();
    ctx.Say("");
    ctx.Say(Ansi("Процесс объединения DBF файлов завершен!"));
    FinishRun(ctx);
}

}  // namespace zarbel
