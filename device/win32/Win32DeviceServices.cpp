// Win32DeviceServices: the DeviceServices operations over the Win32 API, built
// for Windows CE 5 (COREDLL, commctrl) and for desktop Windows / Wine alike.
//
// Platform boundary: only device/win32/ includes <windows.h> or <commctrl.h>
// or tests _WIN32_WCE (the device check, tests/device/device_check.py, fails
// otherwise); the logic sees the platform only through DeviceServices.h.
// Only functions that CE 5 exports are called here; the import checks hold
// every build to them.
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>

#include "base/WideText.h"
#include "device/DeviceServices.h"

namespace device {

namespace {

// More top-level windows than a device ever has: a walk's list holds the
// first ones in Z-order up to this many and leaves out the rest.
const int kMaxTopLevelWindows = 4096;

// The list of top-level windows that the walk goes over, in Z-order, taken
// once by lastTopLevelWindow; static, as the launcher's few heap blocks are
// spoken for. `gWalkAt` is where the walk stands, so that the next step needs
// no search.
HWND gTopLevel[kMaxTopLevelWindows];
int gTopLevelCount = 0;
int gWalkAt = 0;

BOOL CALLBACK collectTopLevel(HWND window, LPARAM)
{
    if (gTopLevelCount >= kMaxTopLevelWindows)
        return FALSE;
    gTopLevel[gTopLevelCount++] = window;
    return TRUE;
}

// Sent-message-only peeks where the headers have them; CE 5 documents no
// PM_QS_ flags, and its PeekMessage with PM_NOREMOVE leaves posted messages
// queued all the same.
#ifdef PM_QS_SENDMESSAGE
const UINT kPeekSentOnly = PM_NOREMOVE | PM_QS_SENDMESSAGE;
#else
const UINT kPeekSentOnly = PM_NOREMOVE;
#endif

#ifndef _WIN32_WCE
// A registry key name is at most 255 characters; deeper trees than this are
// refused rather than recursed into without limit.
const int kKeyNameCapacity = 256;
const int kKeyTreeDepthLimit = 32;
#endif

// Handles of the opaque types of DeviceServices.h and back.
template <typename Opaque> Opaque toOpaque(HANDLE handle)
{
    return reinterpret_cast<Opaque>(handle);
}

HANDLE fromOpaque(void* opaque)
{
    return reinterpret_cast<HANDLE>(opaque);
}

HWND toHwnd(WindowHandle window)
{
    return reinterpret_cast<HWND>(window);
}

WindowHandle fromHwnd(HWND hwnd)
{
    return reinterpret_cast<WindowHandle>(hwnd);
}

void fillEntry(const WIN32_FIND_DATAW& data, FoundEntry* entry)
{
    entry->attributes = static_cast<UInt32>(data.dwFileAttributes);
    // cFileName has the capacity of entry->name (MAX_PATH), so it always fits.
    vorlund::copyText(entry->name, kMaxPath, data.cFileName);
}

// The dialog procedure of the logic. DialogProcedure is not a DLGPROC, so the
// one dialog the launcher creates goes through the trampoline below. It is set
// before the dialog is created because WM_INITDIALOG arrives inside that call.
DialogProcedure gDialogProcedure = NULL;

#ifdef _WIN32_WCE
typedef BOOL DialogResult;  // CE declares DLGPROC as returning BOOL.
#else
typedef INT_PTR DialogResult;
#endif

DialogResult CALLBACK dialogTrampoline(HWND hwnd, UINT message, WPARAM first, LPARAM second)
{
    if (gDialogProcedure == NULL)
        return 0;
    ptrdiff_t answer = gDialogProcedure(fromHwnd(hwnd), static_cast<UInt32>(message),
                                        static_cast<size_t>(first), static_cast<ptrdiff_t>(second));
    return static_cast<DialogResult>(answer);
}

#ifndef _WIN32_WCE
// The desktop RegDeleteKey refuses a key that has subkeys (CE's deletes the
// whole tree), so the tree is taken down from its leaves here.
bool deleteKeyTree(HKEY parent, const wchar_t* name, int depth)
{
    if (depth > kKeyTreeDepthLimit)
        return false;
    HKEY key = NULL;
    if (RegOpenKeyExW(parent, name, 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    bool childrenGone = true;
    for (;;) {
        wchar_t child[kKeyNameCapacity];
        DWORD length = kKeyNameCapacity;
        LONG status = RegEnumKeyExW(key, 0, child, &length, NULL, NULL, NULL, NULL);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        // Index 0 again after each deletion; a child that stays would be
        // returned for ever, so any failure ends the walk.
        if (status != ERROR_SUCCESS || !deleteKeyTree(key, child, depth + 1)) {
            childrenGone = false;
            break;
        }
    }
    RegCloseKey(key);
    if (!childrenGone)
        return false;
    return RegDeleteKeyW(parent, name) == ERROR_SUCCESS;
}
#endif

}  // namespace

// ---- Heap -----------------------------------------------------------------

void* allocateMemory(size_t bytes)
{
    return reinterpret_cast<void*>(LocalAlloc(LMEM_FIXED, bytes));
}

void releaseMemory(void* block)
{
    if (block != NULL)
        LocalFree(reinterpret_cast<HLOCAL>(block));
}

// ---- Files and searches -----------------------------------------------------

bool findFirst(const wchar_t* pattern, FoundEntry* entry)
{
    SearchHandle search = findOpen(pattern, entry);
    if (search == NULL)
        return false;
    findClose(search);
    return true;
}

SearchHandle findOpen(const wchar_t* pattern, FoundEntry* entry)
{
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(pattern, &data);
    if (search == INVALID_HANDLE_VALUE)
        return NULL;
    fillEntry(data, entry);
    return toOpaque<SearchHandle>(search);
}

bool findNext(SearchHandle search, FoundEntry* entry)
{
    WIN32_FIND_DATAW data;
    if (!FindNextFileW(fromOpaque(search), &data))
        return false;
    fillEntry(data, entry);
    return true;
}

void findClose(SearchHandle search)
{
    if (search != NULL)
        FindClose(fromOpaque(search));
}

FileHandle openForRead(const wchar_t* path)
{
    HANDLE file =
        CreateFileW(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    return toOpaque<FileHandle>(file);
}

bool readBytes(FileHandle file, char* buffer, UInt32 capacity, UInt32* bytesRead)
{
    *bytesRead = 0;
    DWORD count = 0;
    if (!ReadFile(fromOpaque(file), buffer, capacity, &count, NULL))
        return false;
    *bytesRead = static_cast<UInt32>(count);
    return true;
}

bool deleteFile(const wchar_t* path)
{
    return DeleteFileW(path) != 0;
}

void closeHandle(FileHandle file)
{
    if (file != NULL)
        CloseHandle(fromOpaque(file));
}

void closeHandle(ProcessHandle process)
{
    if (process != NULL)
        CloseHandle(fromOpaque(process));
}

void closeHandle(ThreadHandle thread)
{
    if (thread != NULL)
        CloseHandle(fromOpaque(thread));
}

// ---- Processes ----------------------------------------------------------------

bool startProgram(const wchar_t* program, wchar_t* commandLine, ProcessHandle* process,
                  ThreadHandle* thread)
{
    if (process != NULL)
        *process = NULL;
    if (thread != NULL)
        *thread = NULL;
    // CreateProcessW may write into the command line: it is the caller's own
    // buffer (a copy here would cost the launcher another 2 KB of stack).
    PROCESS_INFORMATION info;
    info.hProcess = NULL;
    info.hThread = NULL;
    info.dwProcessId = 0;
    info.dwThreadId = 0;
#ifdef _WIN32_WCE
    // CE takes no security attributes, inheritance, environment, current
    // directory or startup information.
    BOOL started =
        CreateProcessW(program, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, NULL, &info);
#else
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    BOOL started =
        CreateProcessW(program, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info);
#endif
    if (!started)
        return false;
    if (process != NULL)
        *process = toOpaque<ProcessHandle>(info.hProcess);
    else
        CloseHandle(info.hProcess);
    if (thread != NULL)
        *thread = toOpaque<ThreadHandle>(info.hThread);
    else
        CloseHandle(info.hThread);
    return true;
}

void waitProcess(ProcessHandle process, UInt32 milliseconds)
{
    WaitForSingleObject(fromOpaque(process), milliseconds);
}

void waitProcessAnsweringSent(ProcessHandle process, UInt32 milliseconds)
{
    HANDLE handle = fromOpaque(process);
    DWORD began = GetTickCount();
    for (;;) {
        DWORD left = milliseconds;
        if (milliseconds != kWaitForever) {
            DWORD spent = GetTickCount() - began;
            if (spent >= milliseconds)
                return;
            left = milliseconds - spent;
        }
        // Wakes for the process's end or a message sent by another thread;
        // the peek lets the system deliver what was sent and removes nothing.
        DWORD woke = MsgWaitForMultipleObjectsEx(1, &handle, left, QS_SENDMESSAGE, 0);
        if (woke == WAIT_FAILED) {
            WaitForSingleObject(handle, left);  // a plain wait rather than none
            return;
        }
        if (woke != WAIT_OBJECT_0 + 1)
            return;  // ended or timed out
        MSG message;
        PeekMessageW(&message, NULL, 0, 0, kPeekSentOnly);
    }
}

bool exitStatusReadable(ProcessHandle process)
{
    DWORD status = 0;
    return GetExitCodeProcess(fromOpaque(process), &status) != 0;
}

ProcessHandle openProcessById(UInt32 processId)
{
#ifdef _WIN32_WCE
    // CE has no access rights on processes: the mask must be zero.
    HANDLE process = OpenProcess(0, FALSE, processId);
#else
    HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId);
#endif
    return toOpaque<ProcessHandle>(process);
}

void pause(UInt32 milliseconds)
{
    Sleep(milliseconds);
}

bool ownModulePath(wchar_t* buffer, int capacity)
{
    if (capacity <= 0)
        return false;
    buffer[capacity - 1] = L'\0';
    DWORD length = GetModuleFileNameW(NULL, buffer, static_cast<DWORD>(capacity));
    // A full buffer means the path was cut (older systems do not even
    // terminate it then).
    if (length == 0 || length >= static_cast<DWORD>(capacity)) {
        buffer[0] = L'\0';
        return false;
    }
    buffer[length] = L'\0';
    return true;
}

// ---- Windows -------------------------------------------------------------------

WindowHandle lastTopLevelWindow()
{
    // One EnumWindows, front to back, topmost windows included (GW_HWNDLAST
    // asked of a topmost window would stop at the topmost ones). The walk
    // goes over this list, not the live Z-order: asking a window that has
    // closed for its predecessor would answer none and end the walk.
    gTopLevelCount = 0;
    EnumWindows(collectTopLevel, 0);
    if (gTopLevelCount == 0)
        return NULL;
    gWalkAt = gTopLevelCount - 1;
    return fromHwnd(gTopLevel[gWalkAt]);
}

WindowHandle windowBefore(WindowHandle window)
{
    HWND wanted = toHwnd(window);
    // Where the walk stands, unless it is asked of another window of the list.
    int at = gWalkAt;
    if (at >= gTopLevelCount || gTopLevel[at] != wanted) {
        at = gTopLevelCount - 1;
        while (at >= 0 && gTopLevel[at] != wanted)
            --at;
    }
    if (at <= 0)
        return NULL;
    gWalkAt = at - 1;
    return fromHwnd(gTopLevel[gWalkAt]);
}

bool windowClassName(WindowHandle window, wchar_t* buffer, int capacity)
{
    if (capacity <= 0)
        return false;
    int length = GetClassNameW(toHwnd(window), buffer, capacity);
    if (length <= 0) {
        buffer[0] = L'\0';
        return false;
    }
    buffer[capacity - 1] = L'\0';
    return true;
}

UInt32 windowProcessId(WindowHandle window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(toHwnd(window), &processId);
    return static_cast<UInt32>(processId);
}

WindowHandle firstChild(WindowHandle window)
{
    return fromHwnd(GetWindow(toHwnd(window), GW_CHILD));
}

WindowHandle nextSibling(WindowHandle window)
{
    return fromHwnd(GetWindow(toHwnd(window), GW_HWNDNEXT));
}

bool initProgressClass(const ControlClassRecord* record)
{
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = static_cast<DWORD>(record->size);
    controls.dwICC = static_cast<DWORD>(record->classes);
    return InitCommonControlsEx(&controls) != FALSE;
}

WindowHandle createDialog(ModuleHandle module, int templateId, WindowHandle owner,
                          DialogProcedure procedure, ptrdiff_t value)
{
    // COREDLL does not export CreateDialogParamW: CE's headers spell it as
    // these three calls. Every build takes the same road, so the desktop
    // build imports exactly what the device build will.
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(module);
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(templateId), RT_DIALOG);
    if (found == NULL)
        return NULL;
    // The loaded resource's handle is the template's address: LockResource is
    // a macro that hands it back on CE, and returns it unchanged on the desktop.
    LPCDLGTEMPLATEW dialogTemplate =
        reinterpret_cast<LPCDLGTEMPLATEW>(LoadResource(instance, found));
    if (dialogTemplate == NULL)
        return NULL;
    gDialogProcedure = procedure;
    HWND dialog = CreateDialogIndirectParamW(instance, dialogTemplate, toHwnd(owner),
                                             dialogTrampoline, static_cast<LPARAM>(value));
    return fromHwnd(dialog);
}

void showWindow(WindowHandle window, int command)
{
    ShowWindow(toHwnd(window), command);
}

void bringToFront(WindowHandle window)
{
    SetForegroundWindow(toHwnd(window));
}

void repaintNow(WindowHandle window, UInt32 flags)
{
    RedrawWindow(toHwnd(window), NULL, NULL, flags);
}

void destroyWindow(WindowHandle window)
{
    DestroyWindow(toHwnd(window));
}

ptrdiff_t sendMessage(WindowHandle window, UInt32 message, size_t first, ptrdiff_t second)
{
    return static_cast<ptrdiff_t>(SendMessageW(toHwnd(window), message, static_cast<WPARAM>(first),
                                               static_cast<LPARAM>(second)));
}

void messageBox(WindowHandle owner, const wchar_t* text, const wchar_t* caption, UInt32 style)
{
    MessageBoxW(toHwnd(owner), text, caption, style);
}

// ---- Registry (current user's hive) --------------------------------------------

KeyHandle openUserKey(const wchar_t* subKey, UInt32 access)
{
    HKEY key = NULL;
#ifdef _WIN32_WCE
    // CE has no access rights on keys: the mask must be zero.
    (void)access;
    LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, subKey, 0, 0, &key);
#else
    LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, subKey, 0, access, &key);
#endif
    if (status != ERROR_SUCCESS)
        return NULL;
    return reinterpret_cast<KeyHandle>(key);
}

