// The simulated device: storage, processes, windows, registry, message boxes
// and a virtual clock behind the DeviceServices operations, with a control
// interface through which tests and tools set it up, script it and inspect it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/DeviceServices.h"

namespace sim {

// Operations that can be made to fail.
enum class Op {
    FindFirst, FindOpen, FindNext, OpenForRead, ReadBytes, DeleteFile,
    StartProgram, WaitProcess, ExitStatusReadable, OpenProcessById,
    OwnModulePath, LastTopLevelWindow, WindowBefore, WindowClassName,
    WindowProcessId, FirstChild, NextSibling, InitProgressClass, CreateDialog,
    SendMessage, OpenUserKey, QueryValue, DeleteUserKey, AnsiToWide, Allocate,
    Count
};
const char* opName(Op op);
constexpr int kOpCount = static_cast<int>(Op::Count);

// What one run of a registered program does. Its effects on the device are
// made by the behaviour callback when the program starts.
struct ProgramRun {
    uint64_t durationMs = 0;      // virtual time until the process ends
    bool endsNever = false;       // the process never ends by itself
    uint32_t exitCode = 0;
    bool exitStatusReadable = true;
};

class Device;
using ProgramBehaviour = std::function<ProgramRun(Device&, const std::wstring& commandLine)>;

struct MessageBoxRecord {
    uintptr_t owner;  // window id, 0 for none
    std::wstring text;
    std::wstring caption;
    uint32_t style;
    uint64_t timeMs;
};

struct StartRecord {
    std::wstring program;
    std::wstring commandLine;  // empty with hasCommandLine false: none given
    bool hasCommandLine;
    bool keptHandles;
    uint64_t timeMs;
};

struct MessageRecord {
    uintptr_t window;
    uint32_t message;
    size_t first;
    std::wstring text;  // the text of a WM_SETTEXT (12)
    ptrdiff_t second;
};

struct FileNode {
    std::wstring path;     // as created, device form ("\dir\name")
    std::wstring name;     // last component as created
    uint32_t attributes = 0;
    std::string content;
    uint64_t order = 0;    // creation order: the search order of a directory
    bool inUse = false;    // held open by another process: cannot be deleted
};

struct Window {
    uintptr_t id = 0;
    std::wstring className;
    std::wstring text;
    uint32_t processId = 0;
    uintptr_t parent = 0;
    int controlId = 0;
    uint32_t style = 0;
    bool visible = false;
    bool destroyed = false;
    bool classNameReadable = true;  // false: windowClassName fails for it
    // Progress-bar state (messages 1025 and 1026), as last sent.
    uint32_t rangePacked = 0;
    int32_t position = 0;
    DialogProcedure procedure = nullptr;
};

// The share of a progress bar that the control draws filled, 0 to 1: the
// range is read as two unsigned 16-bit bounds (low: lower, high: upper) and
// the position is clamped into it, as the common control does.
double barFill(const Window& bar);

// One control of the simulated dialog template 101.
struct DialogChild {
    std::wstring className;
    bool classNameReadable = true;
};

// What a window showed at one synchronous repaint (repaintNow): its state and
// that of its child windows at that moment.
struct RepaintRecord {
    uintptr_t window;
    uint32_t flags;
    uint64_t timeMs;
    bool visible;
    std::vector<Window> children;  // in child order
    // The first child of a class (exact name), or null.
    const Window* child(const std::wstring& className) const;
    // Text of the first "static" child; empty without one.
    std::wstring statusText() const;
};

struct Process {
    uint32_t id = 0;
    std::wstring program;
    std::wstring commandLine;
    uint64_t startMs = 0;
    uint64_t endMs = 0;
    bool endsNever = false;
    bool ended = false;
    bool openable = true;
    uint32_t exitCode = 0;
    bool exitStatusReadable = true;
    std::vector<uintptr_t> windows;
};

struct RegistryValue {
    uint32_t type = 1;
    std::vector<uint8_t> data;
};

class Device {
public:
    // ---- set-up -----------------------------------------------------------------
    void reset();

