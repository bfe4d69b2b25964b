// A CE package as its install header describes it, with the ids between the
// sections resolved: the directories the installer creates, the files it
// copies (with their flags and members), the registry values it writes, its
// shortcuts, and the cabinet's members in their order. Decoded from a
// header, and encoded into one in the CAB Wizard's layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cecab/InstallHeader.h"

namespace cecab {

const char kInstallDirMacro[] = "%InstallDir%";

struct LayoutDir {
    uint16_t id = 0;
    // As the header writes it, components joined by backslashes; a first
    // component of string 1 is "%InstallDir%": "%InstallDir%\de".
    std::string written;
    std::string path;    // on a handheld PC: "\Program Files\Ushahidi\de"
    bool known = false;  // false: it starts with a %CEn% outside 1..17
};

struct LayoutFile {
    uint16_t number = 0;  // its member ".NNN"
    uint16_t dirId = 0;
    uint16_t source = 0;  // the Wizard's position in [SourceDisksFiles]
    uint32_t flags = 0;
    std::string name;
    std::string path;  // where it lands, when its directory is known
};

struct LayoutValue {
    uint16_t root = kHkcu;
    std::string key;  // "Software\TqVorlund"
    std::string name;
    uint32_t typeFlags = kRegString;
    bool substitute = false;
    std::string data;  // raw, as stored
};

struct LayoutLink {
    uint16_t baseDir = 0;  // 0: %InstallDir%, n: %CEn%
    uint16_t target = 0;
    bool toFile = true;
    std::string name;  // the link's path below its base: "Ushahidi.lnk"
};

struct LayoutMember {
    std::string name;  // "0Vorlund.001"
    uint64_t size = 0;
    int number = -1;  // -1: not numbered (a newer Wizard's _setup.xml)
};

struct Layout {
    uint32_t processor = 0;
    CeVersion min;
    CeVersion max;
    std::string appName;
    std::string provider;
    std::vector<std::string> unsupported;
    std::string installDir;     // string 1, the .inf's InstallDir, as written
    std::string installPath;    // resolved on a handheld PC
    uint16_t installDirId = 0;  // the directory entry whose path is [1]; 0: none
    std::vector<LayoutDir> dirs;
    std::vector<LayoutFile> files;
    std::vector<LayoutValue> values;
    std::vector<LayoutLink> links;
    std::vector<LayoutMember> members;  // in cabinet order
    uint32_t unknown16 = 1;             // 1 in every header seen
};

// The layout of a decoded header (free of problems) and the cabinet's
// members; paths resolved.
Layout layoutOf(const InstallHeader& header, const std::vector<LayoutMember>& members);
// Fills installPath, each directory's path and each file's path.
void resolvePaths(Layout* layout);
// The header the CAB Wizard would write: string 1 the install directory
// whole, every other string once, one string per component of a directory
// or registry key, a directory written "%InstallDir%..." starting with string
// 1. False with a reason when a 16-bit field cannot hold it.
bool encodeLayout(const Layout& layout, std::string* header, std::string* error);

// The member of a number, or null; the first when two share it.
const LayoutMember* memberOf(const Layout& layout, int number);

}  // namespace cecab
