// HoldAtClose: a test-only window hook (WH_CBT, set by StandInUser) that keeps
// the launcher's progress window on screen at its destruction until the test
// says so. The launcher destroys the window right after its last state
// ("Installing CAB files ... Done..."), too fast to read or photograph
// otherwise. Wine loads this library into each process whose windows the hook
// sees; only a progress window (a "#32770" dialog with a progress-bar child)
// is held, for at most kHoldLimitMs, until C:\VorlundTest\release appears,
// and only while C:\VorlundTest\hold-wanted exists (each test run starts
// without it, so a hook that Wine keeps after its setter ended holds nothing).
#include <windows.h>
#include <wchar.h>

namespace {

const wchar_t kJournal[] = L"C:\\VorlundTest\\journal.txt";
const wchar_t kReleaseFile[] = L"C:\\VorlundTest\\release";
const wchar_t kWantedFile[] = L"C:\\VorlundTest\\hold-wanted";
const DWORD kHoldLimitMs = 20000;

void journal(const wchar_t* line) {
    char bytes[2048];
    int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof(bytes) - 1, NULL, NULL);
    if (size <= 0) return;
    bytes[size - 1] = '\n';
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE file = CreateFileW(kJournal, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, bytes, (DWORD)size, &written, NULL);
            CloseHandle(file);
            return;
        }
        Sleep(10);
    }
}

bool hasClass(HWND window, const wchar_t* name) {
    wchar_t buffer[64] = L"";
    GetClassNameW(window, buffer, 64);
    return _wcsicmp(buffer, name) == 0;
}

HWND childOfClass(HWND parent, const wchar_t* name) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (hasClass(child, name)) return child;
    return NULL;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK holdAtClose(int code, WPARAM first, LPARAM second) {
    HWND window = (HWND)first;
    if (code == HCBT_DESTROYWND && GetFileAttributesW(kWantedFile) != INVALID_FILE_ATTRIBUTES &&
        hasClass(window, L"#32770") &&
        childOfClass(window, L"msctls_progress32")) {
        // The window belongs to this thread: reading its text is a plain call.
        wchar_t status[256] = L"";
        HWND text = childOfClass(window, L"Static");
        if (text) GetWindowTextW(text, status, 256);
        wchar_t line[400];
        swprintf(line, 400, L"hold-close\t%lu\t%ls", GetCurrentProcessId(), status);
        journal(line);
        DWORD start = GetTickCount();
        while (GetFileAttributesW(kReleaseFile) == INVALID_FILE_ATTRIBUTES &&
               GetTickCount() - start < kHoldLimitMs)
            Sleep(20);
        journal(L"hold-release");
    }
    return CallNextHookEx(NULL, code, first, second);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
