// StandIn: the world around Vorlund in the Wine tests, one program with modes.
// Every mode appends what it sees to C:\VorlundTest\journal.txt, one
// tab-separated line per event, so one file gives the order across processes.
//
//   (started by the launcher as \windows\wceload.exe)  the platform installer:
//       journals its command line, owns an "MSWCELOAD" window and follows
//       C:\VorlundTest\installer.txt: "<cab name or *> sleep <ms>|exit <code>|delete"
//   hold <ms> <class> [topmost]       a program already running, owning a window
//   hold <ms> MSWCELOAD <library> <hook>...  the platform installer calling the
//                                     setup library's hooks with its window, then
//                                     staying <ms> longer
//   user                              the person in front of the screen
//   prepare <pattern> [<hsr> <path>]...  sets attribute bits, journals a search
//
// Built a second time as StandIn.dll (STANDIN_HOOK): the window hook that the
// user sets to hold the progress window at its destruction.
#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include <fstream>
#include <initializer_list>
#include <map>
#include <set>
#include <string>

typedef std::wstring Text;
using std::to_wstring;
const Text kTest = L"C:\\VorlundTest\\";

bool exists(const Text& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// UTF-16 lines; processes append at once, so a sharing conflict is waited out.
void journal(std::initializer_list<Text> fields)
{
    Text line;
    for (const Text& field : fields)
        line += field + (&field == fields.end() - 1 ? L"\n" : L"\t");
    for (int attempt = 0; attempt < 200; ++attempt, Sleep(10)) {
        HANDLE file = CreateFileW((kTest + L"journal.txt").c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        DWORD written = 0;
        WriteFile(file, line.data(), line.size() * sizeof(wchar_t), &written, NULL);
        CloseHandle(file);
        return;
    }
}

Text classOf(HWND window)
{
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

// Served without a message for another process's window: the launcher pumps
// none while it works, so nothing here may wait for its answer.
Text textOf(HWND window)
{
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

HWND childOfClass(HWND parent, const wchar_t* name)
{
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (_wcsicmp(classOf(child).c_str(), name) == 0)
            return child;
    return NULL;
}

// Other running processes of that file name.
int processesNamed(const wchar_t* name)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        count += entry.th32ProcessID != GetCurrentProcessId() && !_wcsicmp(entry.szExeFile, name);
    CloseHandle(snapshot);
    return count;
}

HWND ownWindow(const wchar_t* className, DWORD extendedStyle)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    return CreateWindowExW(extendedStyle, className, L"", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL,
                           NULL);
}

// Keeps this thread's windows answering for `ms`, or until the test says stop.
void pump(DWORD ms)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms && !exists(kTest + L"stop");) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
}

int installer()
{
    Text commandLine = GetCommandLineW(), problems;
    size_t open = commandLine.find(L'"'), close = commandLine.find(L'"', open + 1);
    Text cab = close == Text::npos ? Text() : commandLine.substr(open + 1, close - open - 1);
    problems += exists(cab) ? L"" : L"absent ";
    problems += FindWindowW(L"MSWCELOAD", NULL) ? L"other-window " : L"";
    problems += processesNamed(L"wceload.exe") ? L"other-process" : L"";
    journal({L"start", commandLine, problems});
    HWND window = ownWindow(L"MSWCELOAD", 0);

    long sleepMs = 0, exitCode = 0, value = 0;
    Text name = cab.substr(cab.find_last_of(L'\\') + 1), match, action;
    std::wifstream plan("C:\\VorlundTest\\installer.txt");
    while (plan >> match >> action && (action == L"delete" || plan >> value)) {
        if (match != L"*" && _wcsicmp(match.c_str(), name.c_str()) != 0)
            continue;
        sleepMs = action == L"sleep" ? value : sleepMs;
        exitCode = action == L"exit" ? value : exitCode;
        if (action == L"delete")
            DeleteFileW(cab.c_str());  // the file goes while its installer runs
    }
    pump(sleepMs);
    journal({L"end", to_wstring(exitCode)});
    DestroyWindow(window);
    return exitCode;
}

// A library's export as the function type it has.
template <class Function> Function as(FARPROC entry)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(entry));
}

