// One line of a child's output, decoded to UTF-16. Nothing after the line feed is taken from
// the pipe, so the next call starts exactly at the next line and the pipe's byte count keeps
// telling whether more output waits.
#include "runtime/process/internal/process.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr size_t kLineGrowth = 4096; // units
// Units a piece may take beyond its length to complete the character that its last unit
// begins: the rest of a 4-byte UTF-8 sequence at most.
constexpr size_t kCharacterTail = 3;
// Line lengths go to the system's conversions as int.
static_assert((PROGRAM_LONGEST_LINE + kCharacterTail) * sizeof(wchar_t) <= INT_MAX);
static_assert(PROGRAM_LONGEST_LINE % kLineGrowth == 0);
// The most bytes one look into the pipe copies.
constexpr unsigned kLongestPeek = 1u << 20;
constexpr uint16_t kLineFeed = 0x0A;
// UTF-16 surrogates, and the classes of UTF-8 bytes: a continuation byte has the top bits 10;
// a lead byte of a 2-, 3- or 4-byte sequence lies in its range. Trail bytes of the double-byte
// ANSI code pages begin at 0x40.
constexpr uint16_t kHighSurrogateFirst = 0xD800;
constexpr uint16_t kHighSurrogateLast = 0xDBFF;
constexpr uint16_t kLowSurrogateFirst = 0xDC00;
constexpr uint16_t kLowSurrogateLast = 0xDFFF;
constexpr uint16_t kUtf8TopBits = 0xC0;
constexpr uint16_t kUtf8Continuation = 0x80;
constexpr uint16_t kUtf8Lead2First = 0xC2;
constexpr uint16_t kUtf8Lead3First = 0xE0;
constexpr uint16_t kUtf8Lead4First = 0xF0;
constexpr uint16_t kUtf8Lead4Last = 0xF4;
constexpr uint16_t kDbcsTrailFirst = 0x40;
constexpr uint16_t kCarriageReturn = 0x0D;

enum class TextFormat { Ansi, Utf8, Utf16 };

TextFormat FormatOf(uint32_t flags) {
    if (flags & LAUNCH_TEXT_ANSI) {
        return TextFormat::Ansi;
    }
    if (flags & LAUNCH_TEXT_UTF8) {
        return TextFormat::Utf8;
    }
    if (flags & LAUNCH_TEXT_UTF16) {
        return TextFormat::Utf16;
    }
    return TextFormat::Utf8;
}

// The units of one line, without its line end; always with room for a character's tail and a
// terminator. When the heap cannot give the first step, a reserve inside the object takes its
// place and the line is read in pieces of 4095 units: the output still drains.
class LineBuffer {
  public:
    explicit LineBuffer(size_t unit_size)
        : unit_size_(unit_size), data_(static_cast<char*>(Runtime_Alloc(kLineGrowth * unit_size))) {
        if (!data_) {
            data_ = reserve_;
            capacity_ = kLineGrowth + kCharacterTail;
        }
    }
    ~LineBuffer() {
        if (data_ != reserve_) {
            Runtime_Free(data_);
        }
    }
    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;

    size_t count() const { return count_; }
    const char* bytes() const { return data_; }
    size_t unit_size() const { return unit_size_; }

    // Free units for the piece behind the collected ones; grows the buffer by one step when it
    // is full. 0 when the piece is complete: the longest line is reached, or the heap cannot
    // give more room. Each piece comes back as a line of its own, so a caller that puts a
    // separator after each line also puts one inside the longer line: a text that straddles the
    // end of a piece is no longer found there. No console tool writes lines of 1 MiB.
    size_t Room() {
        if (count_ >= PROGRAM_LONGEST_LINE ||
            (count_ + kCharacterTail + 1 >= capacity_ && !Grow())) {
            return 0;
        }
        return std::min(capacity_ - count_ - kCharacterTail - 1, PROGRAM_LONGEST_LINE - count_);
    }
    char* End() { return data_ + count_ * unit_size_; }

    // Takes `units` units just written at End(), dropping carriage returns wherever they stand.
    void Keep(size_t units) {
        char* source = End();
        for (size_t i = 0; i < units; ++i) {
            const uint16_t unit = UnitAt(source, i);
            if (unit != kCarriageReturn) {
                std::memmove(End(), source + i * unit_size_, unit_size_);
                ++count_;
            }
        }
    }
    // Appends one unit: the one carried from the last call, or a character's tail, for which
    // Room() always leaves space.
    void Add(uint16_t unit) {
        std::memcpy(End(), &unit, unit_size_);
        ++count_;
    }

