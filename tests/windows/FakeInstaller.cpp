// FakeInstaller: stands in for the platform CAB installer "\windows\wceload.exe"
// in the Wine tests. It journals its exact command line, owns a top-level
// window of class "MSWCELOAD" while it runs, and does what the control file
// asks for the CAB it was given: take time, exit non-zero, delete the CAB.
//
//   C:\VorlundTest\journal.txt   lines appended: "start", "end" (tab-separated)
//   C:\VorlundTest\installer.txt lines "<cab name or *> sleep <ms>|exit <code>|delete"
//
// Started as "wceload.exe --hold <ms>" it only holds its window for that long:
// an installer that is already running when the launcher starts. Started as
// "wceload.exe [--linger <ms>] [--calls <hook>,...] --hook <dll>" it plays the
// platform installer's side of the setup library: owns its window, loads the
// library, calls the named hooks (Install_Exit alone by default) with that
// window as the first parameter, journals each result, then keeps its window
// for <ms> more before it ends, as the real installer finishes its own work.
#include <windows.h>
#include <tlhelp32.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "Journal.h"

namespace {

const wchar_t kJournal[] = L"C:\\VorlundTest\\journal.txt";
const wchar_t kControl[] = L"C:\\VorlundTest\\installer.txt";
const wchar_t kWindowClass[] = L"MSWCELOAD";

void journal(const std::wstring& line) {
    appendJournal(kJournal, line);
}

std::wstring readControl() {
    HANDLE file = CreateFileW(kControl, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return std::wstring();
    std::string bytes;
    char block[4096];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof(block), &got, NULL) && got > 0) bytes.append(block, got);
    CloseHandle(file);
    if (bytes.empty()) return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), NULL, 0);
    std::wstring text(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), &text[0], size);
    return text;
}

// The CAB path: what stands between the first pair of double quotes.
std::wstring cabPathOf(const std::wstring& commandLine) {
    size_t open = commandLine.find(L'"');
    if (open == std::wstring::npos) return std::wstring();
    size_t close = commandLine.find(L'"', open + 1);
    if (close == std::wstring::npos) return std::wstring();
    return commandLine.substr(open + 1, close - open - 1);
}

std::wstring baseName(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

struct Plan {
    DWORD sleepMs;
    int exitCode;
    bool deleteCab;
};

Plan planFor(const std::wstring& cabName) {
    Plan plan = {0, 0, false};
    std::wstring text = readControl();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(L"\r\n", start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 1;
        wchar_t match[512], action[32];
        long value = 0;
        int fields = swscanf(line.c_str(), L"%511ls %31ls %ld", match, action, &value);
        if (fields < 2) continue;
        if (wcscmp(match, L"*") != 0 && _wcsicmp(match, cabName.c_str()) != 0) continue;
        if (wcscmp(action, L"sleep") == 0) plan.sleepMs = (DWORD)value;
        if (wcscmp(action, L"exit") == 0) plan.exitCode = (int)value;
        if (wcscmp(action, L"delete") == 0) plan.deleteCab = true;
    }
    return plan;
}

// Another process's installer window, if any: the launcher must never run
// two installers at once.
bool otherInstallerWindow() {
    HWND window = NULL;
    while ((window = FindWindowExW(NULL, window, kWindowClass, NULL)) != NULL) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != GetCurrentProcessId()) return true;
    }
    return false;
}

void pumpFor(DWORD milliseconds) {
    DWORD startTick = GetTickCount();
    for (;;) {
        DWORD spent = GetTickCount() - startTick;
        if (spent >= milliseconds) return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, milliseconds - spent, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

// How many other processes of this program's file name are running: the
// launcher must not start an installer while another one is still alive.
int otherInstallerProcesses() {
    wchar_t ownPath[MAX_PATH] = L"";
    GetModuleFileNameW(NULL, ownPath, MAX_PATH);
    const wchar_t* ownName = wcsrchr(ownPath, L'\\') ? wcsrchr(ownPath, L'\\') + 1 : ownPath;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID != GetCurrentProcessId() && _wcsicmp(entry.szExeFile, ownName) == 0)
            ++count;
    CloseHandle(snapshot);
    return count;
}

HWND createInstallerWindow(HINSTANCE instance) {
    WNDCLASSW windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, kWindowClass, L"Installing", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL,
                           instance, NULL);
}

// The value after `flag` in the part of the command line before `end`.
std::wstring optionValue(const std::wstring& commandLine, size_t end, const wchar_t* flag) {
    size_t at = commandLine.find(flag);
    if (at == std::wstring::npos || at >= end) return std::wstring();
    size_t start = at + wcslen(flag);
    size_t stop = commandLine.find(L' ', start);
    return commandLine.substr(start, (stop == std::wstring::npos ? end : stop) - start);
}

