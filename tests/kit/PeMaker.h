// Makes small PE files for the tests: one section holding an export table,
// with the machine, kind, subsystem and exported names asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test {

struct PeShape {
    uint16_t machine = 0x01C2;  // Thumb, as ARMV4I builds are
    bool dll = true;
    uint16_t subsystem = 9;  // Windows CE GUI
    std::vector<std::string> exports;
    bool pe32plus = false;
};

inline void put(std::string* s, size_t at, uint32_t value, int bytes)
{
    if (s->size() < at + bytes)
        s->resize(at + bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        (*s)[at + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

inline std::string makePe(const PeShape& shape)
{
    const uint32_t peAt = 0x40, sectionRva = 0x1000, rawAt = 0x200;
    const uint32_t optionalSize = shape.pe32plus ? 240 : 224;
    const uint32_t dirs = shape.pe32plus ? 112 : 96;
    std::string pe(rawAt, '\0');
    put(&pe, 0, 0x5A4D, 2);
    put(&pe, 0x3C, peAt, 4);
    put(&pe, peAt, 0x4550, 4);
    uint32_t coff = peAt + 4, optional = coff + 20;
    put(&pe, coff, shape.machine, 2);
    put(&pe, coff + 2, 1, 2);
    put(&pe, coff + 16, optionalSize, 2);
    put(&pe, coff + 18, 0x0102 | (shape.dll ? 0x2000 : 0), 2);
    put(&pe, optional, shape.pe32plus ? 0x20B : 0x10B, 2);
    put(&pe, optional + 68, shape.subsystem, 2);
    put(&pe, optional + dirs - 4, 16, 4);

    // Export directory, name pointers, then the names.
    std::string data(40, '\0');
    uint32_t pointers = 40, names = pointers + 4 * static_cast<uint32_t>(shape.exports.size());
    put(&data, 24, static_cast<uint32_t>(shape.exports.size()), 4);
    put(&data, 32, sectionRva + pointers, 4);
    data.resize(names, '\0');
    for (size_t i = 0; i < shape.exports.size(); ++i) {
        put(&data, pointers + 4 * i, sectionRva + static_cast<uint32_t>(data.size()), 4);
        data += shape.exports[i] + '\0';
    }
    if (!shape.exports.empty()) {
        put(&pe, optional + dirs, sectionRva, 4);
        put(&pe, optional + dirs + 4, static_cast<uint32_t>(data.size()), 4);
    }
    uint32_t section = optional + optionalSize;
    pe.replace(section, 6, ".edata");
    put(&pe, section + 8, static_cast<uint32_t>(data.size()), 4);
    put(&pe, section + 12, sectionRva, 4);
    put(&pe, section + 16, static_cast<uint32_t>(data.size()), 4);
    put(&pe, section + 20, rawAt, 4);
    return pe + data;
}

inline const std::vector<std::string>& hooks()
{
    static const std::vector<std::string> names = {"Install_Init", "Install_Exit", "Uninstall_Init",
                                                   "Uninstall_Exit"};
    return names;
}

inline std::string armLauncher()
{
    PeShape s;
    s.dll = false;
    return makePe(s);
}

inline std::string armSetupLibrary()
{
    PeShape s;
    s.exports = hooks();
    return makePe(s);
}

}  // namespace test