    // Creates the directories on the way. Paths are device paths ("\a\b").
    void addDirectory(const std::wstring& path, uint32_t attributes = 0);
    void addFile(const std::wstring& path, const std::string& content = "", uint32_t attributes = 0);
    bool exists(const std::wstring& path) const;
    const FileNode* node(const std::wstring& path) const;
    FileNode* node(const std::wstring& path);
    bool remove(const std::wstring& path);
    void setAttributes(const std::wstring& path, uint32_t attributes);
    // Bare names of a directory's entries, in search order.
    std::vector<std::wstring> list(const std::wstring& directory) const;

    // Desktop Windows and Wine also match "*.cab" against 8.3 aliases, so
    // "x.cabinet" matches; the device does not.
    bool desktopAliasMatching = false;

    void setModulePath(const std::wstring& path) { modulePath_ = path; hasModulePath_ = true; }

    // Registers a program at a device path; `windowClass` non-empty gives each
    // of its processes a top-level window of that class for its lifetime.
    void installProgram(const std::wstring& path, ProgramBehaviour behaviour,
                        const std::wstring& windowClass = L"");
    // A process already running, with a top-level window of `windowClass`.
    uint32_t spawnProcess(const std::wstring& program, const ProgramRun& run,
                          const std::wstring& windowClass);
    // A top-level window with no process behind it that can be opened.
    uintptr_t addTopLevelWindow(const std::wstring& className, uint32_t processId);
    Process* process(uint32_t id);

    // Registry data is held as on the device, in UTF-16LE units (raw bytes may
    // be of odd length); queryValue hands each unit over as one host wchar_t.
    void setRegistryValue(const std::wstring& key, const std::wstring& name,
                          const std::vector<uint8_t>& data, uint32_t type = 1);
    void setRegistryString(const std::wstring& key, const std::wstring& name,
                           const std::wstring& text);
    void addRegistryKey(const std::wstring& key);
    bool registryKeyExists(const std::wstring& key) const;

    // The next dialog creation fails (window cannot be created).
    bool dialogCreationFails = false;
    // The controls that dialogs from template 101 get, in child order. By
    // default the launcher's template: a "static" text above a
    // "msctls_progress32" bar. Change it for a template whose text or bar is
    // missing, whose class names cannot be read, or with other controls.
    std::vector<DialogChild> dialogTemplate = {{L"static"}, {L"msctls_progress32"}};

    // ---- fault injection ------------------------------------------------------------
    // The nth call (from 1, counted from now) of `op` fails.
    void failCall(Op op, int nth);
    // Every call of `op` fails from the nth on.
    void failFrom(Op op, int nth);
    // The nth fallible call of any operation fails; 0 turns it off.
    void failNthOverall(int nth) { overallFailAt_ = nth; overallCalls_ = 0; }
    int callCount(Op op) const { return callCounts_[static_cast<int>(op)]; }
    int overallCalls() const { return overallCalls_; }
    bool injectedFault() const { return injectedFaults_ > 0; }

    // ---- inspection -------------------------------------------------------------------
    uint64_t now() const { return nowMs_; }
    const std::vector<MessageBoxRecord>& messageBoxes() const { return messageBoxes_; }
    const std::vector<StartRecord>& starts() const { return starts_; }
    const std::vector<std::wstring>& deletions() const { return deletions_; }
    const std::vector<uint64_t>& pauses() const { return pauses_; }
    // (process id, milliseconds asked, milliseconds waited) of each wait.
    struct WaitRecord { uint32_t processId; uint32_t askedMs; uint64_t waitedMs; };
    const std::vector<WaitRecord>& waits() const { return waits_; }
    const std::vector<MessageRecord>& sentMessages() const { return sent_; }
    // Every repaintNow, in order, with what the window showed.
    const std::vector<RepaintRecord>& repaints() const { return repaints_; }
    // Every visible event in order, one line each, for order assertions and tools.
    const std::vector<std::wstring>& trace() const { return trace_; }
    const Window* window(uintptr_t id) const;
    std::vector<const Window*> dialogs() const;

