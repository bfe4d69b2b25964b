// The file set of a CE CAB: member names of the form "xxxxxxxx.NNN", their
// order in the cabinet, the %CEn% directories, and which names a device's
// file systems accept.
#pragma once

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
// .000 first, then the others by descending number, as the installer wants.
void sortForCabinet(std::vector<Member>* members);

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

// Letter case does not count on the device (ASCII names).
bool sameDeviceName(const std::string& a, const std::string& b);

}  // namespace cecab
