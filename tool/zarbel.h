// The run driver of the merge tool: command line, start, scan, and the phases after it.
#pragma once
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/locale.h"
#include "tool/load_log.h"
#include "tool/output_guard.h"

namespace zarbel {

class Console;

// Process exit codes.
enum ExitCode : int {
    kExitOk = 0,              // the run did its job (usage text and "no files" included)
    kExitFailuresLogged = 1,  // the run finished, but a failure was logged (source, record, output)
    kExitParameterError = 2,  // a parameter error; nothing written, no log
    kExitAborted = 3,         // an unexpected failure ended the run, or the log could not be saved
};

struct MergeOptions {
    std::string appDir;       // directory of the load log; empty: AppDir()
    std::string fallbackDir;  // where the log goes when appDir cannot be written; empty: the current directory
    std::function<TDateTime()> clock;  // empty: the environment's clock
    TEnv* env = nullptr;               // the host services of the run; null: TEnv::Default()
};

// Run state shared by the driver and its phases.
struct MergeContext {
    MergeContext(Console& c, MergeOptions o)
        : console(c), options(std::move(o)), env(options.env ? *options.env : TEnv::Default()), guard(env) {}

    Console& console;
    MergeOptions options;
    TEnv& env;

    std::string sourceDir;   // parameter 1, bytes, unchanged
    std::string outputPath;  // parameter 2, bytes, unchanged
    bool oem = true;         // false when parameter 3 is "-WIN"
    std::string startTag;
    LoadLog log;
    std::vector<std::string> fileList;  // full paths (bytes)

    std::int32_t totalRecordCount = 0;
    std::int32_t processedCount = 0;
    std::int32_t loadedCount = 0;
    std::int32_t errorCount = 0;
    TDateTime loadStartTime = 0;
    TDateTime remainingTime = 0;

    bool failureLogged = false;  // set by a phase that logs a failure: the exit code becomes 1
    int openFailures = 0;        // sources that did not open for the transfer
    int interruptSignal = 0;     // the termination request that ended the run, 0 when none
    std::string stopMessage;     // set when the output's disk is full: the run ends at once
    OutputGuard guard;           // the output path, held for the whole run
    bool logSaved = false;
    bool logSaveFailed = false;

    TDateTime Now() const;
    // Console line of ANSI text: converted with ToOem, then written in the console's encoding.
    void Say(std::string_view ansi);
    // The same without a line break (flushed).
    void SayPart(std::string_view ansi);
    // Console line (or part, without the break) with a file name given by its bytes between two
    // ANSI texts: the name shows as the console best can (see Console::WriteWithName).
    void SayName(std::string_view ansiBefore, std::string_view nameBytes, std::string_view ansiAfter = {});
    void SayNamePart(std::string_view ansiBefore, std::string_view nameBytes, std::string_view ansiAfter = {});
    void Log(std::string ansiLine) { log.Add(std::move(ansiLine)); }
    // True once the run is to end early: a termination request came, or the disk is full.
    bool Stopped() const;
    // Removes the output's file when it is still the one this run made (nothing was created,
    // or creation failed).
    void RemoveOutput() { guard.RemoveFile(); }
    // Saves the load log as AppDir + "load_" + tag + ".log"; when that fails, in the fallback
    // directory with one console line saying where it went; when that fails too, the error and
    // the log's lines go to standard error and logSaveFailed is set. Only the first call writes.
    void SaveLog();
};

// UTF-8 source text -> the ANSI (CP1251) bytes the tool's messages are held in.
std::string Ansi(std::string_view utf8);
// An engine failure's message as ANSI text: the file names in it are converted like every
// other path of the log.
std::string EngineText(const std::exception& e);

// Runs the tool on its parameters (argv[1..]); returns the process exit code.
int RunMerge(const std::vector<std::string>& args, Console& console, MergeOptions options = {});

// The phases after the scan (tool/merge_phases.cpp): set-up of the two tables, structure
// union, creation of the output, record transfer and finish. Each end of the run saves the log.
void RunMergePhases(MergeContext& ctx);
// Finish: end line, log saved.
void FinishRun(MergeContext& ctx);

}  // namespace zarbel
