// The rehearsal: a bundle directory or a main CAB played out on the simulated
// device by the shipped hook and launcher, and what it finds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace kit::rehearsal {

// An option that does not fit what is rehearsed (exit status 2).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::vector<std::string> reject;  // CAB names the installer rejects, as listed
    // Entries of the install directory (relative names) given an attribute bit.
    std::vector<std::pair<std::string, uint32_t>> attributes;
    bool noInstaller = false;
    bool noList = false;
    bool fromHook = false;
    bool noLauncher = false;
};

// Something the device does silently or badly (a warning), or worth knowing
// but harmless (a note). Texts are UTF-8.
struct Finding {
    bool warning = true;
    std::string code;  // stable: "missing", "unlisted", ...
    int line = 0;      // line of the list it is about; 0: none
    int lastLine = 0;  // last line of a run of lines (== line for one)
    std::string file;  // the entry it is about; empty: none
    std::string message;
};

// A finding about an entry of the directory, and one about a line of the list.
inline Finding fileFinding(const std::string& code, const std::string& file,
                           const std::string& message, bool warning = true)
{
    return Finding{warning, code, 0, 0, file, message};
}
inline Finding lineFinding(const std::string& code, int line, const std::string& message,
                           bool warning = true)
{
    return Finding{warning, code, line, line, "", message};
}

// One entry the main package leaves on the device.
struct Entry {
    std::string shown;  // how findings name it: relative to the install directory
    std::wstring path;  // device path
    bool directory = false;
    std::filesystem::path source;  // a file of this machine holding its bytes, read when needed
    std::string bytes;             // its bytes when there is no source
};

// A registry value the main package's installer writes under HKCU.
struct RegistryValue {
    std::wstring key;
    std::wstring name;
    uint32_t type = 1;          // REG_SZ
    std::vector<uint8_t> data;  // UTF-16LE for strings
};

// What the rehearsal starts from.
struct Layout {
    std::string name;        // the directory or CAB as given
    std::wstring directory;  // the install directory on the device; ends with a backslash
    // Parents before their entries; within a directory in search order.
    std::vector<Entry> entries;
    std::vector<Finding> findings;  // about entries left out
    // A main CAB: installed by the platform installer, which then calls the
    // setup library (when the package has one) with installDir.
    bool mainPackage = false;
    bool setupLibrary = false;
    std::wstring installDir;
    std::vector<RegistryValue> registry;
};

// A bundle directory of this machine (and its subdirectories) as the install
// directory `deviceDirectory`; kit::InputError when it cannot be read.
Layout layoutOfDirectory(const std::string& directory, const std::wstring& deviceDirectory);
// A main CAB as its installer lays it out; kit::InputError when it cannot be
// read or its install header cannot be trusted.
Layout layoutOfCabinet(const std::string& path);

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
    std::wstring directory;    // the install directory on the device
    std::string start;         // "launcher", "setupHook", "mainPackage"
    std::string listName;      // as the directory spells it
    bool listPresent = false;  // the device had a list to read
    std::vector<ListLine> lines;
    std::vector<Event> events;
    std::vector<Finding> findings;
    bool launcherRan = false;
    int installerRuns = 0;
    int rejectedRuns = 0;
    int messageBoxes = 0;
    int deleted = 0;
    uint64_t deviceTimeMs = 0;

    int count(bool warnings) const;
};

// Throws UsageError for options that do not fit the layout (an unknown
// --hidden entry, a --reject name the device does not install) and
// kit::InputError when the list cannot be read from this machine.
Result rehearse(const Options& options, const Layout& layout);

// Virtual time one stand-in installer run takes.
const unsigned kInstallerRunMs = 30000;

// ---- the list (RehearsalList.cpp) ----------------------------------------------------

struct ListReport {
    std::vector<ListLine> lines;  // in file order
    std::vector<Finding> findings;
};
// Reads the list of the simulated device's install directory `directory`
// (ends with a backslash), which must be there.
ListReport checkList(const std::wstring& directory);

// ---- reports (RehearsalReport.cpp) ---------------------------------------------------

void writeText(std::ostream& out, const Options& options, const Result& result, bool colour);
nlohmann::ordered_json toJson(const Options& options, const Result& result, int exitStatus);
// "Vorlund.ini:3", "Vorlund.ini:2-5", or the entry a finding is about.
std::string where(const Result& result, const Finding& finding);
// A name for display: control characters as <TAB> or <0xNN>, in quotes
// when it is empty or starts or ends with white space; inQuotes always quotes.
std::string shown(const std::wstring& name);
std::string inQuotes(const std::wstring& name);

}  // namespace kit::rehearsal
