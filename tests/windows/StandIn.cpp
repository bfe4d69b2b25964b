// StandIn: the world around Vorlund in the Wine tests, one program with modes,
// and the bring-up probe a person runs on a CE 5 device (built for it as the
// launcher is). Every mode appends what it sees to one journal, one
// tab-separated UTF-16 line per event, so one file gives the order across
// processes: C:\VorlundTest\journal.txt, on the device \VorlundTest\journal.txt.
//
//   probe                         the Win32 provider's window walk, case by case
//                                 (on the device: what it does when tapped)
// Under Wine only:
//   (started by the launcher as \windows\wceload.exe)  the platform installer:
//       journals its command line, owns an "MSWCELOAD" window and follows
//       C:\VorlundTest\installer.txt:
//       "<cab name or *> sleep <ms>|exit <code>|delete|broadcast"
//   hold <ms> <class> [topmost]   a program already running, owning a window
//   hold <ms> MSWCELOAD <library> <hook>...  the platform installer calling the
//                                     setup library's hooks with its window, then
//                                     staying <ms> longer
//   user                              the person in front of the screen
//   prepare <pattern> [<hsr> <path>]...  sets attribute bits, journals a search
//
// Built a second time as StandIn.dll (STANDIN_HOOK): the window hook that the
// user sets to hold the progress window at its destruction.
#include <windows.h>

#include <wchar.h>

#ifndef _WIN32_WCE
#include <shellapi.h>
#include <tlhelp32.h>

#include <fstream>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#endif

#ifndef STANDIN_HOOK
#include "device/DeviceServices.h"
#endif

#ifdef _WIN32_WCE
#define STANDIN_ROOT L"\\VorlundTest\\"
#else
#define STANDIN_ROOT L"C:\\VorlundTest\\"
#endif
const int kLineCapacity = 2048;

// Appends the fields up to the first null as one line joined by tabs, cut at
// its capacity. Processes append at once: a sharing conflict is waited out.
void note(const wchar_t* a, const wchar_t* b = 0, const wchar_t* c = 0, const wchar_t* d = 0,
          const wchar_t* e = 0, const wchar_t* f = 0)
{
    const wchar_t* fields[] = {a, b, c, d, e, f};
    wchar_t line[kLineCapacity];
    int length = 0;
    for (int i = 0; i < 6 && fields[i] != 0; ++i) {
        if (i > 0)
            line[length++] = L'\t';
        for (const wchar_t* ch = fields[i]; *ch != 0 && length < kLineCapacity - 8; ++ch)
            line[length++] = *ch;
    }
    line[length++] = L'\n';
    for (int attempt = 0; attempt < 200; ++attempt, Sleep(10)) {
        HANDLE file = CreateFileW(STANDIN_ROOT L"journal.txt", GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        SetFilePointer(file, 0, NULL, FILE_END);
        DWORD written = 0;
        WriteFile(file, line, length * sizeof(wchar_t), &written, NULL);
        CloseHandle(file);
        return;
    }
}

#ifndef _WIN32_WCE
// ---- Wine only: shared by the program and the hook library ---------------------------

typedef std::wstring Text;
using std::to_wstring;

bool exists(const wchar_t* path)
{
    return GetFileAttributesW(path) != 0xFFFFFFFF;
}

void journal(std::initializer_list<Text> fields)
{
    const wchar_t* texts[6] = {};
    int count = 0;
    for (const Text& field : fields)
        texts[count++] = field.c_str();
    note(texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]);
}

Text classOf(HWND window)
{
    wchar_t name[256];
    return GetClassNameW(window, name, 256) > 0 ? name : L"";
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

#endif  // _WIN32_WCE

#ifndef STANDIN_HOOK
// ---- Every platform: the provider's walk, the bring-up probe -------------------------

// On the device the windows are shown, as an installer's are, for a person
// and Remote Spy to see; under Wine they stay hidden, as the tests read the
// screen.
HWND ownWindow(const wchar_t* className, DWORD extendedStyle)
{
    static int placed = 0;
    WNDCLASSW windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);  // fails harmlessly once registered
#ifdef _WIN32_WCE
    DWORD style = WS_POPUP | WS_VISIBLE | WS_BORDER;
#else
    DWORD style = WS_POPUP;
#endif
    int at = 24 * (placed++ % 8);
    return CreateWindowExW(extendedStyle, className, className, style, at, at, 140, 24, NULL, NULL,
                           windowClass.hInstance, NULL);
}

