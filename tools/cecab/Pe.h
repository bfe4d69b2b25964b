// A small, bounded reader of PE files (the launcher and the setup library):
// machine, DLL or program, subsystem, exported names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cecab {

const uint16_t kMachineI386 = 0x014C;
const uint16_t kMachineAmd64 = 0x8664;
const uint16_t kMachineArm = 0x01C0;
const uint16_t kMachineThumb = 0x01C2;  // ARMV4I builds
const uint16_t kSubsystemWindowsCeGui = 9;

enum class MachineKind { Arm, X86, Other };

struct PeInfo {
    uint16_t machine = 0;
    bool dll = false;
    uint16_t subsystem = 0;
    std::vector<std::string> exports;  // names, as stored
};

MachineKind machineKind(uint16_t machine);
// "ARM", "Thumb (ARMV4I)", "x86", "x64", or the number in hex.
std::string machineName(uint16_t machine);

// False with a reason when the bytes are not a PE file this reader can
// follow; no read goes outside [data, data + size).
bool readPe(const uint8_t* data, size_t size, PeInfo* info, std::string* error);

}  // namespace cecab
