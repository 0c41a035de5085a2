// Stands in for the system's boot-configuration tool in tests and demos. It changes nothing: it
// records the command line it was given and writes what its environment tells it to, as raw
// bytes, to its standard output.
//
//   KV_STANDIN_LOG       file that gets each command line as one UTF-8 line
//   KV_STANDIN_INFO      file that gets "show=<n> std=<0|1> console=<c> cwd=<folder>" for
//                        each start; <c> is "none" without a console, "own" when no other
//                        process is attached to it (a console made for this start), "shared"
//                        when others are (the console of whoever started it)
//   KV_STANDIN_MODE      success-fr (default) | denied | success-en | silent | no-final-newline |
//                        long-line | boundary-lines | invalid-utf8 | large | one-line | utf16 |
//                        echo
//   KV_STANDIN_OUTPUT    exact output instead of the mode's, with \r \n \\ and \xHH escapes
//   KV_STANDIN_STDERR    output for standard error, same escapes
//   KV_STANDIN_DELAY_MS  pause before the first line and after each line
//   KV_STANDIN_EXIT      exit code
//   KV_STANDIN_BYTES     size of the large output (10 MiB by default), or how many units the
//                        one line has
//   KV_STANDIN_UNIT      the one line's unit ("l" by default), KV_STANDIN_TAIL what follows it
//                        ("\n" by default), both with the escapes of KV_STANDIN_OUTPUT
//   KV_STANDIN_PAUSE_AT  a byte offset of the output where the stand-in pauses for half a second
//   KV_STANDIN_SIGNAL    a handle value (decimal) that the stand-in tries to signal as an event,
//                        to show whether it inherited that handle
//   KV_STANDIN_STATE     file that keeps the policy word of "/set {Default} bootmenupolicy <w>"
//   KV_STANDIN_LIFETIME_MS  the longest it runs (30 s by default), so that a test waiting for
//                        it, or an echo on an input nobody closes, never waits for ever
#include "large_output.h"
#include "support/utf8.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

using driver::Utf8;

std::wstring Variable(const wchar_t* name) {
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    return length && length < 32768 ? std::wstring(buffer, length) : std::wstring();
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    return -1;
}

// Escapes give any byte; other characters are written in UTF-8.
std::string Unescape(const std::wstring& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'\\' || i + 1 == text.size()) {
            bytes += Utf8(std::wstring(1, text[i]));
            continue;
        }
        const wchar_t code = text[++i];
        if (code == L'r') {
            bytes += '\r';
        } else if (code == L'n') {
            bytes += '\n';
        } else if (code == L'x' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
                   HexDigit(text[i + 2]) >= 0) {
            bytes += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            bytes += Utf8(std::wstring(1, code));
        }
    }
    return bytes;
}

void WriteAll(HANDLE target, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 65536));
        DWORD written = 0;
        if (!WriteFile(target, bytes.data() + done, piece, &written, nullptr) || !written) {
            return; // the reader has gone
        }
        done += written;
    }
}

void AppendToFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        WriteAll(file, bytes);
        CloseHandle(file);
    }
}

void ReplaceFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        WriteAll(file, bytes);
        CloseHandle(file);
    }
}

// The command line after the program's own name.
std::wstring Arguments() {
    const wchar_t* line = GetCommandLineW();
    if (*line == L'"') {
        line = std::wcschr(line + 1, L'"');
        line = line ? line + 1 : L"";
    } else {
        while (*line && *line != L' ' && *line != L'\t') {
            ++line;
        }
    }
    while (*line == L' ' || *line == L'\t') {
        ++line;
    }
    return line;
}

void RememberPolicy(const std::wstring& state_file) {
    const std::wstring prefix = L"/set {Default} bootmenupolicy ";
    const std::wstring arguments = Arguments();
    if (arguments.compare(0, prefix.size(), prefix) == 0) {
        ReplaceFile(state_file, Utf8(arguments.substr(prefix.size())));
    }
}

// A console that only this process is attached to was made for it; one that others are attached
// to is its parent's.
const char* ConsoleKind() {
    DWORD attached[2] = {};
    const DWORD count = GetConsoleProcessList(attached, 2);
    return count == 0 ? "none" : count == 1 ? "own" : "shared";
}

void RecordStart() {
    const std::wstring log = Variable(L"KV_STANDIN_LOG");
    if (!log.empty()) {
        AppendToFile(log, Utf8(GetCommandLineW()) + "\n");
    }
    const std::wstring info = Variable(L"KV_STANDIN_INFO");
    if (!info.empty()) {
        STARTUPINFOW startup{.cb = sizeof(STARTUPINFOW)};
        GetStartupInfoW(&startup);
        wchar_t folder[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, folder);
        const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
        const int redirected = (startup.dwFlags & STARTF_USESTDHANDLES) ? 1 : 0;
        AppendToFile(info, "show=" + std::to_string(show) + " std=" + std::to_string(redirected) +
                               " console=" + ConsoleKind() + " cwd=" + Utf8(folder) + "\n");
    }
}

