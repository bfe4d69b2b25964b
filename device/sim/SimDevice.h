// The simulated device: storage, processes, windows, registry, message boxes
// and a virtual clock behind the DeviceServices operations, with a control
// interface through which tests and tools set it up, script it and read back
// the typed record of what the logic did.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "device/DeviceServices.h"
#include "device/sim/SimEvents.h"
#include "device/sim/SimOperations.h"

namespace sim {

// What one run of a registered program does. Its effects on the device are
// made by the behaviour callback when the program starts.
struct ProgramRun {
    uint64_t durationMs = 0;  // virtual time until the process ends
    bool endsNever = false;   // the process never ends by itself
    bool exitStatusReadable = true;
};

class Device;
using ProgramBehaviour = std::function<ProgramRun(Device&, const std::wstring& commandLine)>;

struct FileNode {
    std::wstring path;  // as created, device form ("\dir\name")
    std::wstring name;  // last component as created
    uint32_t attributes = 0;
    std::string content;
    uint64_t order = 0;           // creation order: the search order of a directory
    bool inUse = false;           // held open by another process: cannot be deleted
    bool deleteLeavesIt = false;  // a delete reports success, yet the entry stays
};

// One control of the simulated dialog template (kProgressTemplate).
struct DialogChild {
    std::wstring className;
    bool classNameReadable = true;
};

// The CAB path between the quotes of an installer command line
// (" /nouninstall /noui \"<path>\""); empty without a pair of quotes.
std::wstring quotedPath(const std::wstring& commandLine);

struct Process {
    uint32_t id = 0;
    std::wstring program;
    std::wstring commandLine;
    uint64_t endMs = 0;
    bool endsNever = false;
    bool ended = false;
    bool openable = true;
    bool exitStatusReadable = true;
    std::vector<uintptr_t> windows;
};

class Device {
public:
    // ---- set-up ---------------------------------------------------------------------
    void reset();

    // Creates the directories on the way. Paths are device paths ("\a\b").
    void addDirectory(const std::wstring& path, uint32_t attributes = 0);
    void addFile(const std::wstring& path, const std::string& content = "",
                 uint32_t attributes = 0);
    bool exists(const std::wstring& path) const;
    // The entry at a path, or null; change it through the setters below.
    const FileNode* node(const std::wstring& path) const;
    bool remove(const std::wstring& path);
    void setAttributes(const std::wstring& path, uint32_t attributes);
    void setContent(const std::wstring& path, const std::string& content);
    void setInUse(const std::wstring& path, bool inUse);
    void setDeleteLeavesIt(const std::wstring& path);
    // Bare names of a directory's entries, in search order.
    std::vector<std::wstring> list(const std::wstring& directory) const;
    // The device's form of a path, as entries are keyed: rooted, letters folded.
    std::wstring canonical(const std::wstring& path) const;

    // Desktop Windows and Wine also match "*.cab" against 8.3 aliases, so
    // "x.cabinet" matches; the device does not.
    void setDesktopAliasMatching(bool on) { desktopAliasMatching_ = on; }
    void setModulePath(const std::wstring& path) { modulePath_ = path; }

    // Registers a program at a device path; `windowClass` non-empty gives each
    // of its processes a top-level window of that class for its lifetime.
    void installProgram(const std::wstring& path, ProgramBehaviour behaviour,
                        const std::wstring& windowClass = L"");
    // A process already running, with a top-level window of `windowClass`.
    uint32_t spawnProcess(const std::wstring& program, const ProgramRun& run,
                          const std::wstring& windowClass);
    // A top-level window in front of the others, with no process behind it
    // unless `processId` names one.
    uintptr_t addTopLevelWindow(const std::wstring& className, uint32_t processId);
    void setClassNameReadable(uintptr_t window, bool readable);
    void setProcessOpenable(uint32_t processId, bool openable);
    const Process* process(uint32_t id) const;