    uint16_t UnitAt(const char* place, size_t index) const {
        uint16_t unit = 0;
        std::memcpy(&unit, place + index * unit_size_, unit_size_);
        return unit;
    }
    uint16_t Unit(size_t index) const { return UnitAt(data_, index); }

  private:
    bool Grow() {
        if (data_ == reserve_) {
            return false;
        }
        const size_t capacity = capacity_ + kLineGrowth;
        void* grown = HeapReAlloc(Runtime_Heap(), HEAP_ZERO_MEMORY, data_, capacity * unit_size_);
        if (!grown) {
            return false;
        }
        data_ = static_cast<char*>(grown);
        capacity_ = capacity;
        return true;
    }

    size_t unit_size_;
    char* data_;
    size_t capacity_ = kLineGrowth;
    size_t count_ = 0;
    char reserve_[(kLineGrowth + kCharacterTail) * sizeof(wchar_t)];
};

// Whole units already waiting in the pipe, copied into `place` without taking them, and the
// position of the first line feed among them (or `waiting` when there is none).
struct LookAhead {
    size_t waiting;
    size_t line_feed;
};

LookAhead Peek(HANDLE pipe, const LineBuffer& line, char* place, size_t room) {
    DWORD copied = 0;
    const DWORD bytes = static_cast<DWORD>(std::min<size_t>(room * line.unit_size(), kLongestPeek));
    if (!PeekNamedPipe(pipe, place, bytes, &copied, nullptr, nullptr)) {
        return {0, 0};
    }
    const size_t waiting = copied / line.unit_size();
    size_t line_feed = 0;
    while (line_feed < waiting && line.UnitAt(place, line_feed) != kLineFeed) {
        ++line_feed;
    }
    return {waiting, line_feed};
}

// Reads the rest of a unit whose bytes the child's writes split, so that a UTF-16 unit is
// never taken apart; false when the output ends first.
bool CompleteUnit(HANDLE pipe, char* place, DWORD& got, size_t unit_size) {
    while (got % unit_size) {
        DWORD more = 0;
        if (!ReadFile(pipe, place + got, static_cast<DWORD>(unit_size - got % unit_size), &more,
                      nullptr) ||
            !more) {
            return false;
        }
        got += more;
    }
    return true;
}

// Reads units up to a line feed, the end of the output, a failed read or the end of the piece;
// true when the piece ended first. What is already waiting is taken in one read that stops
// right after the line feed; each pipe call is costly (a round trip to the system), so reading
// unit by unit is kept for when nothing waits.
bool CollectPiece(HANDLE pipe, LineBuffer& line) {
    const size_t unit_size = line.unit_size();
    for (;;) {
        const size_t room = line.Room();
        if (!room) {
            return true;
        }
        char* place = line.End();
        const LookAhead ahead = Peek(pipe, line, place, room);
        const bool ends_here = ahead.line_feed < ahead.waiting;
        // Without whole units waiting, one unit is read and the call waits for it.
        const size_t wanted = ahead.waiting ? (ends_here ? ahead.line_feed + 1 : ahead.waiting) : 1;
        DWORD got = 0;
        if (!ReadFile(pipe, place, static_cast<DWORD>(wanted * unit_size), &got, nullptr)) {
            return false; // end of the output
        }
        // Only a lone byte at the very end of UTF-16 output is lost.
        CompleteUnit(pipe, place, got, unit_size);
        if (got < unit_size) {
            return false;
        }
        const size_t units = got / unit_size;
        const bool has_line_feed = line.UnitAt(place, units - 1) == kLineFeed;
        line.Keep(has_line_feed ? units - 1 : units);
        if (has_line_feed) {
            return false;
        }
    }
}

// One unit from the pipe, waiting for it; false at the end of the output.
bool ReadUnit(HANDLE pipe, size_t unit_size, uint16_t* unit) {
    char bytes[sizeof(uint16_t)] = {};
    DWORD got = 0;
    if (!ReadFile(pipe, bytes, static_cast<DWORD>(unit_size), &got, nullptr) ||
        !CompleteUnit(pipe, bytes, got, unit_size) || got < unit_size) {
        return false;
    }
    *unit = 0;
    std::memcpy(unit, bytes, unit_size);
    return true;
}

bool IsUtf8Continuation(uint16_t byte) {
    return (byte & kUtf8TopBits) == kUtf8Continuation;
}

