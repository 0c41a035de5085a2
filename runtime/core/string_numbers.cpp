#include "runtime/core/internal/core.h"

namespace {

// Appends `value` in decimal at `used`; returns the new length, never beyond `capacity - 1`.
size_t AppendDecimal(wchar_t* buffer, size_t capacity, size_t used, int64_t value) {
    wchar_t digits[20];
    size_t count = 0;
    // Works on the magnitude as unsigned, so that the most negative value has one too.
    uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0 && used + 1 < capacity) {
        buffer[used++] = L'-';
    }
    while (count && used + 1 < capacity) {
        buffer[used++] = digits[--count];
    }
    return used;
}

} // namespace

void String_Numbers(wchar_t* buffer, size_t capacity, const wchar_t* prefix,
                    std::initializer_list<int64_t> values) {
    if (!capacity) {
        return;
    }
    size_t used = 0;
    for (const wchar_t* piece = prefix ? prefix : L""; *piece && used + 1 < capacity; ++piece) {
        buffer[used++] = *piece;
    }
    bool first = true;
    for (int64_t value : values) {
        if (!first && used + 1 < capacity) {
            buffer[used++] = L':';
        }
        first = false;
        used = AppendDecimal(buffer, capacity, used, value);
    }
    buffer[used] = L'\0';
}
