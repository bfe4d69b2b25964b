// StandIn: the world around Vorlund in the Wine tests, one program with modes,
// and the bring-up probe a person runs on a CE 5 device (built for it as the
// launcher is). Every mode appends what it sees to one journal, one
// tab-separated UTF-16 line per event, so one file gives the order across
// processes: C:\VorlundTest\journal.txt, on the device \VorlundTest\journal.txt.
//
// On every platform (plain C++98, functions COREDLL exports):
//   hold <ms> <class> [topmost]   a program already running, owning a window
//   probe <launcher>              the bring-up scenario (below), the Win32
//                                 provider's window walk first; on the device
//                                 also what it does without arguments, with the
//                                 Vorlund.exe beside it
// Under Wine only:
//   (started by the launcher as \windows\wceload.exe)  the platform installer:
//       journals its command line, owns an "MSWCELOAD" window and follows
//       C:\VorlundTest\installer.txt:
//       "<cab name or *> sleep <ms>|exit <code>|delete|broadcast"
//   hold <ms> MSWCELOAD <library> <hook>...  the platform installer calling the
//                                     setup library's hooks with its window, then
//                                     staying <ms> longer
//   user                              the person in front of the screen
//   prepare <pattern> [<hsr> <path>]...  sets attribute bits, journals a search
//
// Built a second time as StandIn.dll (STANDIN_HOOK): the window hook that the
// user sets to hold the progress window at its destruction.
#include <windows.h>

#include <stdlib.h>
#include <wchar.h>

#ifndef _WIN32_WCE
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
const wchar_t kStop[] = STANDIN_ROOT L"stop";
const int kLineCapacity = 2048;
const UINT kJustZOrder = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;

bool exists(const wchar_t* path)
{
    return GetFileAttributesW(path) != 0xFFFFFFFF;
}

void copyText(wchar_t* to, const wchar_t* from, int capacity)
{
    wcsncpy(to, from, capacity - 1);
    to[capacity - 1] = 0;
}