bool queryValue(KeyHandle key, const wchar_t* name, UInt32* type, void* buffer, UInt32* sizeBytes)
{
    DWORD valueType = static_cast<DWORD>(*type);
    DWORD size = static_cast<DWORD>(*sizeBytes);
    LONG status = RegQueryValueExW(reinterpret_cast<HKEY>(key), name, NULL, &valueType,
                                   static_cast<LPBYTE>(buffer), &size);
    *type = static_cast<UInt32>(valueType);
    *sizeBytes = static_cast<UInt32>(size);
    return status == ERROR_SUCCESS;
}

void closeKey(KeyHandle key)
{
    if (key != NULL)
        RegCloseKey(reinterpret_cast<HKEY>(key));
}

bool deleteUserKey(const wchar_t* subKey)
{
#ifdef _WIN32_WCE
    return RegDeleteKeyW(HKEY_CURRENT_USER, subKey) == ERROR_SUCCESS;
#else
    return deleteKeyTree(HKEY_CURRENT_USER, subKey, 0);
#endif
}

// ---- Text ------------------------------------------------------------------------

bool ansiToWide(const char* source, int sourceBytes, wchar_t* wide, int capacity)
{
    if (capacity <= 0)
        return false;
    int written = MultiByteToWideChar(CP_ACP, 0, source, sourceBytes, wide, capacity);
    if (written <= 0) {
        wide[capacity - 1] = L'\0';
        return false;
    }
    // The source carries its terminator; a source without one still leaves a
    // terminated result.
    if (written < capacity)
        wide[written] = L'\0';
    else
        wide[capacity - 1] = L'\0';
    return true;
}

}  // namespace device
