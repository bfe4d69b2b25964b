// StandInUser: plays the person in front of the device in the Wine tests. It
// answers every message box with OK and journals what each box and the
// progress window showed, into the same journal as the stand-in installer,
// so that one file gives the order of everything that happened.
//
// It only reads the launcher's windows with calls that need no answer from
// them (the launcher pumps no messages while it waits) and presses OK with a
// posted message. It ends when C:\VorlundTest\stop appears.
//
// "StandInUser.exe --hold-close <dll>" also sets the window hook of that test
// library (HoldAtClose), which holds the progress window at its destruction.
#include <windows.h>
#include <wchar.h>

#include <map>
#include <string>

#include "Journal.h"

namespace {

const wchar_t kJournal[] = L"C:\\VorlundTest\\journal.txt";
const wchar_t kStopFile[] = L"C:\\VorlundTest\\stop";
const DWORD kPollMs = 20;
const DWORD kLifetimeMs = 240000;
const DWORD kSecondPressMs = 2000;

void journal(const std::wstring& line) {
    appendJournal(kJournal, line);
}

// Served by the window manager for another process's window: no message is
// sent to the launcher.
std::wstring textOf(HWND window) {
    wchar_t buffer[1024] = L"";
    GetWindowTextW(window, buffer, 1024);
    return buffer;
}

std::wstring classOf(HWND window) {
    wchar_t buffer[256] = L"";
    GetClassNameW(window, buffer, 256);
    return buffer;
}

HWND childOfClass(HWND parent, const wchar_t* className) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (_wcsicmp(classOf(child).c_str(), className) == 0) return child;
    return NULL;
}

HWND childWithId(HWND parent, int id) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetDlgCtrlID(child) == id) return child;
    return NULL;
}

// Pixels of the screen, counted by colour family over a window's rectangle.
struct ColourCount {
    int yellow, blue, red, total;
};

ColourCount countColours(HWND window, bool middleLineOnly) {
    ColourCount count = {0, 0, 0, 0};
    RECT rect;
    if (!GetWindowRect(window, &rect)) return count;
    HDC screen = GetDC(NULL);
    int top = rect.top, bottom = rect.bottom;
    if (middleLineOnly) {
        top = (rect.top + rect.bottom) / 2;
        bottom = top + 1;
    }
    for (int y = top; y < bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            COLORREF pixel = GetPixel(screen, x, y);
            if (pixel == CLR_INVALID) continue;
            int r = GetRValue(pixel), g = GetGValue(pixel), b = GetBValue(pixel);
            ++count.total;
            if (r > 170 && g > 120 && b < 110) ++count.yellow;
            else if (b > 120 && r < 110 && b > g) ++count.blue;
            else if (r > 150 && g < 90 && b < 90) ++count.red;
        }
    }
    ReleaseDC(NULL, screen);
    return count;
}

// The icon of a message box, told by its colours: Wine's exclamation icon is
// yellow, its information and question icons blue, its stop icon red.
std::wstring iconKind(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(classOf(child).c_str(), L"Static") != 0) continue;
        LONG style = GetWindowLongW(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) != SS_ICON || !IsWindowVisible(child)) continue;
        ColourCount count = countColours(child, false);
        if (count.yellow > count.blue && count.yellow > count.red && count.yellow > 0)
            return L"exclamation";
        if (count.red > count.blue && count.red > 0) return L"stop";
        if (count.blue > 0) return L"blue";
        return L"unpainted";
    }
    return L"none";
}

std::wstring buttonsOf(HWND box) {
    std::wstring ids;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(classOf(child).c_str(), L"Button") != 0 || !IsWindowVisible(child)) continue;
        wchar_t id[16];
        swprintf(id, 16, L"%d", GetDlgCtrlID(child));
        if (!ids.empty()) ids += L",";
        ids += id;
    }
    return ids;
}

// Share of the bar's middle line drawn in the highlight colour, in percent.
int barFillPercent(HWND bar) {
    RECT rect;
    if (!GetWindowRect(bar, &rect)) return -1;
    int inner = (rect.right - rect.left) - 2;  // within the border
    if (inner <= 0) return -1;
    COLORREF fill = GetSysColor(COLOR_HIGHLIGHT);
    HDC screen = GetDC(NULL);
    int y = (rect.top + rect.bottom) / 2, filled = 0;
    for (int x = rect.left + 1; x < rect.right - 1; ++x)
        if (GetPixel(screen, x, y) == fill) ++filled;
    ReleaseDC(NULL, screen);
    return (filled * 100 + inner / 2) / inner;
}

struct Seen {
    DWORD pressedAt;
    bool pressedTwice;
};

