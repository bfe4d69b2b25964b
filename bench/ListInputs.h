// The lists that the reader's benchmarks and its cost figures read: names of
// realistic lengths and line breaks, the same bytes on every run.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace bench {

struct List {
    std::string bytes;
    uint64_t names = 0;
};

// `names` names of 1 to 255 bytes (most under 41) of printable ASCII, each
// ended by CR LF, LF, CR or a run of blank lines. With `nonAscii`, one name in
// eight carries a letter of the upper half of the code page (0xC0 to 0xFF),
// which the reader hands to the device's conversion.
inline List makeList(uint64_t names, bool nonAscii)
{
    static const char* const kBreaks[] = {"\r\n", "\n", "\r", "\r\n\r\n", "\n\n\n", "\r\r"};
    std::minstd_rand random(2024);
    List list;
    for (; list.names < names; ++list.names) {
        size_t length = random() % 16 ? 1 + random() % 40 : 41 + random() % 215;
        size_t accented = nonAscii && random() % 8 == 0 ? random() % length : length;
        for (size_t i = 0; i < length; ++i)
            list.bytes +=
                static_cast<char>(i == accented ? 0xC0 + random() % 64 : '!' + random() % 94);
        list.bytes += kBreaks[random() % 6];
    }
    return list;
}

}  // namespace bench