    // Open handles by kind ("file", "search", "process", "thread", "key").
    std::map<std::string, int> openHandles() const;
    int openHandleCount() const { return static_cast<int>(handles_.size()); }
    int outstandingAllocations() const { return static_cast<int>(allocations_.size()); }
    // A wait without limit on a process that never ends: the real device
    // would hang here.
    bool hungForever() const { return hungForever_; }

    // ---- used by the provider --------------------------------------------------------
    bool shouldFail(Op op);
    void advanceTo(uint64_t timeMs);
    uintptr_t newHandle(const std::string& kind, uint64_t target);
    bool handleIs(uintptr_t handle, const std::string& kind, uint64_t* target) const;
    void releaseHandle(uintptr_t handle, const std::string& kind);
    void note(const std::wstring& line) { trace_.push_back(line); }

    std::wstring canonical(const std::wstring& path) const;
    std::wstring parentOf(const std::wstring& canonicalPath) const;
    std::vector<FileNode*> childrenOf(const std::wstring& canonicalDir);
    bool matches(const std::wstring& pattern, const std::wstring& name) const;

    std::map<std::wstring, FileNode> files_;  // canonical path → node
    uint64_t nextOrder_ = 1;
    std::set<std::wstring> openFiles_;        // canonical paths open for reading
    struct Search { std::vector<std::wstring> names; size_t next = 0; };
    std::map<uintptr_t, Search> searches_;
    struct OpenFile { std::wstring path; size_t offset = 0; };
    std::map<uintptr_t, OpenFile> files_open_;

    struct Program { ProgramBehaviour behaviour; std::wstring windowClass; };
    std::map<std::wstring, Program> programs_;
    std::map<uint32_t, Process> processes_;
    uint32_t nextProcessId_ = 100;

    std::map<uintptr_t, Window> windows_;
    std::vector<uintptr_t> zOrder_;  // top-level windows, first (front) to last
    uintptr_t nextWindowId_ = 0x1000;
    uintptr_t createWindow(const std::wstring& className, uint32_t processId, uintptr_t parent);
    void destroyWindowTree(uintptr_t id);
    void endProcess(Process& p);

    std::map<std::wstring, std::map<std::wstring, RegistryValue>> registry_;  // canonical key → values
    std::map<uintptr_t, std::wstring> keyHandles_;

    std::wstring modulePath_;
    bool hasModulePath_ = false;

    std::map<void*, size_t> allocations_;
    std::vector<MessageBoxRecord> messageBoxes_;
    std::vector<StartRecord> starts_;
    std::vector<std::wstring> deletions_;
    std::vector<uint64_t> pauses_;
    std::vector<WaitRecord> waits_;
    std::vector<MessageRecord> sent_;
    std::vector<RepaintRecord> repaints_;
    std::vector<std::wstring> trace_;
    bool hungForever_ = false;

private:
    uint64_t nowMs_ = 0;
    struct Rule { Op op; int nth; bool persistent; };
    std::vector<Rule> rules_;
    int callCounts_[kOpCount] = {};
    int overallFailAt_ = 0;
    int overallCalls_ = 0;
    int injectedFaults_ = 0;
    struct HandleRecord { std::string kind; uint64_t target; };
    std::map<uintptr_t, HandleRecord> handles_;
    uintptr_t nextHandle_ = 0x100;
};

// The one simulated device behind the DeviceServices functions.
Device& device();

// Windows-1252 text of a wide string (characters it cannot hold become '?').
std::string toAnsi(const std::wstring& text);
std::wstring fromAnsi(const std::string& text);
std::string narrow(const std::wstring& text);  // UTF-8, for printing

// The number behind an opaque handle, as the simulated device keys it.
inline uintptr_t idOf(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }

}  // namespace sim
