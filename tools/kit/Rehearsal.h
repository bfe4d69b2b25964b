// The rehearsal: a bundle directory or a main package laid out on a simulated
// device that the rehearsal owns, the shipped hook and launcher run there,
// and findings read from what they did.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "device/sim/SimDevice.h"
#include "tools/cecab/CeFiles.h"
#include "tools/kit/Finding.h"
#include "tools/kit/Package.h"

namespace kit {

// The device a package is checked against (--device).
struct Target {
    uint32_t major = 5;
    uint32_t minor = 0;
    cecab::Family family = cecab::Family::Arm;
};
extern const char kDefaultDevice[];  // "5.0,arm"
extern const char kDeviceHelp[];
// "M.m" or "M.m,FAMILY" (arm, x86, sh, mips, ppc); UsageError otherwise.
Target deviceTarget(const std::string& text);

struct Options {
    std::vector<std::string> reject;  // CAB names the installer rejects, as listed
    // Entries of the install directory (relative names) given an attribute bit.
    std::vector<std::pair<std::string, uint32_t>> attributes;
    bool noInstaller = false;
    bool noList = false;
    bool fromHook = false;
    bool noLauncher = false;
    Target device;
};

// One entry the device holds before the run.
struct Entry {
    std::string shown;  // how findings name it: relative to the install directory
    std::wstring path;  // device path
    bool directory = false;
    std::string file;  // the file of this machine with its bytes, or
    int member = -1;   // the member of the main package that holds them
};

// A registry value the main package's installer writes under HKCU.
struct RegistryValue {
    std::wstring key;
    std::wstring name;
    uint32_t type = 1;          // REG_SZ
    std::vector<uint8_t> data;  // UTF-16LE for strings
};

// What the rehearsal starts from.
struct DeviceLayout {
    std::string name;        // the directory or CAB as given
    std::wstring directory;  // the launcher's directory on the device; ends with a backslash
    // Parents before their entries; within a directory in search order.
    std::vector<Entry> entries;
    Findings findings;  // about entries left out
    // A main package: installed by the platform installer, which then calls
    // the setup library (when the package has one) with installDir.
    const Package* package = nullptr;
    bool setupLibrary = false;
    std::wstring installDir;
    std::vector<RegistryValue> registry;
};

// A bundle directory of this machine (and its subdirectories) as the install
// directory `deviceDirectory`; InputError when it cannot be read.
DeviceLayout layoutOfDirectory(const std::string& directory, const std::wstring& deviceDirectory);
// A main package as its installer lays it out.
DeviceLayout layoutOfPackage(const Package& package);

// One name of the list as the device reads it, or a line it never reads.
struct ListLine {
    int line = 0;
    std::wstring name;         // as the device reads it (the line's bytes if unread)
    bool read = true;          // false: the device never hands this line out
    bool partial = false;      // the device reads less than the whole line
    bool installable = false;  // the launcher's own test lets it in
    std::string skipReason;    // why not, for display
    std::wstring path;         // install directory + name
    int repeats = 0;           // line of an earlier occurrence; 0: first
    bool installed = false;    // an installer run got it
    bool rejected = false;
};

enum class EventKind {
    Copy,
    Wait,
    Start,
    StartFailed,
    Install,
    InstallFailed,
    Window,
    WindowClosed,
    MessageBox,
    Delete,
    DeleteFailed,
    Registry
};
enum class Actor { Installer, Hook, Launcher };

// One visible thing the device did, in order.
struct Event {
    EventKind kind = EventKind::Start;
    Actor by = Actor::Launcher;
    uint64_t timeMs = 0;
    std::wstring text;     // path, command line, message text, window text
    std::wstring program;  // started program
    std::wstring caption;  // message box caption
    uint64_t waitedMs = 0;
    uint32_t processId = 0;
    bool rejected = false;
    uint32_t exitCode = 0;
    // Progress window: text and bar as they were shown.
    bool hasText = false;
    bool hasBar = false;
    bool visible = true;
    uint32_t lower = 0;
    uint32_t upper = 0;
    int32_t position = 0;
    double fill = 0;
};

struct Result {
    std::string name;          // of the directory or CAB
    std::wstring directory;    // the launcher's directory on the device
    std::string start;         // "launcher", "setupHook", "mainPackage"
    std::string listName;      // as the directory spells it
    bool listPresent = false;  // the device had a list to read
    std::vector<ListLine> lines;
    std::vector<Event> events;
    Findings findings;
    bool launcherRan = false;
    int installerRuns = 0;
    int rejectedRuns = 0;
    int messageBoxes = 0;
    int deleted = 0;
    uint64_t deviceTimeMs = 0;
};

// Virtual time one stand-in installer run takes.
const unsigned kInstallerRunMs = 30000;

// Throws UsageError for options that do not fit the layout (an unknown
// --hidden entry, a --reject name the device does not install) and
// InputError when the list cannot be read from this machine.
Result rehearse(const Options& options, const DeviceLayout& layout);

// ---- the list (RehearsalList.cpp) ----------------------------------------------------

struct ListReport {
    std::vector<ListLine> lines;  // in file order
    Findings findings;
};
// Reads the list of the current simulated device's directory `directory`
// (ends with a backslash), which must be there.
ListReport checkList(const std::wstring& directory);

// ---- the listed CABs (Preflight.cpp) ---------------------------------------------------

// Each CAB the device would install, its own header read: what a `target`
// device refuses, a setup library of its own, a file over the launcher or the
// list. The lines of a CAB the device refuses are marked rejected.
Findings preflight(const DeviceLayout& layout, const Target& target, std::vector<ListLine>* lines);
// What a `target` device refuses of a package, by its header.
Findings refusals(const cecab::Layout& layout, const Target& target, const std::string& file);

// ---- display -------------------------------------------------------------------------

// A name for display: control characters as <TAB> or <0xNN>, in quotes
// when it is empty or starts or ends with white space; inQuotes always quotes.
std::string shown(const std::wstring& name);
std::string inQuotes(const std::wstring& name);

}  // namespace kit
