// UTF-8 form of a UTF-16 text, for the tests' files and logs and for the stand-in tool's
// output; header-only, so that the stand-in needs nothing else of the test support.
#pragma once

#include <windows.h>

#include <string>

namespace driver {

inline std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

} // namespace driver
