// The run driver: parameter checks, start, scan; then the phases of tool/merge_phases.cpp.
#include "tool/zarbel.h"

#include <exception>

#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/env.h"
#include "platform/signals.h"
#include "tool/scan.h"
#include "tool/zDirFunc.h"
#include "tool/zStrings.h"

namespace zarbel {

std::string Ansi(std::string_view utf8) { return Utf8ToAnsi(utf8); }

std::string EngineText(const std::exception& e) { return FileNameToAnsi(e.what()); }

bool MergeContext::Stopped() const { return interruptSignal != 0 || !stopMessage.empty() || TInterruptCatcher::Pending(); }

TDateTime MergeContext::Now() const { return options.clock ? options.clock() : env.Now(); }

void MergeContext::Say(std::string_view ansi) { console.WriteLine(ToOem(ansi)); }

void MergeContext::SayPart(std::string_view ansi) { console.Write(ToOem(ansi)); }

void MergeContext::SayName(std::string_view ansiBefore, std::string_view nameBytes, std::string_view ansiAfter) {
    console.WriteWithName(ToOem(ansiBefore), nameBytes, ToOem(ansiAfter), true);
}

void MergeContext::SayNamePart(std::string_view ansiBefore, std::string_view nameBytes, std::string_view ansiAfter) {
    console.WriteWithName(ToOem(ansiBefore), nameBytes, ToOem(ansiAfter), false);
}

void MergeContext::SaveLog() {
    if (logSaved || logSaveFailed) return;
    const std::string name = LoadLogFileName(startTag);
    const std::string appDir = options.appDir.empty() ? AddBackslash(env.ProgramDirectory()) : AddBackslash(options.appDir);
    const std::string primary = appDir + name;
    std::string error;
    if (log.Save(env, primary, error)) {
        logSaved = true;
        return;
    }
    std::string failures = FileNameToAnsi(primary) + " / " + FileNameToAnsi(error);
    const std::string fallbackDir =
        options.fallbackDir.empty() ? env.CurrentDirectory() : AddBackslash(options.fallbackDir);
    const std::string fallback = fallbackDir + name;
    if (fallback != primary) {
        std::string error2;
        if (log.Save(env, fallback, error2)) {
            logSaved = true;
            SayName(Ansi("Лог загрузки записан в "), fallback);
            return;
        }
        failures += "; " + FileNameToAnsi(fallback) + " / " + FileNameToAnsi(error2);
    }
    logSaveFailed = true;
    console.WriteErrorLine(ToOem(Ansi("Невозможно записать лог загрузки: ") + failures));
    for (const std::string& line : log.Lines()) console.WriteErrorLine(ToOem(line));
}

namespace {

void PrintUsage(MergeContext& ctx) {
    ctx.Say(Ansi("Объединение DBF файлов."));
    ctx.Say("");
    ctx.Say(Ansi("ZARBEL.EXE [диск:]путь до DBF файлов [диск:]путь до нового DBF файла [-oem,win]"));
    ctx.Say(Ansi(" -oem использовать Dos кодировку"));
    ctx.Say(Ansi(" -win использовать Win кодировку"));
    ctx.Say("");
    ctx.Say(Ansi("Пример:"));
    ctx.console.WriteLine("   ZARBEL.EXE C:\\dbffiles\\ C:\\all.dbf -win");  // written without conversion
}

// --help and -h: the usage text, then what the exit statuses mean.
void PrintHelp(MergeContext& ctx) {
    PrintUsage(ctx);
    ctx.Say("");
    ctx.Say(Ansi("Коды завершения: 0 готово, 1 ошибки записаны в лог, 2 ошибка параметров, "
                 "3 аварийное завершение, 128+N прервано сигналом N."));
}

// The console text of a refused output path (followed by the path), or null.
const char* GuardRefusal(OutputGuard::Result r) {
    switch (r) {
        case OutputGuard::kBusy: return "Результирующий DBF файл занят другим процессом объединения: ";
        case OutputGuard::kInUse: return "Результирующий DBF файл открыт другой программой: ";
        case OutputGuard::kNotATable: return "Результирующий файл не является DBF таблицей, удалять его нельзя: ";
        case OutputGuard::kMemoPath: return "Результирующий DBF файл совпадает со своим мемо-файлом: ";
        default: return nullptr;
    }
}

// Steps 1 to 13; then the later phases.
int Run(const std::vector<std::string>& args, MergeContext& ctx) {
    auto param = [&](std::size_t i) { return i < args.size() ? args[i] : std::string(); };

    // The parameters. The conventions of Linux programs come first: a directory named like
    // one of them is reached as "./--help".
    if (param(0).empty()) {
        PrintUsage(ctx);
        return kExitOk;
    }
    if (param(0) == "--help" || param(0) == "-h") {
        PrintHelp(ctx);
        return kExitOk;
    }
    if (param(0) == "--version") {
        ctx.console.WriteLine("zarbel " ZARBEL_VERSION);
        return kExitOk;
    }
    ctx.sourceDir = param(0);
    ctx.outputPath = param(1);
    if (!ctx.env.DirectoryExists(ctx.sourceDir)) {
        ctx.SayName(Ansi("Проверьте параметры. Директория  ["), ctx.sourceDir, Ansi("] не существует"));
        return kExitParameterError;
    }
    if (Trim(ctx.outputPath).empty()) {
        ctx.Say(Ansi("Проверьте параметры. Не указан результирующий DBF файл"));
        return kExitParameterError;
    }
    // code-page switch.
    ctx.oem = true;
    const std::string mode = Trim(FileNameToAnsi(param(2)));
    if (!mode.empty() && AnsiUpperCase(mode) == "-WIN") ctx.oem = false;
    // Anything but the two switches still means OEM, as it always has; a mistyped switch
    // ("-wim", "/win") is said so, on standard error only.
    if (!mode.empty() && AnsiUpperCase(mode) != "-WIN" && AnsiUpperCase(mode) != "-OEM")
        ctx.console.WriteErrorLine(ToOem(Ansi("Неизвестный ключ [") + mode + Ansi("], используется Dos кодировка (-oem)")));

    try {
        // The start tag names the load log.
        ctx.startTag = MakeStartTag(DateTimeToStr(ctx.Now()));
        ctx.Log(Ansi("Дата и время начала загрузки: ") + DateTimeToStr(ctx.Now()));
        try {
            // The console and the opening lines.
            ctx.console.InitConsole();
            ctx.Say(Ansi("Начинаем процесс объединения..."));
            ctx.SayName(Ansi(" Директория в DBF файлами: "), ctx.sourceDir);
            ctx.SayName(Ansi(" Результирующий DBF файл: "), ctx.outputPath);
            ctx.Say("");
            ctx.Say(Ansi("Сканирование директории..."));
            ctx.Log(Ansi("Сканирование директории: ") + FileNameToAnsi(ctx.sourceDir));
            // the old output goes first, so it is never taken for a source. It is replaced
            // by this run's guarded placeholder, and only when it is a table (or absent).
            if (const char* refusal = GuardRefusal(ctx.guard.Acquire(ctx.outputPath))) {
                ctx.SayName(Ansi(refusal), ctx.outputPath);
                ctx.console.WriteErrorLine(ToOem(Ansi(refusal) + FileNameToAnsi(ctx.outputPath)));
                return kExitParameterError;
            }
            // scan.
            ctx.fileList.clear();
            const FileIdentity* output = ctx.guard.Held() ? &ctx.guard.Identity() : nullptr;
            if (ScanDirectory(AddBackslash(ctx.sourceDir), ctx.fileList, ctx.log, output, ctx.env) > 0)
                ctx.failureLogged = true;
            // nothing found.
            if (ctx.fileList.empty() && !ctx.Stopped()) {
                ctx.RemoveOutput();
                const std::string none = Ansi("Нет файлов для загрузки!");
                ctx.Say(none);
                ctx.Log(none);
                ctx.Log(Ansi("Дата и время окончания загрузки: ") + DateTimeToStr(ctx.Now()));
                ctx.SaveLog();
                return ctx.logSaveFailed ? kExitAborted : ctx.failureLogged ? kExitFailuresLogged : kExitOk;
            }
            ctx.Say(Ansi("Найдено ") + std::to_string(ctx.fileList.size()) + Ansi(" DBF файлов"));
            // Union, creation, transfer and the closing lines.
            RunMergePhases(ctx);
            if (!ctx.logSaved) ctx.SaveLog();
        } catch (const std::exception& e) {
            // An unexpected failure: reported, put into the log, and the log is still saved.
            ctx.console.WriteErrorLine(ToOem(Ansi("Аварийное завершение: ") + EngineText(e)));
            ctx.Log(Ansi("Аварийное завершение: ") + EngineText(e));
            ctx.SaveLog();
            return kExitAborted;
        }
    } catch (const std::exception& e) {
        ctx.console.WriteErrorLine(ToOem(Ansi("Аварийное завершение: ") + EngineText(e)));
        return kExitAborted;
    }
    if (ctx.interruptSignal != 0) return 128 + ctx.interruptSignal;
    if (ctx.logSaveFailed || !ctx.stopMessage.empty()) return kExitAborted;
    return ctx.failureLogged ? kExitFailuresLogged : kExitOk;
}

}  // namespace

int RunMerge(const std::vector<std::string>& args, Console& console, MergeOptions options) {
    TInterruptCatcher interrupts;
    MergeContext ctx(console, std::move(options));
    try {
        return Run(args, ctx);
    } catch (const std::exception& e) {
        console.WriteErrorLine(ToOem(Ansi("Аварийное завершение: ") + e.what()));
        return kExitAborted;
    }
}

}  // namespace zarbel
