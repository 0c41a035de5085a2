#include "runtime/core/internal/core.h"

#include <cwchar>

int64_t String_Find(const wchar_t* text, const wchar_t* pattern, int32_t start) {
    if (!text || !pattern || !*text || !*pattern) {
        return 0;
    }
    const int64_t length = static_cast<int64_t>(std::wcslen(text));
    int64_t from = start < 1 ? 1 : start;
    if (from > length) {
        from = length + 1;
    }
    const wchar_t* found = std::wcsstr(text + (from - 1), pattern);
    return found ? (found - text) + 1 : 0;
}