// Owns a window for `ms`. Given a library, first calls the named hooks with the
// parameter lists of the platform's setup-library contract, as its installer does.
int hold(DWORD ms, const wchar_t* className, int argc, wchar_t** argv)
{
    bool topmost = argc > 0 && Text(argv[0]) == L"topmost";
    HWND window = ownWindow(className, topmost ? WS_EX_TOPMOST : 0);
    bool ready = window && (!topmost || (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST));
    journal({L"hold-start", className, to_wstring(GetCurrentProcessId()),
             ready ? L"window" : L"no window"});
    HMODULE module = argc > 0 && !topmost ? LoadLibraryW(argv[0]) : NULL;
    const wchar_t* directory = L"C:\\Bundle";
    for (int i = 1; i < argc && !topmost; ++i) {
        Text hook = argv[i];
        FARPROC entry =
            module ? GetProcAddress(module, std::string(hook.begin(), hook.end()).c_str()) : NULL;
        int result = -1;
        if (entry && hook == L"Install_Init")
            result = as<int (*)(HWND, BOOL, BOOL, LPCWSTR)>(entry)(window, TRUE, FALSE, directory);
        else if (entry && hook == L"Install_Exit")
            result = as<int (*)(HWND, LPCWSTR, WORD, WORD, WORD, WORD, WORD)>(entry)(
                window, directory, 0, 0, 0, 0, 0);
        else if (entry && hook == L"Uninstall_Init")
            result = as<int (*)(HWND, LPCWSTR)>(entry)(window, directory);
        else if (entry)
            result = as<int (*)(HWND)>(entry)(window);
        journal({L"hook", hook, entry ? to_wstring(result) : L"missing"});
    }
    pump(ms);
    journal({L"hold-end", className});
    DestroyWindow(window);
    return 0;
}

// Share of the bar's middle line drawn in the highlight colour, in percent.
int barFill(HWND bar)
{
    RECT rect;
    GetWindowRect(bar, &rect);
    int inner = rect.right - rect.left - 2, filled = 0;
    HDC screen = GetDC(NULL);
    for (int x = rect.left + 1; x < rect.right - 1; ++x)
        filled += GetPixel(screen, x, (rect.top + rect.bottom) / 2) == GetSysColor(COLOR_HIGHLIGHT);
    ReleaseDC(NULL, screen);
    return inner > 0 ? (filled * 100 + inner / 2) / inner : -1;
}

// A box's icon as shown: Wine draws its exclamation icon yellow, the others
// blue or red.
Text iconOf(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(classOf(child).c_str(), L"Static") != 0 || !IsWindowVisible(child) ||
            (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            continue;
        RECT rect;
        GetWindowRect(child, &rect);
        HDC screen = GetDC(NULL);
        int yellow = 0, other = 0;
        for (int x = rect.left; x < rect.right; ++x) {  // along the middle line
            COLORREF pixel = GetPixel(screen, x, (rect.top + rect.bottom) / 2);
            int r = GetRValue(pixel), g = GetGValue(pixel), b = GetBValue(pixel);
            yellow += r > 170 && g > 120 && b < 110;
            other += (b > 120 && r < 110 && b > g) || (r > 150 && g < 90 && b < 90);
        }
        ReleaseDC(NULL, screen);
        return yellow > other ? L"exclamation" : other ? L"other" : L"unpainted";
    }
    return L"none";
}

std::set<HWND> gAnswered;            // message boxes
std::map<HWND, Text> gProgressSeen;  // progress windows, their last journaled state

// Journals a message box as shown, then presses its OK button.
void answer(HWND box)
{
    Text icon = iconOf(box), buttons;
    for (int wait = 0; wait < 25 && icon == L"unpainted"; ++wait, Sleep(20))
        icon = iconOf(box);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (!_wcsicmp(classOf(child).c_str(), L"Button") && IsWindowVisible(child))
            buttons += to_wstring(GetDlgCtrlID(child)) + L" ";
    HWND owner = GetWindow(box, GW_OWNER);
    DWORD ownerPid = 0;
    GetWindowThreadProcessId(owner, &ownerPid);
    journal({L"box", textOf(box), textOf(GetDlgItem(box, 0xFFFF)), buttons, icon,
             owner ? classOf(owner) : L"", to_wstring(ownerPid)});
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
}

