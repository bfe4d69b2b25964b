// Lists for the tests: a plain reference split of a CAB list, written for
// clarity rather than speed, against which the block reader is checked
// (tests and fuzzing), and filler lines that name no existing file.
#pragma once

#include <string>
#include <vector>

namespace test {

// The text of each 4096-byte block up to its first NUL (which ends the name
// it cuts); the list ends after the first block shorter than 4096 bytes.
// Names are the runs between CR and LF bytes; longer than 255 bytes are
// passed over.
inline std::vector<std::string> referenceNames(const std::string& file)
{
    std::string text;
    for (size_t offset = 0;; offset += 4096) {
        std::string block = offset < file.size() ? file.substr(offset, 4096) : std::string();
        size_t nul = block.find('\0');
        text += block.substr(0, nul);
        if (nul != std::string::npos)
            text += '\n';
        if (block.size() < 4096)
            break;
    }
    std::vector<std::string> names;
    std::string current;
    for (char c : text + "\n") {
        if (c == '\r' || c == '\n') {
            if (!current.empty() && current.size() <= 255)
                names.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    return names;
}

// Lines of exactly `length` bytes (0, or at least 3) naming missing files.
inline std::string filler(size_t length)
{
    std::string out;
    for (int n = 0; length - out.size() >= 40; ++n)
        out += "absent-" + std::to_string(1000 + n) + ".cab\r\n";
    size_t rest = length - out.size();
    return rest ? out + std::string(rest - 2, 'p') + "\r\n" : out;
}

}  // namespace test