    // Registry data is held as on the device, in UTF-16LE units (raw bytes may
    // be of odd length); queryValue hands each unit over as one host wchar_t.
    void setRegistryValue(const std::wstring& key, const std::wstring& name,
                          const std::vector<uint8_t>& data, uint32_t type = 1);
    void setRegistryString(const std::wstring& key, const std::wstring& name,
                           const std::wstring& text);
    void addRegistryKey(const std::wstring& key);
    bool registryKeyExists(const std::wstring& key) const;

    // The controls that dialogs from template 101 get, in child order. By
    // default the launcher's template: a "static" text above a
    // "msctls_progress32" bar. Change it for a template whose text or bar is
    // missing, whose class names cannot be read, or with other controls.
    void setDialogTemplate(const std::vector<DialogChild>& children) { template_ = children; }

    // ---- fault injection ---------------------------------------------------------------
    // The nth call (from 1, counted from now) of `op` fails.
    void failCall(Op op, int nth);
    // Every call of `op` fails from the nth on.
    void failFrom(Op op, int nth);
    // The nth fallible call of any operation fails; 0 turns it off.
    void failNthOverall(int nth)
    {
        overallFailAt_ = nth;
        overallCalls_ = 0;
    }
    int callCount(Op op) const { return callCounts_[static_cast<int>(op)]; }
    bool injectedFault() const { return injectedFaults_ > 0; }

    // ---- inspection --------------------------------------------------------------------
    uint64_t now() const { return nowMs_; }
    // Everything the logic did, in order.
    const std::vector<Event>& events() const { return events_; }
    // The events of one kind, in order.
    template <typename Kind> std::vector<Kind> eventsOf() const
    {
        std::vector<Kind> out;
        for (const Event& e : events_)
            if (const Kind* k = std::get_if<Kind>(&e.what))
                out.push_back(*k);
        return out;
    }
    // The paths deleted, in order.
    std::vector<std::wstring> deletions() const;
    const Window* window(uintptr_t id) const;
    // Live children of a window, in child order.
    std::vector<const Window*> children(uintptr_t parent) const;
    std::vector<const Window*> dialogs() const;
    int openHandleCount() const { return static_cast<int>(handles_.size()); }
    int outstandingAllocations() const { return static_cast<int>(allocations_.size()); }
    // A wait without limit on a process that never ends: the real device
    // would hang here.
    bool hungForever() const;

    // ---- the operations, as the provider hands them on ---------------------------------
    // One member per line of the operation table (SimOperations.h).
    VORLUND_SIM_OPERATIONS(VORLUND_SIM_DECLARE)

private:
    struct RegistryValue {
        uint32_t type = 1;
        std::vector<uint8_t> data;
    };
    // One entry of a directory's index. An entry deleted while a search is
    // open stays, marked, until no search is open, so that an open search
    // still returns what was there when it began (as a path, if it is back).
    struct DirectoryEntry {
        std::wstring path;       // canonical
        std::wstring name;       // as created
        uint64_t removedAt = 0;  // 0: still there
    };
    using Directory = std::map<uint64_t, DirectoryEntry>;  // by creation order
    // A search reads its directory's index from `position` on, taking only
    // the entries that were there when it began.
    struct Search {
        std::wstring directory;  // canonical
        std::wstring pattern;    // the last component
        bool aliases = false;    // desktop alias matching when it began
        uint64_t openedAt = 0;
        uint64_t position = 0;  // creation order of the last entry read
    };
    struct OpenFile {
        std::wstring path;  // canonical
        size_t offset = 0;
    };
    struct Program {
        ProgramBehaviour behaviour;
        std::wstring windowClass;
    };
    enum class Kind { File, Search, Process, Thread, Key };
    struct Handle {
        Kind kind;
        uint64_t target;  // process id, or an index into the maps below
    };
    struct Rule {
        Op op;
        int nth;
        bool persistent;
    };

