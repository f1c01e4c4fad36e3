#include "platform/console.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#include "platform/codepage.h"

namespace zarbel {

namespace {

// The character set of a locale name ("ru_RU.CP866@x" -> "cp866"): the part after '.', up to
// '@', lower-cased, without dashes and underscores.
std::string Charset(std::string_view value) {
    std::size_t dot = value.find('.');
    if (dot == std::string_view::npos) return {};
    std::string_view cs = value.substr(dot + 1);
    std::size_t at = cs.find('@');
    if (at != std::string_view::npos) cs = cs.substr(0, at);
    std::string norm;
    for (char c : cs) {
        if (c == '-' || c == '_') continue;
        norm.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c);
    }
    return norm;
}

}  // namespace

ConsoleEncoding ConsoleEncodingFromLocale(const char* lcAll, const char* lcCtype, const char* lang) {
    for (const char* v : {lcAll, lcCtype, lang}) {
        if (v == nullptr || *v == '\0') continue;
        const std::string cs = Charset(v);
        return cs == "cp866" || cs == "ibm866" ? ConsoleEncoding::Oem : ConsoleEncoding::Utf8;
    }
    return ConsoleEncoding::Utf8;
}

ConsoleEncoding ConsoleEncodingFromEnvironment() {
    return ConsoleEncodingFromLocale(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
}

Console::Console() : Console(STDOUT_FILENO, STDERR_FILENO) {}

Console::Console(int outFd, int errFd)
    : outFd_(outFd), errFd_(errFd), encoding_(ConsoleEncodingFromEnvironment()), isTerminal_(false), detectTerminal_(true) {}

Console::Console(int outFd, int errFd, ConsoleEncoding encoding, bool isTerminal)
    : outFd_(outFd), errFd_(errFd), encoding_(encoding), isTerminal_(isTerminal), detectTerminal_(false) {}

Console::~Console() { FlushStatus(); }

void Console::InitConsole() {
    if (detectTerminal_) isTerminal_ = isatty(outFd_) == 1;
    initialized_ = true;
}

void Console::WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // a console that cannot be written to loses the text, nothing else
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string Console::Encode(std::string_view oem) const {
    return encoding_ == ConsoleEncoding::Utf8 ? OemToUtf8(oem) : std::string(oem);
}

void Console::Write(std::string_view oem) {
    if (pending_) FlushStatus();
    WriteAll(outFd_, Encode(oem));
}

void Console::WriteLine(std::string_view oem) {
    if (pending_) FlushStatus();
    std::string bytes = Encode(oem);
    bytes.push_back('\n');
    WriteAll(outFd_, bytes);
}

void Console::WriteWithName(std::string_view oemBefore, std::string_view nameBytes, std::string_view oemAfter,
                            bool lineBreak) {
    if (pending_) FlushStatus();
    std::string bytes = Encode(oemBefore);
    if (encoding_ == ConsoleEncoding::Utf8 && IsValidUtf8(nameBytes)) bytes += nameBytes;
    else bytes += Encode(AnsiToOemShown(FileNameToAnsi(nameBytes)));
    bytes += Encode(oemAfter);
    if (lineBreak) bytes.push_back('\n');
    WriteAll(outFd_, bytes);
}

void Console::WriteErrorLine(std::string_view oem) {
    std::string bytes = Encode(oem);
    bytes.push_back('\n');
    WriteAll(errFd_, bytes);
}

std::string Console::StatusBytes(std::string_view ansiText) const {
    std::string bytes;
    bytes += "\x1b" "7";           // save cursor (and attributes)
    bytes += "\x1b[1;1H";          // row 0, column 0
    bytes += "\x1b[97;101m";       // bright white on bright red
    bytes += encoding_ == ConsoleEncoding::Utf8 ? AnsiToUtf8(ansiText) : std::string(ansiText);
    bytes += "\x1b[0m";            // the cell after the text: plain
    bytes += ' ';
    bytes += "\x1b" "8";           // restore cursor
    return bytes;
}

void Console::DrawStatus(std::string_view ansiText) {
    const std::string bytes = StatusBytes(ansiText);
    WriteAll(outFd_, bytes);
    lastDraw_ = std::chrono::steady_clock::now();
    drawnOnce_ = true;
    pending_ = false;
    pendingText_.clear();
}

void Console::ShowStatus(std::string_view ansiText) {
    if (!initialized_ || !isTerminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!drawnOnce_ || now - lastDraw_ >= statusInterval_) {
        DrawStatus(ansiText);
    } else {
        pendingText_.assign(ansiText);
        pending_ = true;
    }
}

void Console::FlushStatus() {
    if (!pending_) return;
    DrawStatus(pendingText_);
}

}  // namespace zarbel
