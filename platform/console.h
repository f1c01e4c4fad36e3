// The console of the host: line output in the console's encoding, and one status line drawn
// at the top-left corner of a terminal without moving the cursor of the line output.
#pragma once
#include <chrono>
#include <string>
#include <string_view>

namespace zarbel {

// How the console shows characters: UTF-8, or the OEM code page (CP866) byte for byte.
enum class ConsoleEncoding { Oem, Utf8 };

// The first non-empty of LC_ALL, LC_CTYPE and LANG decides: its character set (the part after
// '.', up to '@', any case, dashes and underscores ignored) being CP866 or IBM866 means Oem;
// any other, none, and no value at all mean Utf8 (a terminal today shows UTF-8). Null pointers
// count as empty.
ConsoleEncoding ConsoleEncodingFromLocale(const char* lcAll, const char* lcCtype, const char* lang);
ConsoleEncoding ConsoleEncodingFromEnvironment();

class Console {
public:
    // Standard output and standard error, encoding from the environment.
    Console();
    // Given descriptors, encoding from the environment; InitConsole asks whether the output is
    // a terminal.
    Console(int outFd, int errFd);
    // Given descriptors (tests, redirection): output, errors, encoding, and whether the output
    // is to be treated as a terminal for the status line.
    Console(int outFd, int errFd, ConsoleEncoding encoding, bool isTerminal);
    ~Console();  // draws a status still pending
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Takes the output handle for the status line; until then ShowStatus draws nothing.
    void InitConsole();

    ConsoleEncoding Encoding() const { return encoding_; }
    bool IsTerminal() const { return isTerminal_; }

    // OEM text (CP866): written as it is on an OEM console, converted to UTF-8 on a UTF-8 one.
    // Every call is flushed (written straight to the descriptor).
    void Write(std::string_view oem);
    void WriteLine(std::string_view oem);
    void WriteErrorLine(std::string_view oem);
    // OEM text around a file name given by its bytes. On a UTF-8 console a name that is valid
    // UTF-8 is written as it is, so every character of it shows; otherwise the name is shown
    // in the OEM code page (through CP1251, '?' for what the code pages lack).
    void WriteWithName(std::string_view oemBefore, std::string_view nameBytes, std::string_view oemAfter,
                       bool lineBreak);

    // Status line: ANSI text drawn at row 0, column 0 followed by one blank cell, bright white
    // on bright red over the text's cells; the cursor is saved before and restored after.
    // Only when the output is a terminal. Redrawn at most once per StatusInterval; a text that
    // arrives sooner is kept and drawn by the next call, by FlushStatus, before the next line
    // output, or at destruction, so the last state is always drawn.
    void ShowStatus(std::string_view ansiText);
    void FlushStatus();
    void SetStatusInterval(std::chrono::milliseconds interval) { statusInterval_ = interval; }
    std::chrono::milliseconds StatusInterval() const { return statusInterval_; }

    // The bytes one status drawing writes (exposed for tests).
    std::string StatusBytes(std::string_view ansiText) const;

private:
    void WriteAll(int fd, std::string_view bytes);
    std::string Encode(std::string_view oem) const;
    void DrawStatus(std::string_view ansiText);

    int outFd_;
    int errFd_;
    ConsoleEncoding encoding_;
    bool isTerminal_;
    bool detectTerminal_;
    bool initialized_ = false;
    std::chrono::milliseconds statusInterval_{100};
    std::chrono::steady_clock::time_point lastDraw_{};
    bool drawnOnce_ = false;
    bool pending_ = false;
    std::string pendingText_;
};

}  // namespace zarbel
