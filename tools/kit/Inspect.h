// What the device's installer would do with a main CAB, and whether the
// package keeps the setup hook's contract: the hook finds the install
// directory in the registry, the launcher there, the list beside it, and
// every CAB the list names.
#pragma once

#include <string>
#include <vector>

#include "tools/cecab/InstallHeader.h"
#include "tools/kit/Kit.h"

namespace kit {

struct InspectedDir {
    uint16_t id = 0;
    std::string written;  // "%CE1%\Vorlund"
    std::string path;     // "\Program Files\Vorlund"
};

struct InspectedFile {
    uint16_t id = 0;
    std::string member;  // empty when the cabinet lacks it
    uint64_t size = 0;
    uint32_t flags = 0;
    std::string name;
    std::string path;  // where it lands
};

struct InspectedValue {
    std::string key;  // "HKCU\Software\TqVorlund"
    std::string name;
    std::string type;  // "string", "multi-string", "dword", "binary"
    std::string data;  // as stored, for display
    bool substitute = false;
    std::string resolved;  // the data after substitution (strings)
};

struct Inspection {
    cecab::InstallHeader header;
    std::vector<cecab::HeaderProblem> problems;  // non-empty: nothing else is filled in
    std::string installPath;
    std::vector<InspectedDir> dirs;
    std::vector<InspectedFile> files;
    std::vector<InspectedValue> values;
    std::string setupMember;  // empty: no setup library
    std::vector<std::string> hookExports;
    std::string hookOutcome;          // what the hook shows or does
    std::vector<std::string> listed;  // names of the list as the device reads them
    // The list beside the launcher (without one: in the install directory), as packed.
    std::string listBytes;
    Findings findings;
};

// A cabinet's size field is 32 bits.
const uint64_t kMaxCabinetBytes = 0xFFFFFFFFull;

// InputError when the cabinet cannot be read or holds no install header.
Inspection inspectCabinet(const std::string& cabinet);

}  // namespace kit
