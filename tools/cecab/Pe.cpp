// PE reading: the DOS stub's pointer, the COFF header, the optional header's
// subsystem and export directory, and the export name table through the
// section table. Every offset is checked against the file size.
#include "tools/cecab/Pe.h"

#include <cstdio>

#include "tools/cecab/ByteIo.h"

namespace cecab {

namespace {

const uint32_t kMaxSections = 96;
const uint32_t kMaxExportNames = 65536;
const size_t kMaxExportNameBytes = 1024;

struct Section {
    uint32_t address = 0;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
};

// The file offset of `length` bytes at `rva`, when one section holds them.
bool fileOffset(const ByteReader& r, const std::vector<Section>& sections, uint32_t rva,
                uint32_t length, uint64_t* offset)
{
    for (const Section& s : sections) {
        if (rva >= s.address && uint64_t(rva) - s.address + length <= s.rawSize) {
            *offset = uint64_t(s.rawOffset) + (rva - s.address);
            return r.fits(*offset, length);
        }
    }
    return false;
}

}  // namespace

MachineKind machineKind(uint16_t machine)
{
    if (machine == kMachineArm || machine == kMachineThumb)
        return MachineKind::Arm;
    if (machine == kMachineI386 || machine == kMachineAmd64)
        return MachineKind::X86;
    return MachineKind::Other;
}

std::string machineName(uint16_t machine)
{
    switch (machine) {
    case kMachineArm:
        return "ARM";
    case kMachineThumb:
        return "Thumb (ARMV4I)";
    case kMachineI386:
        return "x86";
    case kMachineAmd64:
        return "x64";
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", machine);
    return text;
}

bool readPe(const uint8_t* data, size_t size, PeInfo* info, std::string* error)
{
    ByteReader r(data, size);
    uint16_t mz = 0;
    uint32_t pe = 0;
    uint32_t peOffset = 0;
    if (!r.u16(0, &mz) || mz != 0x5A4D || !r.u32(0x3C, &peOffset)) {
        *error = "not a PE file (no MZ header)";
        return false;
    }
    if (!r.u32(peOffset, &pe) || pe != 0x00004550) {
        *error = "not a PE file (no PE signature where the MZ header points)";
        return false;
    }
    uint64_t coff = uint64_t(peOffset) + 4;
    uint16_t sectionCount = 0;
    uint16_t optionalSize = 0;
    uint16_t characteristics = 0;
    uint16_t magic = 0;
    uint64_t optional = coff + 20;
    if (!r.u16(coff, &info->machine) || !r.u16(coff + 2, &sectionCount) ||
        !r.u16(coff + 16, &optionalSize) || !r.u16(coff + 18, &characteristics) ||
        !r.u16(optional, &magic)) {
        *error = "truncated PE header";
        return false;
    }
    info->dll = (characteristics & 0x2000) != 0;
    if (magic != 0x10B && magic != 0x20B) {
        *error = "unknown optional header (magic " + std::to_string(magic) + ")";
        return false;
    }
    uint32_t directoriesAt = magic == 0x10B ? 96 : 112;
    uint32_t rvaCount = 0;
    if (optionalSize < directoriesAt || !r.fits(optional, optionalSize) ||
        !r.u16(optional + 68, &info->subsystem) ||
        !r.u32(optional + directoriesAt - 4, &rvaCount)) {
        *error = "truncated optional header";
        return false;
    }
    if (sectionCount > kMaxSections) {
        *error = std::to_string(sectionCount) + " sections, more than a PE file may have";
        return false;
    }
    std::vector<Section> sections(sectionCount);
    uint64_t table = optional + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i) {
        Section& s = sections[i];
        uint64_t at = table + 40 * uint64_t(i);
        if (!r.u32(at + 12, &s.address) || !r.u32(at + 16, &s.rawSize) ||
            !r.u32(at + 20, &s.rawOffset)) {
            *error = "truncated section table";
            return false;
        }
    }

    // No export directory is no error: a program usually has none.
    uint32_t exportRva = 0;
    if (rvaCount == 0 || optionalSize < directoriesAt + 8 ||
        !r.u32(optional + directoriesAt, &exportRva) || exportRva == 0)
        return true;
    uint64_t directory = 0;
    uint32_t nameCount = 0;
    uint32_t namesRva = 0;
    if (!fileOffset(r, sections, exportRva, 40, &directory) || !r.u32(directory + 24, &nameCount) ||
        !r.u32(directory + 32, &namesRva)) {
        *error = "the export directory lies outside the file";
        return false;
    }
    uint64_t names = 0;
    if (nameCount > kMaxExportNames ||
        (nameCount > 0 && !fileOffset(r, sections, namesRva, 4 * nameCount, &names))) {
        *error = "the export name table lies outside the file";
        return false;
    }
    for (uint32_t i = 0; i < nameCount; ++i) {
        uint32_t nameRva = 0;
        uint64_t at = 0;
        r.u32(names + 4 * uint64_t(i), &nameRva);
        if (!fileOffset(r, sections, nameRva, 1, &at)) {
            *error = "export name " + std::to_string(i + 1) + " lies outside the file";
            return false;
        }
        std::string name;
        std::string byte;
        while (r.bytes(at + name.size(), 1, &byte) && byte[0] != '\0' &&
               name.size() < kMaxExportNameBytes)
            name += byte;
        if (!r.bytes(at + name.size(), 1, &byte) || byte[0] != '\0') {
            *error = "export name " + std::to_string(i + 1) + " has no terminator";
            return false;
        }
        info->exports.push_back(name);
    }
    return true;
}

}  // namespace cecab