// What a French system's tool writes, in the console's OEM code page 850 ("é" is 0x82, "è" is
// 0x8A): not valid UTF-8.
constexpr char kSuccessFrench[] = "L'op\x82ration a r\x82ussi.\r\n";
constexpr char kDeniedFrench[] = "Une erreur s'est produite lors de la tentative de r\x82"
                                 "f\x82rencement du magasin de "
                                 "donn\x82"
                                 "es de configuration de d\x82marrage sp\x82"
                                 "cifi\x82.\r\nAcc\x8As refus\x82."
                                 "\r\n";
constexpr char kSuccessEnglish[] = "The operation completed successfully.\r\n";

std::string ModeOutput(const std::wstring& mode) {
    if (mode.empty() || mode == L"success-fr") {
        return kSuccessFrench;
    }
    if (mode == L"denied") {
        return kDeniedFrench;
    }
    if (mode == L"success-en") {
        return kSuccessEnglish;
    }
    if (mode == L"no-final-newline") {
        return "Mise \x85 jour\r\nL'op\x82ration a r\x82ussi.";
    }
    if (mode == L"long-line") {
        std::string line;
        for (size_t i = 0; i < 9000; ++i) {
            line.push_back(static_cast<char>('A' + i % 26));
        }
        return line + " ussi\r\n";
    }
    if (mode == L"invalid-utf8") {
        return "ab\xFF\xFE"
               "cd\xC3(\x82ussi\r\n";
    }
    const std::wstring bytes = Variable(L"KV_STANDIN_BYTES");
    const size_t size =
        bytes.empty() ? standin::kLargeDefaultBytes : std::wcstoull(bytes.c_str(), nullptr, 10);
    if (mode == L"large") {
        return standin::LargeOutput(size);
    }
    if (mode == L"one-line") {
        const std::wstring unit = Variable(L"KV_STANDIN_UNIT");
        const std::wstring tail = Variable(L"KV_STANDIN_TAIL");
        const std::string piece = unit.empty() ? "l" : Unescape(unit);
        std::string line;
        line.reserve(size * piece.size() + 16);
        for (size_t i = 0; i < size; ++i) {
            line += piece;
        }
        return line + (tail.empty() ? "\n" : Unescape(tail));
    }
    if (mode == L"boundary-lines") {
        return standin::BoundaryLines();
    }
    if (mode == L"utf16") {
        const std::wstring text = L"Op\u00e9ration r\u00e9ussie\r\n\u20ac\n";
        return std::string(reinterpret_cast<const char*>(text.data()),
                           text.size() * sizeof(wchar_t));
    }
    return {}; // silent, and anything unknown
}

// Copies standard input to standard output until its end.
void Echo() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(input, buffer, sizeof(buffer), &got, nullptr) && got) {
        WriteAll(output, std::string(buffer, got));
    }
}

// Writes line by line when a pause is asked for, so that the reader sees the output arrive; or
// pauses once, at a given byte.
void WriteOutput(const std::string& bytes, DWORD delay_ms, size_t pause_at) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (pause_at && pause_at < bytes.size()) {
        WriteAll(output, bytes.substr(0, pause_at));
        Sleep(500);
        WriteAll(output, bytes.substr(pause_at));
        return;
    }
    if (!delay_ms) {
        WriteAll(output, bytes);
        return;
    }
    Sleep(delay_ms);
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find('\n', start);
        const size_t stop = end == std::string::npos ? bytes.size() : end + 1;
        WriteAll(output, bytes.substr(start, stop - start));
        Sleep(delay_ms);
        start = stop;
    }
}

} // namespace

int wmain() {
    const std::wstring lifetime = Variable(L"KV_STANDIN_LIFETIME_MS");
    static DWORD lifetime_ms =
        lifetime.empty() ? 30000 : std::wcstoul(lifetime.c_str(), nullptr, 10);
    CreateThread(
        nullptr, 0,
        [](void*) -> DWORD {
            Sleep(lifetime_ms);
            ExitProcess(124);
        },
        nullptr, 0, nullptr);
    RecordStart();
    const std::wstring signal = Variable(L"KV_STANDIN_SIGNAL");
    if (!signal.empty()) {
        SetEvent(reinterpret_cast<HANDLE>(std::wcstoull(signal.c_str(), nullptr, 10)));
    }
    const std::wstring state_file = Variable(L"KV_STANDIN_STATE");
    if (!state_file.empty()) {
        RememberPolicy(state_file);
    }
    const std::wstring mode = Variable(L"KV_STANDIN_MODE");
    const DWORD delay_ms =
        static_cast<DWORD>(std::wcstoul(Variable(L"KV_STANDIN_DELAY_MS").c_str(), nullptr, 10));
    const std::wstring errors = Variable(L"KV_STANDIN_STDERR");
    if (!errors.empty()) {
        WriteAll(GetStdHandle(STD_ERROR_HANDLE), Unescape(errors));
    }
    if (mode == L"echo") {
        Echo();
    } else {
        const std::wstring exact = Variable(L"KV_STANDIN_OUTPUT");
        const size_t pause_at =
            std::wcstoull(Variable(L"KV_STANDIN_PAUSE_AT").c_str(), nullptr, 10);
        WriteOutput(exact.empty() ? ModeOutput(mode) : Unescape(exact), delay_ms, pause_at);
    }
    return static_cast<int>(std::wcstol(Variable(L"KV_STANDIN_EXIT").c_str(), nullptr, 10));
}