BOOL CALLBACK visit(HWND window, LPARAM)
{
    if (classOf(window) != L"#32770")
        return TRUE;
    if (HWND bar = childOfClass(window, L"msctls_progress32")) {
        RECT r;
        GetWindowRect(window, &r);
        bool shown = IsWindowVisible(window);
        // Shown or not, caption, status text, bar fill, the window's place on screen.
        Text state = Text(shown ? L"visible\t" : L"hidden\t") + textOf(window) + L"\t" +
                     textOf(childOfClass(window, L"Static")) + L"\t" +
                     to_wstring(shown ? barFill(bar) : -1) + L"\t" + to_wstring(r.left) + L"," +
                     to_wstring(r.top) + L"," + to_wstring(r.right) + L"," + to_wstring(r.bottom);
        if (gProgressSeen[window] != state)
            journal({L"progress", state});
        gProgressSeen[window] = state;
    } else if (IsWindowVisible(window) && GetDlgItem(window, 0xFFFF) &&
               gAnswered.insert(window).second) {
        answer(window);
    }
    return TRUE;
}

// Answers and journals until told to stop and no launcher runs any more.
int user()
{
    wchar_t path[MAX_PATH];
    Text library(path, GetModuleFileNameW(NULL, path, MAX_PATH) - 3);  // StandIn.dll beside
    HMODULE module = LoadLibraryW((library + L"dll").c_str());
    HOOKPROC procedure = module ? as<HOOKPROC>(GetProcAddress(module, "holdAtClose")) : NULL;
    HHOOK hook = procedure ? SetWindowsHookExW(WH_CBT, procedure, module, 0) : NULL;
    journal({L"user", hook ? L"ready" : L"no hook"});
    for (bool last = false; !last; Sleep(20)) {
        last = exists(kTest + L"stop") && !processesNamed(L"Vorlund.exe");
        EnumWindows(visit, 0);
    }
    // Wine keeps a global hook after the thread that set it has ended.
    UnhookWindowsHookEx(hook);
    journal({L"user", L"done"});
    return 0;
}

int prepare(int argc, wchar_t** argv)
{
    for (int i = 3; i + 1 < argc; i += 2) {
        DWORD bits = 0;
        for (const wchar_t* letter = argv[i]; *letter; ++letter)
            bits |= *letter == L'h'   ? FILE_ATTRIBUTE_HIDDEN
                    : *letter == L's' ? FILE_ATTRIBUTE_SYSTEM
                                      : FILE_ATTRIBUTE_READONLY;
        SetFileAttributesW(argv[i + 1], bits);
        if ((GetFileAttributesW(argv[i + 1]) & bits) != bits)
            return 1;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(argv[2], &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        journal({L"found", to_wstring(found.dwFileAttributes), found.cFileName});
    FindClose(search);
    return 0;
}

#ifdef STANDIN_HOOK
// Runs in the launcher's thread as a window is destroyed. The progress window's
// last state lasts only from its last repaint to its destruction: it is held
// on screen while C:\VorlundTest\hold exists (10 s at most), to be read.
extern "C" __attribute__((dllexport)) LRESULT CALLBACK holdAtClose(int code, WPARAM first,
                                                                   LPARAM second)
{
    HWND window = (HWND)first;
    if (code == HCBT_DESTROYWND && classOf(window) == L"#32770" &&
        childOfClass(window, L"msctls_progress32")) {
        journal({L"closing", textOf(childOfClass(window, L"Static"))});
        for (DWORD start = GetTickCount();
             exists(kTest + L"hold") && GetTickCount() - start < 10000;)
            Sleep(20);
    }
    return CallNextHookEx(NULL, code, first, second);
}
#else
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    Text mode = argc > 1 ? argv[1] : L"";
    if (mode == L"hold" && argc >= 4)
        return hold(_wtoi(argv[2]), argv[3], argc - 4, argv + 4);
    if (mode == L"user")
        return user();
    if (mode == L"prepare" && argc >= 3)
        return prepare(argc, argv);
    return installer();
}
#endif