// Appends fields[0..count), up to the first null, as one line joined by tabs
// and cut at its capacity. Processes append at once: a sharing conflict is
// waited out.
void appendLine(const wchar_t* const* fields, int count)
{
    wchar_t line[kLineCapacity];
    int length = 0;
    for (int i = 0; i < count && fields[i] != 0; ++i) {
        const wchar_t* parts[] = {i > 0 ? L"\t" : L"", fields[i]};
        for (int p = 0; p < 2; ++p)
            for (const wchar_t* c = parts[p]; *c != 0 && length < kLineCapacity - 1; ++c)
                line[length++] = *c;
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

void note(const wchar_t* a, const wchar_t* b = 0, const wchar_t* c = 0, const wchar_t* d = 0,
          const wchar_t* e = 0, const wchar_t* f = 0)
{
    const wchar_t* fields[] = {a, b, c, d, e, f};
    appendLine(fields, 6);
}

// A number as a journal field.
struct Number {
    wchar_t digits[12];
    explicit Number(unsigned long value) { wsprintfW(digits, L"%lu", value); }
    operator const wchar_t*() const { return digits; }
};

void classOf(HWND window, wchar_t* name, int capacity)
{
    if (GetClassNameW(window, name, capacity) <= 0)
        name[0] = 0;
}

DWORD processOf(HWND window)
{
    DWORD id = 0;
    if (window != NULL)
        GetWindowThreadProcessId(window, &id);
    return id;
}

bool isTopmost(HWND window)
{
    return (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

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

// Keeps this thread's windows answering for `ms`, or until the test says stop.
void pump(DWORD ms)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms && !exists(kStop);) {
        MsgWaitForMultipleObjectsEx(0, NULL, 50, QS_ALLINPUT, 0);
        answerPending();
    }
}

#ifndef _WIN32_WCE
// ---- Wine only: the installer, the setup library's caller, the user ---------------

typedef std::wstring Text;
using std::to_wstring;

void journal(std::initializer_list<Text> fields)
{
    const wchar_t* texts[8];
    int count = 0;
    for (const Text& field : fields)
        texts[count++] = field.c_str();
    appendLine(texts, count);
}

Text classOf(HWND window)
{
    wchar_t name[256];
    classOf(window, name, 256);
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

#ifndef STANDIN_HOOK
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
        last = exists(kStop) && !processesNamed(L"Vorlund.exe");
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
#endif  // STANDIN_HOOK
#endif  // _WIN32_WCE

#ifndef STANDIN_HOOK
// ---- Every platform: the provider's walk, the probe, a program holding a window ----

int hold(DWORD ms, const wchar_t* className, int argc, wchar_t** argv)
{
    bool topmost = argc > 0 && wcscmp(argv[0], L"topmost") == 0;
    HWND window = ownWindow(className, topmost ? WS_EX_TOPMOST : 0);
    bool ready = window != NULL && (!topmost || isTopmost(window));
    note(L"hold-start", className, Number(processOf(window)), ready ? L"window" : L"no window");
#ifndef _WIN32_WCE
    if (argc > 0 && !topmost)
        callHooks(window, argc, argv);
#endif
    pump(ms);
    note(L"hold-end", className, Number(GetTickCount()));
    DestroyWindow(window);
    return 0;
}

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

// Walks with the provider, making one change between steps. True when every
// window of this program there at the start was met once, back to front,
// and none opened during the walk was met.
bool walkCase(Change change, bool topmostInFront, int* met, int* there)
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
    int openedCount = 0, steps = 0;
    bool ok = own.listed == own.count;
    *met = 0;
    for (device::WindowHandle step = device::lastTopLevelWindow(); step != 0 && steps < 10000;
         step = device::windowBefore(step), ++steps) {
        HWND window = reinterpret_cast<HWND>(step);
        for (int k = 0; k < openedCount; ++k)
            ok = ok && opened[k] != window;
        int at = own.listed - 1 - *met;  // where the next window of ours stands
        int i = own.listed - 1;
        while (i >= 0 && own.front[i] != window)
            --i;
        if (i < 0)
            continue;
        ok = ok && i == at;
        ++*met;
        Change now = change == kEach ? static_cast<Change>(1 + *met % 5) : change;
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
    *there = own.count;
    return ok && *met == own.count && steps < 10000;
}

// Journals "walk ok|FAIL <case> <met> <there>"; returns how many failed.
int walk()
{
    int failed = 0;
    for (size_t c = 0; c < sizeof(kWalkCases) / sizeof(kWalkCases[0]); ++c) {
        int met = 0, there = 0;
        bool ok = walkCase(kWalkCases[c].change, kWalkCases[c].topmostInFront, &met, &there);
        failed += ok ? 0 : 1;
        note(L"walk", ok ? L"ok" : L"FAIL", kWalkCases[c].name, Number(met), Number(there));
    }
    return failed;
}

// Starts `program` with `arguments` (null: none) as the launcher and the
// setup hook start programs.
bool start(const wchar_t* program, const wchar_t* arguments, PROCESS_INFORMATION* info)
{
    wchar_t line[kLineCapacity];
    int length = 0;
    ZeroMemory(info, sizeof(*info));
#ifdef _WIN32_WCE
    const wchar_t* parts[] = {arguments};  // a CE program is handed its arguments alone
    STARTUPINFOW* startup = NULL;
#else
    const wchar_t* parts[] = {L"\"", program, L"\" ", arguments};  // the program comes first
    STARTUPINFOW startupInfo;
    ZeroMemory(&startupInfo, sizeof(startupInfo));
    startupInfo.cb = sizeof(startupInfo);
    STARTUPINFOW* startup = &startupInfo;
#endif
    for (size_t p = 0; arguments != 0 && p < sizeof(parts) / sizeof(parts[0]); ++p)
        for (const wchar_t* c = parts[p]; *c != 0 && length < kLineCapacity - 1; ++c)
            line[length++] = *c;
    line[length] = 0;
    return CreateProcessW(program, arguments ? line : NULL, NULL, NULL, FALSE, 0, NULL, NULL,
                          startup, info) != 0;
}

// A top-level window of `process` (0: any other than `notProcess`) and of a
// class (null: any, visible ones only), found by EnumWindows.
struct Wanted {
    const wchar_t* className;
    DWORD process, notProcess;
    HWND found;
};

BOOL CALLBACK findWanted(HWND window, LPARAM parameter)
{
    Wanted* w = reinterpret_cast<Wanted*>(parameter);
    wchar_t name[256];
    classOf(window, name, 256);
    DWORD process = processOf(window);
    bool match = w->className ? wcscmp(name, w->className) == 0 : IsWindowVisible(window) != 0;
    if (match && process != w->notProcess && (w->process == 0 || process == w->process))
        w->found = window;
    return w->found == NULL;
}

HWND findWindow(const wchar_t* className, DWORD process, DWORD notProcess = 0)
{
    Wanted wanted = {className, process, notProcess, NULL};
    EnumWindows(findWanted, reinterpret_cast<LPARAM>(&wanted));
    return wanted.found;
}

// Starts "<this program> hold ..." and waits (5 s at most) for its window.
HWND holding(const wchar_t* arguments, const wchar_t* className, PROCESS_INFORMATION* info)
{
    wchar_t self[MAX_PATH];
    ZeroMemory(info, sizeof(*info));
    DWORD length = GetModuleFileNameW(NULL, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !start(self, arguments, info))
        return NULL;
    HWND window = NULL;
    for (int tries = 0; tries < 250 && window == NULL; ++tries, Sleep(20))
        window = findWindow(className, info->dwProcessId);
    return window;
}

// Notes the first time `happened` holds, in ms after `begin`.
void firstTime(DWORD* at, bool happened, const wchar_t* what, DWORD begin)
{
    if (*at == 0 && happened) {
        *at = GetTickCount();
        note(L"seen", what, Number(*at - begin));
    }
}

BOOL CALLBACK journalZOrder(HWND window, LPARAM)
{
    wchar_t name[256];
    classOf(window, name, 256);
    note(L"zorder", name, Number(processOf(window)), isTopmost(window) ? L"topmost" : L"normal",
         IsWindowVisible(window) ? L"visible" : L"hidden");
    return TRUE;
}

// The bring-up scenario: the walk's cases; then, in Z-order from the back,
// 60 windows of its own, an "MSWCELOAD" window of another process (5 s) and a
// topmost window in front of it; then the launcher, while its own windows
// keep closing, opening and moving for its first 3 s. Journals the Z-order (from the
// front), when the installer window closed, when the launcher's first
// window and the first other "MSWCELOAD" window appeared (ms after the
// launcher's start) and whether the launcher's window answered a message sent
// while an installer ran; and a verdict.
int probe(const wchar_t* launcher)
{
    CreateDirectoryW(STANDIN_ROOT, NULL);
    note(L"probe-start", launcher);
    int walkFailed = walk();
    const int kChurn = 60;
    HWND churn[kChurn];
    for (int i = 0; i < kChurn; ++i)
        churn[i] = ownWindow(L"StandInChurn", 0);
    PROCESS_INFORMATION installer, topmost, launched;
    PROCESS_INFORMATION* all[] = {&installer, &topmost, &launched};
    for (int i = 0; i < 3; ++i)
        ZeroMemory(all[i], sizeof(PROCESS_INFORMATION));
    HWND running = holding(L"hold 5000 MSWCELOAD", L"MSWCELOAD", &installer);
    HWND inFront = holding(L"hold 15000 StandInTopmost topmost", L"StandInTopmost", &topmost);
    EnumWindows(journalZOrder, 0);
    bool started = running != NULL && inFront != NULL && start(launcher, NULL, &launched);
    note(L"probe-launcher", started ? L"started" : L"not started");
    DWORD begin = GetTickCount(), closedAt = 0, shownAt = 0, installAt = 0, answered = 0;
    HWND shown = NULL;
    for (unsigned long step = 0; started && GetTickCount() - begin < 3000; ++step) {
        DestroyWindow(churn[step % kChurn]);
        churn[step % kChurn] = ownWindow(L"StandInChurn", 0);
        SetWindowPos(churn[step % kChurn], running, 0, 0, 0, 0, kJustZOrder);  // behind it
        SetWindowPos(churn[(step + kChurn / 2) % kChurn], HWND_TOP, 0, 0, 0, 0, kJustZOrder);
        answerPending();
    }
    while (started && GetTickCount() - begin < 900000) {
        firstTime(&closedAt, !IsWindow(running), L"installer window closed", begin);
        shown = shown != NULL ? shown : findWindow(NULL, launched.dwProcessId);
        firstTime(&shownAt, shown != NULL, L"launcher window", begin);
        firstTime(&installAt,
                  installAt == 0 && findWindow(L"MSWCELOAD", 0, installer.dwProcessId) != NULL,
                  L"installer started", begin);
        // While an installer runs, the launcher waits in its sent-message wait.
        if (installAt != 0 && answered == 0 && shown != NULL) {
            DWORD sent = GetTickCount();
            DWORD_PTR result = 0;
            answered =
                SendMessageTimeout(shown, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result) ? 1 : 2;
            note(L"seen", answered == 1 ? L"sent message answered" : L"sent message not answered",
                 Number(GetTickCount() - sent));
        }
        if (WaitForSingleObject(launched.hProcess, 20) == WAIT_OBJECT_0)
            break;
    }
    bool inOrder =
        closedAt != 0 && shownAt >= closedAt && (installAt == 0 || installAt >= closedAt);
    bool ok = inOrder && walkFailed == 0 && answered != 2;
    note(L"probe-verdict", ok ? L"ok" : L"FAIL",
         inOrder ? L"waited for the installer window" : L"did not wait for it", Number(walkFailed));
    for (int i = 0; i < kChurn; ++i)
        DestroyWindow(churn[i]);
    for (int i = 0; i < 3; ++i)
        if (all[i]->hProcess != NULL && CloseHandle(all[i]->hProcess))
            CloseHandle(all[i]->hThread);
    return ok ? 0 : 1;
}

// Splits a command line at spaces and tabs; double quotes group.
int splitArguments(wchar_t* line, wchar_t** argv, int capacity)
{
    int argc = 0;
    while (argc < capacity) {
        while (*line == L' ' || *line == L'\t')
            ++line;
        if (*line == 0)
            break;
        wchar_t end = *line == L'"' ? *line++ : L' ';
        argv[argc++] = line;
        while (*line != 0 && *line != end && (end == L'"' || *line != L'\t'))
            ++line;
        if (*line != 0)
            *line++ = 0;
    }
    return argc;
}

#ifdef _WIN32_WCE
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int)
#else
int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
#endif
{
    wchar_t line[kLineCapacity], *argv[16];
#ifdef _WIN32_WCE
    copyText(line, commandLine, kLineCapacity);
    int argc = splitArguments(line, argv + 1, 15) + 1;  // arguments alone on CE
#else
    copyText(line, GetCommandLineW(), kLineCapacity);
    int argc = splitArguments(line, argv, 16);  // the program's own name first
#endif
    const wchar_t* mode = argc > 1 ? argv[1] : L"";
    if (wcscmp(mode, L"hold") == 0 && argc >= 4)
        return hold(wcstoul(argv[2], NULL, 10), argv[3], argc - 4, argv + 4);
    if (wcscmp(mode, L"probe") == 0 && argc >= 3)
        return probe(argv[2]);
#ifndef _WIN32_WCE
    if (wcscmp(mode, L"user") == 0)
        return user();
    if (wcscmp(mode, L"prepare") == 0 && argc >= 3)
        return prepare(argc - 2, argv + 2);
    return installer();
#else
    // Tapped in the file explorer: the probe, with the launcher beside it.
    DWORD length = GetModuleFileNameW(NULL, line, MAX_PATH);
    while (length > 0 && line[length - 1] != L'\\')
        --length;
    copyText(line + length, L"Vorlund.exe", kLineCapacity - length);
    return probe(line);
#endif
}

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