// Lets this thread's windows answer whatever waits for them.
void answerPending()
{
    MSG message;
    while (PeekMessageW(&message, NULL, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
}

const UINT kJustZOrder = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;

// What is done to this program's windows between two steps of the walk.
enum Change { kNothing, kCloseCurrent, kCloseNext, kMoveCurrent, kMoveLast, kOpen, kEach };
const struct {
    const wchar_t* name;
    Change change;
    bool topmostInFront;  // a normal "MSWCELOAD" window with a topmost one in front
} kWalkCases[] = {
    {L"nothing changes", kNothing, false},
    {L"the window the walk stands on closes", kCloseCurrent, false},
    {L"the window the walk meets next closes", kCloseNext, false},
    {L"the window the walk stands on moves to the front", kMoveCurrent, false},
    {L"the last window moves to the front", kMoveLast, false},
    {L"a window opens", kOpen, false},
    {L"each of these in turn", kEach, false},
    {L"a topmost window in front of a normal installer window", kNothing, true},
    {L"a topmost window in front, the window the walk stands on closes", kCloseCurrent, true},
};
const int kWalkWindows = 10;

struct OwnWindows {
    HWND made[kWalkWindows], front[kWalkWindows];  // as made; in Z-order, front first
    int count, listed;
};

BOOL CALLBACK listOwn(HWND window, LPARAM parameter)
{
    OwnWindows* own = reinterpret_cast<OwnWindows*>(parameter);
    for (int i = 0; i < own->count; ++i)
        if (own->made[i] == window)
            own->front[own->listed++] = window;
    return TRUE;
}

// Walks with the provider, making one change between steps; journals
// "walk ok|FAIL <case> <met> <there>": ok when every window of this program
// there at the start was met once, back to front, and none opened during it.
bool walkCase(const wchar_t* name, Change change, bool topmostInFront)
{
    OwnWindows own;
    for (own.count = own.listed = 0; own.count < 8; ++own.count)
        own.made[own.count] = ownWindow(own.count % 2 ? L"StandInOther" : L"MSWCELOAD", 0);
    if (topmostInFront) {
        own.made[own.count++] = ownWindow(L"MSWCELOAD", 0);
        own.made[own.count++] = ownWindow(L"StandInTopmost", WS_EX_TOPMOST);
    }
    EnumWindows(listOwn, reinterpret_cast<LPARAM>(&own));
    HWND opened[64];
    int openedCount = 0, steps = 0, met = 0;
    bool ok = own.listed == own.count;
    for (device::WindowHandle step = device::lastTopLevelWindow(); step != 0 && steps < 10000;
         step = device::windowBefore(step), ++steps) {
        HWND window = reinterpret_cast<HWND>(step);
        for (int k = 0; k < openedCount; ++k)
            ok = ok && opened[k] != window;
        int i = own.listed - 1;
        while (i >= 0 && own.front[i] != window)
            --i;
        if (i < 0)
            continue;
        ok = ok && i == own.listed - 1 - met++;  // where the next window of ours stands
        Change now = change == kEach ? static_cast<Change>(1 + met % 5) : change;
        HWND moved = now == kMoveCurrent ? window
                     : now == kMoveLast  ? own.front[own.listed - 1]
                                         : 0;
        if (now == kCloseCurrent || (now == kCloseNext && i > 0))
            DestroyWindow(now == kCloseCurrent ? window : own.front[i - 1]);
        if (moved != 0)
            SetWindowPos(moved, HWND_TOP, 0, 0, 0, 0, kJustZOrder);
        if (now == kOpen && openedCount < 64)
            opened[openedCount++] = ownWindow(L"MSWCELOAD", 0);
    }
    for (int i = 0; i < own.count; ++i)
        DestroyWindow(own.made[i]);
    for (int k = 0; k < openedCount; ++k)
        DestroyWindow(opened[k]);
    answerPending();
    ok = ok && met == own.count && steps < 10000;
    wchar_t counts[32];
    wsprintfW(counts, L"%d\t%d", met, own.count);
    note(L"walk", ok ? L"ok" : L"FAIL", name, counts);
    return ok;
}

// The bring-up probe: every case of the walk, then a verdict; returns how many failed.
int probe()
{
    CreateDirectoryW(STANDIN_ROOT, NULL);
    int failed = 0;
    for (size_t c = 0; c < sizeof(kWalkCases) / sizeof(kWalkCases[0]); ++c)
        failed += !walkCase(kWalkCases[c].name, kWalkCases[c].change, kWalkCases[c].topmostInFront);
    note(L"probe-verdict", failed ? L"FAIL" : L"ok");
    return failed;
}

#ifdef _WIN32_WCE
// Tapped in the file explorer.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    return probe();
}
#else
// ---- Wine only: the installer, the setup library's caller, the user ------------------

// Keeps this thread's windows answering for `ms`, or until the test says stop.
void pump(DWORD ms)
{
    for (DWORD start = GetTickCount();
         GetTickCount() - start < ms && !exists(STANDIN_ROOT L"stop");) {
        MsgWaitForMultipleObjectsEx(0, NULL, 50, QS_ALLINPUT, 0);
        answerPending();
    }
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

int installer()
{
    Text commandLine = GetCommandLineW(), problems;
    size_t open = commandLine.find(L'"'), close = commandLine.find(L'"', open + 1);
    Text cab = close == Text::npos ? Text() : commandLine.substr(open + 1, close - open - 1);
    problems += exists(cab.c_str()) ? L"" : L"absent ";
    problems += FindWindowW(L"MSWCELOAD", NULL) ? L"other-window " : L"";
    problems += processesNamed(L"wceload.exe") ? L"other-process" : L"";
    journal({L"start", commandLine, problems});
    HWND window = ownWindow(L"MSWCELOAD", 0);

    long sleepMs = 0, exitCode = 0, value = 0;
    bool broadcast = false;
    Text name = cab.substr(cab.find_last_of(L'\\') + 1), match, action;
    std::wifstream plan("C:\\VorlundTest\\installer.txt");
    while (plan >> match >> action &&
           (action == L"delete" || action == L"broadcast" || plan >> value)) {
        if (match != L"*" && _wcsicmp(match.c_str(), name.c_str()) != 0)
            continue;
        sleepMs = action == L"sleep" ? value : sleepMs;
        exitCode = action == L"exit" ? value : exitCode;
        broadcast = broadcast || action == L"broadcast";
        if (action == L"delete")
            DeleteFileW(cab.c_str());  // the file goes while its installer runs
    }
    if (broadcast) {
        // As an installer does after adding a font or a setting: sent to every
        // top-level window, and not returning until each has answered.
        journal({L"broadcast", L"sent"});
        SendMessageW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, 0);
        journal({L"broadcast", L"answered"});
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

// Calls the named hooks of a library with the parameter lists of the
// platform's setup-library contract, as its installer does.
void callHooks(HWND window, int argc, wchar_t** argv)
{
    HMODULE module = LoadLibraryW(argv[0]);
    const wchar_t* directory = L"C:\\Bundle";
    for (int i = 1; i < argc; ++i) {
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
}

DWORD processOf(HWND window)
{
    DWORD id = 0;
    if (window != NULL)
        GetWindowThreadProcessId(window, &id);
    return id;
}

int hold(DWORD ms, const wchar_t* className, int argc, wchar_t** argv)
{
    bool topmost = argc > 0 && wcscmp(argv[0], L"topmost") == 0;
    HWND window = ownWindow(className, topmost ? WS_EX_TOPMOST : 0);
    bool ready =
        window != NULL && (!topmost || (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0);
    journal({L"hold-start", className, to_wstring(processOf(window)),
             ready ? L"window" : L"no window"});
    if (argc > 0 && !topmost)
        callHooks(window, argc, argv);
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

std::set<HWND> gAnswered;            // message boxes
std::map<HWND, Text> gProgressSeen;  // progress windows, their last journaled state

// Journals a message box as shown, then presses its OK button.
void answer(HWND box)
{
    Text buttons;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (!_wcsicmp(classOf(child).c_str(), L"Button") && IsWindowVisible(child))
            buttons += to_wstring(GetDlgCtrlID(child)) + L" ";
    HWND owner = GetWindow(box, GW_OWNER);
    journal({L"box", textOf(box), textOf(GetDlgItem(box, 0xFFFF)), buttons,
             owner ? classOf(owner) : L"", to_wstring(processOf(owner))});
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
        last = exists(STANDIN_ROOT L"stop") && !processesNamed(L"Vorlund.exe");
        EnumWindows(visit, 0);
    }
    // Wine keeps a global hook after the thread that set it has ended.
    UnhookWindowsHookEx(hook);
    journal({L"user", L"done"});
    return 0;
}

int prepare(int argc, wchar_t** argv)
{
    for (int i = 1; i + 1 < argc; i += 2) {
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
    HANDLE search = FindFirstFileW(argv[0], &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        journal({L"found", to_wstring(found.dwFileAttributes), found.cFileName});
    FindClose(search);
    return 0;
}
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    Text mode = argc > 1 ? argv[1] : L"";
    if (mode == L"hold" && argc >= 4)
        return hold(wcstoul(argv[2], NULL, 10), argv[3], argc - 4, argv + 4);
    if (mode == L"prepare" && argc >= 3)
        return prepare(argc - 2, argv + 2);
    return mode == L"probe" ? probe() : mode == L"user" ? user() : installer();
}
#endif  // _WIN32_WCE

#else
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
             exists(STANDIN_ROOT L"hold") && GetTickCount() - start < 10000;)
            Sleep(20);
    }
    return CallNextHookEx(NULL, code, first, second);
}
#endif