std::map<HWND, Seen> gBoxes;
std::map<HWND, std::wstring> gProgress;

void handleMessageBox(HWND box) {
    std::map<HWND, Seen>::iterator found = gBoxes.find(box);
    if (found != gBoxes.end()) {
        // Still there long after OK was pressed: press it the other way.
        if (!found->second.pressedTwice && GetTickCount() - found->second.pressedAt > kSecondPressMs) {
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            found->second.pressedTwice = true;
        }
        return;
    }
    // Let the box paint before its icon is looked at.
    std::wstring icon = iconKind(box);
    for (int wait = 0; wait < 25 && icon == L"unpainted"; ++wait) {
        Sleep(kPollMs);
        icon = iconKind(box);
    }
    HWND owner = GetWindow(box, GW_OWNER);
    DWORD pid = 0, ownerPid = 0;
    GetWindowThreadProcessId(box, &pid);
    if (owner) GetWindowThreadProcessId(owner, &ownerPid);
    wchar_t pidText[40];
    swprintf(pidText, 40, L"%lu\t%lu", pid, ownerPid);
    // Fields: caption, text, owned or not, buttons, icon, the box's process,
    // the owner's process and the owner's class.
    journal(L"box\t" + textOf(box) + L"\t" + textOf(childWithId(box, 0xFFFF)) + L"\t" +
            (owner ? L"owned" : L"unowned") + L"\t" + buttonsOf(box) + L"\t" + icon + L"\t" +
            pidText + L"\t" + (owner ? classOf(owner) : L""));
    Seen seen = {GetTickCount(), false};
    gBoxes[box] = seen;
    HWND ok = childWithId(box, IDOK);
    if (ok) PostMessageW(ok, BM_CLICK, 0, 0);
    else PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void handleProgressWindow(HWND window, HWND bar) {
    HWND status = childOfClass(window, L"Static");
    RECT rect = {0, 0, 0, 0};
    GetWindowRect(window, &rect);
    wchar_t fill[80];
    swprintf(fill, 80, L"%d\t%ld,%ld,%ld,%ld", IsWindowVisible(window) ? barFillPercent(bar) : -1,
             rect.left, rect.top, rect.right, rect.bottom);
    // Fields: shown or not, caption, status text, bar fill in percent, the
    // window's rectangle on the screen.
    std::wstring state = std::wstring(IsWindowVisible(window) ? L"visible" : L"hidden") + L"\t" +
                         textOf(window) + L"\t" + (status ? textOf(status) : L"") + L"\t" + fill;
    std::wstring& last = gProgress[window];
    if (last != state) {
        journal(L"progress\t" + state);
        last = state;
    }
}

BOOL CALLBACK visitTopLevel(HWND window, LPARAM) {
    if (classOf(window) != L"#32770") return TRUE;
    HWND bar = childOfClass(window, L"msctls_progress32");
    if (bar) {
        handleProgressWindow(window, bar);
    } else if (IsWindowVisible(window) && childWithId(window, 0xFFFF)) {
        handleMessageBox(window);
    }
    return TRUE;
}

const wchar_t kHoldWantedFile[] = L"C:\\VorlundTest\\hold-wanted";

// Sets the hook of the HoldAtClose library named after "--hold-close ", if
// asked, and marks the hold as wanted; the caller removes both at its end
// (Wine keeps a global hook after the thread that set it has ended).
HHOOK setHoldHook(const std::wstring& commandLine) {
    const std::wstring flag = L"--hold-close ";
    size_t at = commandLine.find(flag);
    if (at == std::wstring::npos) return NULL;
    HMODULE library = LoadLibraryW(commandLine.substr(at + flag.size()).c_str());
    HOOKPROC procedure = library ? (HOOKPROC)(void*)GetProcAddress(library, "holdAtClose") : NULL;
    HHOOK hook = procedure ? SetWindowsHookExW(WH_CBT, procedure, library, 0) : NULL;
    if (hook) {
        HANDLE marker = CreateFileW(kHoldWantedFile, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
        if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
    journal(hook ? L"hold-hook\tset" : L"hold-hook\tfailed");
    return hook;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    HHOOK hold = setHoldHook(GetCommandLineW());
    journal(L"user-ready");
    DWORD started = GetTickCount();
    for (;;) {
        bool stopping = GetFileAttributesW(kStopFile) != INVALID_FILE_ATTRIBUTES;
        EnumWindows(visitTopLevel, 0);
        if (stopping || GetTickCount() - started > kLifetimeMs) break;
        Sleep(kPollMs);
    }
    if (hold) {
        UnhookWindowsHookEx(hold);
        DeleteFileW(kHoldWantedFile);
    }
    journal(L"user-done");
    return 0;
}
