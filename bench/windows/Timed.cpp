// Runs one program for the Wine timing, "Timed.exe PROGRAM [ARGUMENTS]", and
// notes in C:\times.txt, on the stand-in installer's clock (microseconds of
// QueryPerformanceCounter), when it started it ("start T"), each message box
// it answered ("box T TEXT") and when the program ended ("end T STATUS").
// A message box (a dialog with a button) of the program is answered with OK
// at once, so that a run never waits for a person; the timing then counts
// the run as failed and says why.
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

const wchar_t kTimes[] = L"C:\\times.txt";
const DWORD kPollMs = 250;

long long now()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return count.QuadPart * 1000000 / frequency.QuadPart;
}

void note(const char* what, const wchar_t* text = L"")
{
    char utf8[1024];
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), nullptr, nullptr);
    char line[1200];
    int length = std::snprintf(line, sizeof(line), "%s %lld %s\n", what, now(), utf8);
    HANDLE file = CreateFileW(kTimes, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

struct Search {
    DWORD process;
    HWND box;
};

BOOL CALLBACK hasButton(HWND child, LPARAM found)
{
    wchar_t name[32];
    GetClassNameW(child, name, 32);
    if (_wcsicmp(name, L"Button") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

// A visible dialog of the program with a button: a message box (the
// launcher's progress window has none).
BOOL CALLBACK findBox(HWND window, LPARAM search)
{
    auto* s = reinterpret_cast<Search*>(search);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t name[32];
    GetClassNameW(window, name, 32);
    HWND button = nullptr;
    if (process != s->process || !IsWindowVisible(window) || std::wcscmp(name, L"#32770") != 0)
        return TRUE;
    EnumChildWindows(window, hasButton, reinterpret_cast<LPARAM>(&button));
    if (button == nullptr)
        return TRUE;
    s->box = window;
    return FALSE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR arguments, int)
{
    wchar_t line[2048];
    std::wcsncpy(line, arguments, 2047);
    line[2047] = 0;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    note("start");
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        note("end", L"-1 cannot be started");
        return 1;
    }
    while (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_TIMEOUT) {
        Search search = {process.dwProcessId, nullptr};
        EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
        if (search.box == nullptr)
            continue;
        wchar_t text[512] = L"";
        GetDlgItemTextW(search.box, 0xFFFF, text, 512);  // a message box's text
        note("box", text);
        PostMessageW(search.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        Sleep(kPollMs);  // let it close before looking again
    }
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    wchar_t code[16];
    std::swprintf(code, 16, L"%lu", status);
    note("end", code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
