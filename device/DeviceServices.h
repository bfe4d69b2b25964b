// DeviceServices: the one set of platform operations that the launcher and the
// setup hook library use. The build links exactly one provider: device/win32
// (COREDLL on the device, Win32 under Wine) or device/sim (host tests, tools).
#ifndef VORLUND_DEVICE_SERVICES_H
#define VORLUND_DEVICE_SERVICES_H

#include <stddef.h>

#include "base/Integers.h"

// Everything of the platform layer is in `device`.
namespace device {

// Every argument is required (a valid handle, a non-null pointer) unless an
// operation says that null is allowed: the releasing operations ignore null;
// startProgram takes no command line and keeps no handle for null; windows
// may be owned by none.

// Opaque handles. A null handle means "absent". Providers cast their own
// handle values to these types; the logic never looks inside.
struct DeviceFile;
struct DeviceSearch;
struct DeviceProcess;
struct DeviceThread;
struct DeviceKey;
struct DeviceWindow;
struct DeviceModule;
typedef DeviceFile* FileHandle;
typedef DeviceSearch* SearchHandle;
typedef DeviceProcess* ProcessHandle;
typedef DeviceThread* ThreadHandle;
typedef DeviceKey* KeyHandle;
typedef DeviceWindow* WindowHandle;
typedef DeviceModule* ModuleHandle;

// Buffer capacities, each defined once for the logic and both providers.
const int kMaxPath = 260;          // wide characters with the terminator: module path,
                                   // directory, pattern, bare name, class name, status text
const int kMaxLongPath = 1024;     // wide characters with the terminator: a CAB path, the
                                   // list path, an installer command line
const int kReadBlockBytes = 4096;  // one read of the CAB list
const int kMaxNameBytes = 255;     // longest name the list may hold, in bytes
// Characters of the longest device path.
const int kMaxDevicePath = kMaxPath - 1;
// The longest CAB path the launcher builds: its directory (a prefix of its
// module path, a device path) and a listed name (at most one character a
// byte). It always fits kMaxLongPath, so no run-time check asks.
const int kMaxCabPath = kMaxDevicePath + kMaxNameBytes;
// C++98 has no static_assert: a negative array size fails the compile.
typedef char CabPathFitsLongPath[kMaxCabPath < kMaxLongPath ? 1 : -1];

// Attribute bits as the file system reports them on a search.
const UInt32 kAttrReadOnly = 0x01;
const UInt32 kAttrHidden = 0x02;
const UInt32 kAttrSystem = 0x04;
const UInt32 kAttrDirectory = 0x10;

const UInt32 kWaitForever = 0xFFFFFFFFu;

// One entry that a search reports.
struct FoundEntry {
    UInt32 attributes;
    wchar_t name[kMaxPath];  // bare name, always terminated
};

// ---- Heap -----------------------------------------------------------------

// Allocates `bytes` bytes; null when the heap cannot supply them.
void* allocateMemory(size_t bytes);
// Releases a block from allocateMemory; null is ignored.
void releaseMemory(void* block);

// ---- Files and searches -----------------------------------------------------

// Searches for `pattern` (a path whose last component may hold * and ?).
// True with the first match's attributes and bare name in *entry; false when
// nothing matches or the pattern cannot be searched. The search is over
// before the call returns.
bool findFirst(const wchar_t* pattern, FoundEntry* entry);

// The same search kept open so that later matches can be read in the
// platform's order. Null when nothing matches; otherwise *entry holds the
// first match and the search must be closed with findClose.
SearchHandle findOpen(const wchar_t* pattern, FoundEntry* entry);
// Next match of an open search into *entry; false when there is none.
bool findNext(SearchHandle search, FoundEntry* entry);
// Ends a search; null is ignored.
void findClose(SearchHandle search);

// Opens an existing file for reading, without sharing. Null on failure.
FileHandle openForRead(const wchar_t* path);
// Reads up to `capacity` bytes (at most kReadBlockBytes). True with the
// count in *bytesRead (0 at the end of the file); false when the read fails.
bool readBytes(FileHandle file, char* buffer, UInt32 capacity, UInt32* bytesRead);

// Deletes a file. False when it cannot (read-only, in use, a directory,
// missing); callers may ignore the result.
bool deleteFile(const wchar_t* path);

// Releases a file, process or thread handle. Null is ignored.
void closeHandle(FileHandle file);
void closeHandle(ProcessHandle process);
void closeHandle(ThreadHandle thread);

// ---- Processes ----------------------------------------------------------------

// Starts `program` (a full device path) with `commandLine` (null for none),
// without handle inheritance and with default creation flags. The command
// line is the caller's own writable buffer: the platform may write into it
// while it starts the program, so its text afterwards is not to be relied on.
// The process and thread handles are returned only where their pointers are
// non-null; otherwise none are kept. False when the program cannot be started.
bool startProgram(const wchar_t* program, wchar_t* commandLine, ProcessHandle* process,
                  ThreadHandle* thread);

// Waits until the process ends or `milliseconds` pass (kWaitForever: no
// limit). The outcome is not reported. Nothing sent to this thread's windows
// meanwhile is answered.
void waitProcess(ProcessHandle process, UInt32 milliseconds);

// The same wait, during which messages that other threads send to this
// thread's windows are answered, so that a process which sends to every
// top-level window (a settings or font change) is not stopped by ours.
// Posted messages are neither removed nor dispatched: there is still no
// message loop.
void waitProcessAnsweringSent(ProcessHandle process, UInt32 milliseconds);

// Whether the exit status of the process can be read.
bool exitStatusReadable(ProcessHandle process);

// Opens a process by id with full access. Null when it cannot be opened.
ProcessHandle openProcessById(UInt32 processId);

// Sleeps for `milliseconds`.
void pause(UInt32 milliseconds);

// Full path of the running program into buffer[capacity], terminated. False
// when it cannot be obtained or does not fit.
bool ownModulePath(wchar_t* buffer, int capacity);

// ---- Windows -------------------------------------------------------------------

// A walk over the top-level windows: lastTopLevelWindow takes the list of
// them as it is at that moment and answers its last window in Z-order;
// windowBefore answers the window before a given one (towards the first) in
// that same list. A window that closes or moves during the walk neither ends
// it nor is met twice (one that closed is still met, and reads as closed); one
// that appears during it is not in the list. Null when there is none.
WindowHandle lastTopLevelWindow();
WindowHandle windowBefore(WindowHandle window);

// Class name of a window into buffer[capacity] (at most kMaxPath),
// terminated. False when it cannot be read.
bool windowClassName(WindowHandle window, wchar_t* buffer, int capacity);

// Id of the process that owns the window; 0 when unknown.
UInt32 windowProcessId(WindowHandle window);

// First child window, and the next sibling of a child. Null when none.
WindowHandle firstChild(WindowHandle window);
WindowHandle nextSibling(WindowHandle window);

// Registration record of the common-controls classes: size 8 and a class
// selector (0x20 for the progress bar).
struct ControlClassRecord {
    UInt32 size;
    UInt32 classes;
};
// Registers the control classes the record selects. Callers ignore the result.
bool initProgressClass(const ControlClassRecord* record);

// A dialog's message procedure: window, message number, two parameters.
typedef ptrdiff_t (*DialogProcedure)(WindowHandle window, UInt32 message, size_t first,
                                     ptrdiff_t second);

// Creates a modeless dialog from template `templateId` of `module`, owned by
// `owner` (null for none), with `procedure` and initial value `value`.
// Null when it cannot be created.
WindowHandle createDialog(ModuleHandle module, int templateId, WindowHandle owner,
                          DialogProcedure procedure, ptrdiff_t value);

void showWindow(WindowHandle window, int command);
void bringToFront(WindowHandle window);
// Invalidates the window and paints it at once with the given redraw flags
// (0x181: invalidate, update now, children included).
void repaintNow(WindowHandle window, UInt32 flags);
void destroyWindow(WindowHandle window);
ptrdiff_t sendMessage(WindowHandle window, UInt32 message, size_t first, ptrdiff_t second);

// Modal message box owned by `owner` (null for none); returns once the user
// pressed OK.
void messageBox(WindowHandle owner, const wchar_t* text, const wchar_t* caption, UInt32 style);

// ---- Registry (current user's hive) --------------------------------------------

// Opens `subKey` of the current user's hive with `access`. Null on failure.
KeyHandle openUserKey(const wchar_t* subKey, UInt32 access);
// Queries value `name`. With buffer null, only the size is asked. *type and
// *sizeBytes go in preset and come back as the platform reports them; on
// input *sizeBytes is the buffer's capacity in bytes. False on failure.
bool queryValue(KeyHandle key, const wchar_t* name, UInt32* type, void* buffer, UInt32* sizeBytes);
// Releases a key; null is ignored.
void closeKey(KeyHandle key);
// Deletes `subKey` of the current user's hive with everything below it.
bool deleteUserKey(const wchar_t* subKey);

// ---- Text ------------------------------------------------------------------------

// Converts the 8-bit text `source` of `sourceBytes` bytes (a terminator
// among them or not) from the device's ANSI code page into wide[capacity],
// terminated after the converted text, always within it. False when the
// conversion fails; the text is then undefined.
bool ansiToWide(const char* source, int sourceBytes, wchar_t* wide, int capacity);

}  // namespace device

#endif
