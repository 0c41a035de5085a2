// The stand-in's long outputs, shared with the tests that check it: lines of every length from
// 0 up to 5000 bytes of lower-case letters, every third one ending in CR LF, the others in LF,
// cut at the requested size.
#pragma once

#include <cstddef>
#include <string>

namespace standin {

constexpr size_t kLargeDefaultBytes = 10 * 1024 * 1024;
constexpr size_t kLongestLargeLine = 5000;

inline std::string LargeOutput(size_t total_bytes) {
    std::string output;
    output.reserve(total_bytes + kLongestLargeLine + 2);
    for (size_t line = 0; output.size() < total_bytes; ++line) {
        const size_t length = line % (kLongestLargeLine + 1);
        for (size_t column = 0; column < length; ++column) {
            output.push_back(static_cast<char>('a' + (line * 7 + column) % 26));
        }
        output += line % 3 == 0 ? "\r\n" : "\n";
    }
    output.resize(total_bytes);
    return output;
}

// Line lengths around the reader's buffer step of 4096 units.
constexpr size_t kBoundaryLengths[] = {4094, 4095, 4096, 4097, 8191, 8192, 8193};

// Lines of 'x' of those lengths, each followed by two carriage returns and a line feed.
inline std::string BoundaryLines() {
    std::string output;
    for (size_t length : kBoundaryLengths) {
        output += std::string(length, 'x') + "\r\r\n";
    }
    return output;
}

} // namespace standin
