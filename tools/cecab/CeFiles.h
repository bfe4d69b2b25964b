// The file set of a CE CAB: member names of the form "xxxxxxxx.NNN", their
// order in the cabinet, the %CEn% directories, which names a device's file
// systems accept, and the processor types the installer checks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cecab {

const int kHeaderNumber = 0;
const int kSetupDllNumber = 999;
const int kMaxFileNumber = 998;

// One member of the cabinet: its bytes, or the file on this machine that
// holds them (read only when the cabinet is written).
struct Member {
    std::string name;    // "0Vorlund.001"
    std::string data;    // used when source is empty
    std::string source;  // a path on this machine
};

// The member name for a file installed as `trueName` with number `number`:
// the first eight characters of its name, padded on the left with "0", or a
// short "NAME~1" form when the name does not fit eight plain characters.
std::string memberName(const std::string& trueName, int number);
// The number of a member name ".NNN"; -1 when it has none.
int memberNumber(const std::string& name);

// The standard directory of %CEn% (n in 1..17) as on a handheld PC; null
// for any other n.
const char* ceDirectory(int n);
// `text` with %CEn% and %InstallDir% (any letter case) replaced; unknown
// macros stay. *unresolved counts the %CEn% outside 1..17.
std::string expandMacros(const std::string& text, const std::string& installDir,
                         int* unresolved = nullptr);

// Why a device's file systems would not take `name` as a file name; empty
// when they would. Non-ASCII names are refused: the header holds 8-bit names
// in the device's code page, which is not known here.
std::string nameProblem(const std::string& name);

// Letter case does not count on the device (8-bit names, Windows-1252).
bool sameDeviceName(const std::string& a, const std::string& b);

// The processor type of ARM devices (SYSTEM_INFO.dwProcessorType).
const uint32_t kProcessorArm = 2577;
// Processor families, for the devices a package is checked against.
enum class Family { Arm, X86, Sh, Mips, PowerPc, Alpha, None };
// Appendix A of the format note: a processor type's name and family;
// "unknown processor" and None for a number not in the list.
std::string processorName(uint32_t processor);
Family processorFamily(uint32_t processor);
// "arm" (2577), "none" (0) or a number of that list.
bool parseProcessor(const std::string& text, uint32_t* processor);
// "5", "5.0", "6.99": the two integers of the dotted text, as the header
// stores a version.
bool parseVersion(const std::string& text, uint32_t* major, uint32_t* minor);

}  // namespace cecab