// The hooks with the parameter lists of the platform's setup-library contract.
typedef int (*InstallInitHook)(HWND, BOOL, BOOL, const wchar_t*);
typedef int (*InstallExitHook)(HWND, const wchar_t*, WORD, WORD, WORD, WORD, WORD);
typedef int (*UninstallInitHook)(HWND, const wchar_t*);
typedef int (*UninstallExitHook)(HWND);

// Calls one hook by name; the result as text, or why it could not be called.
std::wstring callHook(HMODULE module, const std::wstring& name, HWND window) {
    FARPROC entry = module ? GetProcAddress(module, toUtf8(name).c_str()) : NULL;
    if (!entry) return module ? L"missing" : L"unloadable";
    const wchar_t* directory = L"C:\\Bundle";
    int result = 0;
    if (name == L"Install_Init")
        result = ((InstallInitHook)(void*)entry)(window, TRUE, FALSE, directory);
    else if (name == L"Install_Exit")
        result = ((InstallExitHook)(void*)entry)(window, directory, 0, 0, 0, 0, 0);
    else if (name == L"Uninstall_Init")
        result = ((UninstallInitHook)(void*)entry)(window, directory);
    else if (name == L"Uninstall_Exit")
        result = ((UninstallExitHook)(void*)entry)(window);
    else
        return L"unknown";
    wchar_t text[32];
    swprintf(text, 32, L"%d", result);
    return text;
}

int hostSetupLibrary(HINSTANCE instance, const std::wstring& commandLine, size_t hookAt,
                     const wchar_t* pid) {
    std::wstring library = commandLine.substr(hookAt + wcslen(L"--hook "));
    std::wstring calls = optionValue(commandLine, hookAt, L"--calls ");
    if (calls.empty()) calls = L"Install_Exit";
    DWORD lingerMs = (DWORD)_wtol(optionValue(commandLine, hookAt, L"--linger ").c_str());

    HWND window = createInstallerWindow(instance);
    journal(std::wstring(L"host-start\t") + pid + L"\t" + (window ? L"window" : L"nowindow"));
    HMODULE module = LoadLibraryW(library.c_str());
    size_t start = 0;
    while (start <= calls.size()) {
        size_t comma = calls.find(L',', start);
        if (comma == std::wstring::npos) comma = calls.size();
        std::wstring name = calls.substr(start, comma - start);
        journal(std::wstring(L"hook\t") + pid + L"\t" + name + L"\t" + callHook(module, name, window));
        start = comma + 1;
    }
    if (module) FreeLibrary(module);
    pumpFor(lingerMs);
    journal(std::wstring(L"host-end\t") + pid);
    if (window) DestroyWindow(window);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    std::wstring commandLine = GetCommandLineW();
    wchar_t pid[32];
    swprintf(pid, 32, L"%lu", GetCurrentProcessId());

    const std::wstring holdFlag = L"--hold ";
    size_t hold = commandLine.find(holdFlag);
    if (hold != std::wstring::npos) {
        DWORD ms = (DWORD)_wtol(commandLine.c_str() + hold + holdFlag.size());
        HWND window = createInstallerWindow(instance);
        journal(std::wstring(L"hold-start\t") + pid + L"\t" + (window ? L"window" : L"nowindow"));
        pumpFor(ms);
        journal(std::wstring(L"hold-end\t") + pid);
        if (window) DestroyWindow(window);
        return 0;
    }

    const std::wstring hookFlag = L"--hook ";
    size_t hook = commandLine.find(hookFlag);
    if (hook != std::wstring::npos) return hostSetupLibrary(instance, commandLine, hook, pid);

    std::wstring cabPath = cabPathOf(commandLine);
    bool existed = GetFileAttributesW(cabPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    bool overlap = otherInstallerWindow();
    wchar_t cwd[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, cwd);
    wchar_t others[16];
    swprintf(others, 16, L"%d", otherInstallerProcesses());
    // Fields: pid, command line, CAB there or not, another installer window
    // or not, current directory, other installer processes running.
    journal(std::wstring(L"start\t") + pid + L"\t" + commandLine + L"\t" +
            (existed ? L"exists" : L"absent") + L"\t" + (overlap ? L"overlap" : L"alone") + L"\t" +
            cwd + L"\t" + others);

    HWND window = createInstallerWindow(instance);
    Plan plan = planFor(baseName(cabPath));
    pumpFor(plan.sleepMs);
    if (plan.deleteCab) DeleteFileW(cabPath.c_str());
    wchar_t code[32];
    swprintf(code, 32, L"%d", plan.exitCode);
    journal(std::wstring(L"end\t") + pid + L"\t" + code);
    if (window) DestroyWindow(window);
    return plan.exitCode;
}
