// The install header of a CE CAB (its ".000" member) as stored: a 100-byte
// fixed part, three strings and six sections of entries that refer to each
// other by 16-bit ids. An encoder, and a decoder that never trusts its input.
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace cecab {

const uint32_t kHeaderSignature = 0x4543534D;  // "MSCE"
const size_t kFixedHeaderBytes = 100;

// Registry value types and flags, as the header spells them.
const uint32_t kRegTypeMask = 0x00010001;
const uint32_t kRegString = 0x00000000;
const uint32_t kRegMultiString = 0x00010000;
const uint32_t kRegDword = 0x00010001;
const uint32_t kRegBinary = 0x00000001;
const uint32_t kRegNoClobber = 0x00000002;  // an existing value is kept

// File flags (the same bits as the .inf's CopyFiles flags).
const uint32_t kFileWarnIfSkip = 0x00000001;
const uint32_t kFileNoSkip = 0x00000002;
const uint32_t kFileNoOverwrite = 0x00000010;   // an existing file is kept
const uint32_t kFileOnlyIfExists = 0x00000400;  // copied only over an existing file
const uint32_t kFileSelfRegister = 0x10000000;  // CESelfRegister
const uint32_t kFileNoDateCheck = 0x40000000;

enum HiveRoot : uint16_t { kHkcr = 1, kHkcu = 2, kHklm = 3, kHku = 4 };

struct CeVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t build = 0;
    bool any() const { return major || minor || build; }
    bool operator==(const CeVersion& o) const
    {
        return major == o.major && minor == o.minor && build == o.build;
    }
};

struct HeaderString {
    uint16_t id = 0;
    std::string text;
};

// Paths are lists of string ids, joined by backslashes on the device.
struct HeaderDir {
    uint16_t id = 0;
    std::vector<uint16_t> parts;
};

struct HeaderFile {
    uint16_t id = 0;  // also the number of its CAB member, ".NNN"
    uint16_t dirId = 0;
    uint16_t source = 0;  // the Wizard's position of the file in [SourceDisksFiles], from 1
    uint32_t flags = 0;
    std::string name;  // the name it is installed under
};

struct HeaderHive {
    uint16_t id = 0;
    uint16_t root = 0;
    uint16_t unknown = 0;  // 0 in every header seen
    std::vector<uint16_t> parts;
};

struct HeaderRegValue {
    uint16_t id = 0;
    uint16_t hiveId = 0;
    bool substitute = false;  // %InstallDir% and %CEn% in the data are replaced
    uint32_t typeFlags = 0;
    std::string name;  // empty: the key's default value
    std::string data;  // raw, as stored after the name's terminator
};

struct HeaderLink {
    uint16_t id = 0;
    uint16_t unknown = 0;
    uint16_t baseDir = 0;  // 0: %InstallDir%, n: %CEn%
    uint16_t target = 0;   // a dir id (0: %InstallDir%) or a file id
    uint16_t type = 0;     // 0: directory, 1: file
    std::vector<uint16_t> parts;
};

struct InstallHeader {
    uint32_t architecture = 0;
    CeVersion min;  // 0 means no restriction
    CeVersion max;
    std::string appName;
    std::string provider;
    std::vector<std::string> unsupported;
    std::vector<HeaderString> strings;
    std::vector<HeaderDir> dirs;
    std::vector<HeaderFile> files;
    std::vector<HeaderHive> hives;
    std::vector<HeaderRegValue> regValues;
    std::vector<HeaderLink> links;
    // Fields of unknown purpose, kept so that any header reads back as it was.
    uint32_t unknown4 = 0;
    uint32_t unknown12 = 0;
    uint32_t unknown16 = 1;
    uint16_t unknown96 = 0;
    uint16_t unknown98 = 0;
};

// Entries compare field by field (tests and round trips).
inline bool operator==(const HeaderString& a, const HeaderString& b)
{
    return std::tie(a.id, a.text) == std::tie(b.id, b.text);
}
inline bool operator==(const HeaderDir& a, const HeaderDir& b)
{
    return std::tie(a.id, a.parts) == std::tie(b.id, b.parts);
}
inline bool operator==(const HeaderFile& a, const HeaderFile& b)
{
    return std::tie(a.id, a.dirId, a.source, a.flags, a.name) ==
           std::tie(b.id, b.dirId, b.source, b.flags, b.name);
}
inline bool operator==(const HeaderHive& a, const HeaderHive& b)
{
    return std::tie(a.id, a.root, a.unknown, a.parts) == std::tie(b.id, b.root, b.unknown, b.parts);
}
inline bool operator==(const HeaderRegValue& a, const HeaderRegValue& b)
{
    return std::tie(a.id, a.hiveId, a.substitute, a.typeFlags, a.name, a.data) ==
           std::tie(b.id, b.hiveId, b.substitute, b.typeFlags, b.name, b.data);
}
inline bool operator==(const HeaderLink& a, const HeaderLink& b)
{
    return std::tie(a.id, a.unknown, a.baseDir, a.target, a.type, a.parts) ==
           std::tie(b.id, b.unknown, b.baseDir, b.target, b.type, b.parts);
}
bool operator==(const InstallHeader& a, const InstallHeader& b);

// Fails (with a reason) only where a 16-bit field cannot hold a count,
// length or offset. Strings are written without padding, link paths without
// a terminator, as the Wizard writes them.
bool encodeHeader(const InstallHeader& header, std::string* out, std::string* error);

struct HeaderProblem {
    std::string where;  // "fixed header", "FILES entry 3", ...
    std::string message;
};

// Decodes as much as can be trusted; every doubt becomes a problem. The
// header is fit to act on only when `problems` stays empty. It reads what
// the Wizard writes: NUL padding to a multiple of 4 after a string's
// terminator, link paths without a terminating 0, entries in any order.
InstallHeader decodeHeader(const uint8_t* data, size_t size, std::vector<HeaderProblem>* problems);

// The entries of a header by id, indexed once; null for an unknown id.
class HeaderIndex {
public:
    explicit HeaderIndex(const InstallHeader& header);
    const std::string* string(uint16_t id) const;
    const HeaderDir* dir(uint16_t id) const;
    const HeaderFile* file(uint16_t id) const;
    const HeaderHive* hive(uint16_t id) const;
    // String ids joined with backslashes; unknown ids as "<?N>".
    std::string join(const std::vector<uint16_t>& parts) const;
    // Ids used twice in a section ("STRINGS id 4").
    const std::vector<std::string>& duplicates() const { return duplicates_; }

private:
    // (id, position) sorted by id, the first of equal ids first.
    using Slots = std::vector<std::pair<uint16_t, uint32_t>>;
    template <typename T>
    void index(const std::vector<T>& entries, const char* section, Slots* slots);
    static const uint32_t* find(const Slots& slots, uint16_t id);

    const InstallHeader& h_;
    Slots strings_, dirs_, files_, hives_;
    std::vector<std::string> duplicates_;
};

// The value of a string or multi-string registry value: its text up to the
// first terminator, or every string of the list.
std::vector<std::string> splitStrings(const std::string& data);

}  // namespace cecab