// How many units the character that ends the piece still lacks: 0 when it is whole.
size_t MissingTail(const LineBuffer& line, TextFormat format) {
    const size_t count = line.count();
    if (!count) {
        return 0;
    }
    if (format == TextFormat::Utf16) {
        const uint16_t last = line.Unit(count - 1);
        return last >= kHighSurrogateFirst && last <= kHighSurrogateLast ? 1 : 0;
    }
    if (format == TextFormat::Utf8) {
        size_t continuations = 0;
        while (continuations < kCharacterTail && continuations < count &&
               IsUtf8Continuation(line.Unit(count - 1 - continuations))) {
            ++continuations;
        }
        if (continuations == count) {
            return 0;
        }
        const uint16_t lead = line.Unit(count - 1 - continuations);
        const size_t length = lead >= kUtf8Lead4First && lead <= kUtf8Lead4Last   ? 4
                              : lead >= kUtf8Lead3First && lead < kUtf8Lead4First ? 3
                              : lead >= kUtf8Lead2First && lead < kUtf8Lead3First ? 2
                                                                                  : 1;
        return length > continuations + 1 ? length - continuations - 1 : 0;
    }
    // In a double-byte code page only a walk from the start tells a lead byte from a trail byte.
    size_t index = 0;
    while (index < count) {
        index += IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(line.Unit(index))) ? 2 : 1;
    }
    return index > count ? 1 : 0;
}

bool IsTail(uint16_t unit, TextFormat format) {
    switch (format) {
    case TextFormat::Utf16:
        return unit >= kLowSurrogateFirst && unit <= kLowSurrogateLast;
    case TextFormat::Utf8:
        return IsUtf8Continuation(unit);
    case TextFormat::Ansi:
        return unit >= kDbcsTrailFirst;
    }
    return false;
}

// A piece never ends inside a character, and it takes its line end with it: the units after
// it are read, waiting for them, until the character is whole and the unit after it shows
// whether the line ends there. A unit that belongs to the next line waits in the object.
void FinishPiece(HANDLE pipe, LineBuffer& line, TextFormat format, ProgramObject* object) {
    size_t missing = MissingTail(line, format);
    uint16_t unit = 0;
    while (ReadUnit(pipe, line.unit_size(), &unit)) {
        if (unit == kCarriageReturn) {
            continue; // dropped wherever it stands
        }
        if (unit == kLineFeed) {
            return; // the line ends with the piece
        }
        if (missing && IsTail(unit, format)) {
            line.Add(unit);
            --missing;
            continue;
        }
        std::memcpy(object->carried, &unit, line.unit_size());
        object->carried_size = static_cast<uint8_t>(line.unit_size());
        return;
    }
}

// Decodes the bytes at the workspace position. Invalid sequences become replacement
// characters rather than failing the line.
void AppendDecoded(UINT code_page, const char* bytes, size_t count) {
    if (!count) {
        return;
    }
    const int units = MultiByteToWideChar(code_page, 0, bytes, static_cast<int>(count), nullptr, 0);
    if (units <= 0 || !String_Ensure((static_cast<size_t>(units) + 1) * sizeof(wchar_t))) {
        return;
    }
    const int written = MultiByteToWideChar(code_page, 0, bytes, static_cast<int>(count),
                                            String_At(String_Position()), units);
    String_Advance(written > 0 ? static_cast<size_t>(written) : 0);
}

} // namespace

RtString Program_ReadLine(intptr_t program) {
    const size_t mark = String_Position();
    ProgramObject* object = Program_Find(program);
    if (!object || !object->output_pipe) {
        return String_Finish(mark);
    }
    const TextFormat format = FormatOf(object->flags);
    const size_t unit_size = format == TextFormat::Utf16 ? sizeof(wchar_t) : 1;
    LineBuffer line(unit_size);
    if (object->carried_size) {
        uint16_t unit = 0;
        std::memcpy(&unit, object->carried, object->carried_size);
        object->carried_size = 0;
        line.Add(unit);
    }
    if (CollectPiece(object->output_pipe, line)) {
        FinishPiece(object->output_pipe, line, format, object);
    }
    switch (format) {
    case TextFormat::Ansi:
        AppendDecoded(CP_ACP, line.bytes(), line.count());
        break;
    case TextFormat::Utf8:
        AppendDecoded(CP_UTF8, line.bytes(), line.count());
        break;
    case TextFormat::Utf16:
        String_Append(reinterpret_cast<const wchar_t*>(line.bytes()), line.count());
        break;
    }
    return String_Finish(mark);
}
