// vorlund-preview's shared types: what a rehearsal is asked to do, and what it
// saw the simulated device do and found worth saying.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace preview {

// A mistake on the command line (exit status 2).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    std::string directory;  // the install directory on this machine
    // Where the main package puts it on the device; ends with a backslash.
    std::wstring deviceDirectory = L"\\Program Files\\Bundle\\";
    std::vector<std::string> reject;  // CAB names the installer rejects, as listed
    // Entries of the directory (relative names) loaded with an attribute bit.
    std::vector<std::pair<std::string, uint32_t>> attributes;
    bool noInstaller = false;
    bool noList = false;
    bool fromHook = false;
    bool noLauncher = false;
    bool json = false;
};

// Something the device does silently or badly (a warning), or worth knowing
// but harmless (a note). Texts are UTF-8.
struct Finding {
    bool warning = true;
    std::string code;  // stable identifier: "missing", "unlisted", ...
    int line = 0;      // line of the list it is about; 0: none
    int lastLine = 0;  // last line of a run of lines (== line for one)
    std::string file;  // directory entry it is about (device form); empty: none
    std::string message;
};

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

// One visible thing the device did, in order.
struct Event {
    EventKind kind = EventKind::Start;
    bool inHook = false;  // done by the setup hook rather than the launcher
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
    std::string listName = "Vorlund.ini";  // as the directory spells it
    bool listPresent = false;              // the device had a list to read
    std::vector<ListLine> lines;
    std::vector<Event> events;
    std::vector<Finding> findings;
    bool launcherRan = false;
    int installerRuns = 0;
    int rejectedRuns = 0;
    int messageBoxes = 0;
    int deleted = 0;
    uint64_t deviceTimeMs = 0;

    int count(bool warnings) const
    {
        int n = 0;
        for (const Finding& f : findings)
            n += f.warning == warnings ? 1 : 0;
        return n;
    }
};

}  // namespace preview