    bool shouldFail(Op op);
    // Both waits: `answersSent` for the one that answers sent messages.
    void wait(device::ProcessHandle process, uint32_t milliseconds, bool answersSent);
    void record(EventData what) { events_.push_back(Event{nowMs_, std::move(what)}); }
    void advanceTo(uint64_t timeMs);
    uintptr_t newHandle(Kind kind, uint64_t target);
    bool handleIs(uintptr_t handle, Kind kind, uint64_t* target = nullptr) const;
    void releaseHandle(uintptr_t handle, Kind kind);
    Process* processOf(device::ProcessHandle process);
    Window* liveWindow(device::WindowHandle window);
    FileNode* mutableNode(const std::wstring& path);
    // Whether the entry at a canonical path is open for reading.
    bool isOpen(const std::wstring& canonicalPath) const;
    FileNode& makeNode(const std::wstring& canonicalPath, const std::wstring& parent,
                       const std::wstring& path);
    // The parent of a canonical path, created (as a directory) when missing.
    std::wstring withParent(const std::wstring& canonicalPath, const std::wstring& path);
    void eraseNode(std::unordered_map<std::wstring, FileNode>::iterator node);
    std::wstring parentOf(const std::wstring& canonicalPath) const;
    std::vector<const FileNode*> childrenOf(const std::wstring& canonicalDir) const;
    // Whether a search's last component matches a bare name, letter case
    // folded; with `aliases`, also its desktop 8.3 alias.
    static bool nameMatches(const std::wstring& pattern, const std::wstring& name, bool aliases);
    bool beginSearch(const wchar_t* pattern, Search* search) const;
    const FileNode* nextMatch(Search* search) const;
    uintptr_t createWindow(const std::wstring& className, uint32_t processId, uintptr_t parent);
    void destroyWindowTree(uintptr_t id);

    uint64_t nowMs_ = 0;
    std::unordered_map<std::wstring, FileNode> files_;  // canonical path → entry
    // Each directory's entries in creation order, so that a search reads one
    // directory and a plain name is looked up, as on the device.
    std::unordered_map<std::wstring, Directory> directories_;  // canonical directory → entries
    std::vector<std::pair<std::wstring, uint64_t>> removedDuringSearch_;
    uint64_t clock_ = 0;  // ticks at each creation, deletion and opened search
    bool desktopAliasMatching_ = false;
    std::map<uintptr_t, Search> searches_;
    std::map<uintptr_t, OpenFile> openFiles_;  // by handle: the file and how far it is read
    std::map<std::wstring, Program> programs_;
    std::map<uint32_t, Process> processes_;
    std::set<std::pair<uint64_t, uint32_t>> running_;  // (end time, id) of those that will end
    uint32_t nextProcessId_ = 100;
    std::map<uintptr_t, Window> windows_;
    std::map<uintptr_t, std::vector<uintptr_t>> childWindows_;  // parent → children by id
    std::vector<uintptr_t> zOrder_;  // top-level windows, first (front) to last
    std::vector<uintptr_t> walk_;    // zOrder_ as the last lastTopLevelWindow took it
    uintptr_t nextWindowId_ = 0x1000;
    std::vector<DialogChild> template_ = {{L"static"}, {L"msctls_progress32"}};
    std::map<std::wstring, std::map<std::wstring, RegistryValue>> registry_;  // canonical key
    std::map<uintptr_t, std::wstring> keyHandles_;
    std::wstring modulePath_;
    std::map<void*, size_t> allocations_;
    std::map<uintptr_t, Handle> handles_;
    uintptr_t nextHandle_ = 0x100;
    std::vector<Event> events_;
    std::vector<Rule> rules_;
    int callCounts_[kOpCount] = {};
    int overallFailAt_ = 0;
    int overallCalls_ = 0;
    int injectedFaults_ = 0;
};

// The simulated device behind the DeviceServices functions: the process-wide
// one, or the one a UseDevice has put in its place.
Device& current();

// Puts `device` behind the DeviceServices functions for its lifetime, so that
// a tool runs the shipped code on a device it owns; scopes nest.
class UseDevice {
public:
    explicit UseDevice(Device& device);
    ~UseDevice();
    UseDevice(const UseDevice&) = delete;
    UseDevice& operator=(const UseDevice&) = delete;

private:
    Device* previous_;
};

}  // namespace sim
