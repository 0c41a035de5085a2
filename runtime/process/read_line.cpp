// One line of a child's output, decoded to UTF-16. Nothing after the line feed is taken from
// the pipe, so the next call starts exactly at the next line and the pipe's byte count keeps
// telling whether more output waits.
#include "runtime/process/process.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr size_t kLineGrowth = 4096; // units
// Line lengths go to the system's conversions as int.
static_assert(PROGRAM_LONGEST_LINE * sizeof(wchar_t) <= INT_MAX);
static_assert(PROGRAM_LONGEST_LINE % kLineGrowth == 0);
constexpr uint16_t kLineFeed = 0x0A;
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

// The units of one line, without its line end; always with room for a terminator. When the heap
// cannot give the first step, a reserve of the same size inside the object takes its place and
// the line is read in pieces of that size: the output still drains.
class LineBuffer {
  public:
    explicit LineBuffer(size_t unit_size)
        : unit_size_(unit_size), data_(static_cast<char*>(Runtime_Alloc(kLineGrowth * unit_size))) {
        if (!data_) {
            data_ = reserve_;
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

    // Free units behind the collected ones, keeping one for the terminator; grows the buffer
    // by one step when it is full. 0 when the piece is complete: the longest line is reached, or
    // the heap cannot give more room.
    size_t Room() {
        if (count_ >= PROGRAM_LONGEST_LINE || (count_ + 1 >= capacity_ && !Grow())) {
            return 0;
        }
        return std::min(capacity_ - count_ - 1, PROGRAM_LONGEST_LINE - count_);
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

    uint16_t UnitAt(const char* place, size_t index) const {
        uint16_t unit = 0;
        std::memcpy(&unit, place + index * unit_size_, unit_size_);
        return unit;
    }

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
    char reserve_[kLineGrowth * sizeof(wchar_t)];
};

// Whole units already waiting in the pipe, copied into `place` without taking them, and the
// position of the first line feed among them (or `waiting` when there is none).
struct LookAhead {
    size_t waiting;
    size_t line_feed;
};

LookAhead Peek(HANDLE pipe, const LineBuffer& line, char* place, size_t room) {
    DWORD copied = 0;
    const DWORD bytes = static_cast<DWORD>(std::min<size_t>(room * line.unit_size(), 1u << 20));
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

// A piece that filled up just before its line end takes that line end with it, when it is
// already waiting, so that a line of exactly a piece's length comes back as one line.
void TakeWaitingLineEnd(HANDLE pipe, const LineBuffer& line) {
    char ahead[2 * sizeof(wchar_t)] = {};
    DWORD copied = 0;
    if (!PeekNamedPipe(pipe, ahead, static_cast<DWORD>(2 * line.unit_size()), &copied, nullptr,
                       nullptr)) {
        return;
    }
    const size_t waiting = copied / line.unit_size();
    size_t end = 0;
    if (waiting >= 1 && line.UnitAt(ahead, 0) == kLineFeed) {
        end = 1;
    } else if (waiting == 2 && line.UnitAt(ahead, 0) == kCarriageReturn &&
               line.UnitAt(ahead, 1) == kLineFeed) {
        end = 2;
    }
    DWORD got = 0;
    if (end) {
        ReadFile(pipe, ahead, static_cast<DWORD>(end * line.unit_size()), &got, nullptr);
    }
}

// Reads units up to a line feed, the end of the output or a failed read. What is already
// waiting is taken in one read that stops right after the line feed; each pipe call is costly
// (a round trip to the system), so reading unit by unit is kept for when nothing waits.
void CollectLine(HANDLE pipe, LineBuffer& line) {
    const size_t unit_size = line.unit_size();
    for (;;) {
        const size_t room = line.Room();
        if (!room) {
            // A complete piece: the rest of the line stays for the next call.
            TakeWaitingLineEnd(pipe, line);
            return;
        }
        char* place = line.End();
        const LookAhead ahead = Peek(pipe, line, place, room);
        const bool ends_here = ahead.line_feed < ahead.waiting;
        // Without whole units waiting, one unit is read and the call waits for it.
        const size_t wanted = ahead.waiting ? (ends_here ? ahead.line_feed + 1 : ahead.waiting) : 1;
        DWORD got = 0;
        if (!ReadFile(pipe, place, static_cast<DWORD>(wanted * unit_size), &got, nullptr)) {
            return; // end of the output
        }
        // A UTF-16 unit that the child's writes split in two is completed from the pipe; only a
        // lone byte at the very end of the output is lost.
        while (got % unit_size) {
            DWORD more = 0;
            if (!ReadFile(pipe, place + got, static_cast<DWORD>(unit_size - got % unit_size), &more,
                          nullptr) ||
                !more) {
                break;
            }
            got += more;
        }
        if (got < unit_size) {
            return;
        }
        const size_t units = got / unit_size;
        const bool has_line_feed = line.UnitAt(place, units - 1) == kLineFeed;
        line.Keep(has_line_feed ? units - 1 : units);
        if (has_line_feed) {
            return;
        }
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
    const ProgramObject* object = Program_Find(program);
    if (!object || !object->output_pipe) {
        return String_Finish(mark);
    }
    const TextFormat format = FormatOf(object->flags);
    const size_t unit_size = format == TextFormat::Utf16 ? sizeof(wchar_t) : 1;
    LineBuffer line(unit_size);
    CollectLine(object->output_pipe, line);
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
