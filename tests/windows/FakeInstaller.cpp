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
// "wceload.exe --hook <dll>" it plays the end of the main package: loads the
// setup library and calls its Install_Exit with its own window as owner.
#include <windows.h>
#include <wchar.h>

#include <string>
#include <vector>

namespace {

const wchar_t kJournal[] = L"C:\\VorlundTest\\journal.txt";
const wchar_t kControl[] = L"C:\\VorlundTest\\installer.txt";
const wchar_t kWindowClass[] = L"MSWCELOAD";

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), NULL, 0, NULL, NULL);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), &out[0], size, NULL, NULL);
    return out;
}

// Appends one line; other processes write to the same journal, so a sharing
// conflict is waited out.
void journal(const std::wstring& line) {
    std::string bytes = toUtf8(line + L"\n");
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileW(kJournal, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
            CloseHandle(file);
            return;
        }
        Sleep(10);
    }
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
    if (hook != std::wstring::npos) {
        std::wstring library = commandLine.substr(hook + hookFlag.size());
        HWND window = createInstallerWindow(instance);
        HMODULE module = LoadLibraryW(library.c_str());
        typedef int (*InstallExit)(HWND, const wchar_t*, WORD, WORD, WORD, WORD, WORD);
        InstallExit installExit =
            module ? (InstallExit)(void*)GetProcAddress(module, "Install_Exit") : NULL;
        wchar_t result[32] = L"unloadable";
        if (installExit) swprintf(result, 32, L"%d", installExit(window, L"", 0, 0, 0, 0, 0));
        journal(std::wstring(L"hook-end\t") + pid + L"\t" + result);
        if (module) FreeLibrary(module);
        if (window) DestroyWindow(window);
        return 0;
    }

    std::wstring cabPath = cabPathOf(commandLine);
    bool existed = GetFileAttributesW(cabPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    bool overlap = otherInstallerWindow();
    wchar_t cwd[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, cwd);
    journal(std::wstring(L"start\t") + pid + L"\t" + commandLine + L"\t" +
            (existed ? L"exists" : L"absent") + L"\t" + (overlap ? L"overlap" : L"alone") + L"\t" +
            cwd);

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
