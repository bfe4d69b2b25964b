// PrefixTool: small file-system chores inside the Wine prefix for the tests,
// done with the same Win32 calls the launcher's side sees.
//   PrefixTool attrib <path> <+h|+s|+r|-r ...> [<path> <flags> ...]
//       sets attribute bits and fails unless they read back as set
//   PrefixTool list <pattern>
//       prints "<attributes hex>\t<name>" per match, in the search's order
//   PrefixTool wait <program file name> <ms>
//       waits until no process of that name runs (at most <ms>); fails on timeout
#include <windows.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <wchar.h>

static void printUtf8(const wchar_t* text) {
    char buffer[1024];
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof(buffer), NULL, NULL);
    if (size > 0) fputs(buffer, stdout);
}

static int attrib(int count, wchar_t** args) {
    for (int i = 0; i + 1 < count; i += 2) {
        DWORD bits = GetFileAttributesW(args[i]);
        if (bits == INVALID_FILE_ATTRIBUTES) {
            fwprintf(stderr, L"attrib: %ls is missing\n", args[i]);
            return 1;
        }
        bits &= ~FILE_ATTRIBUTE_NORMAL;
        for (const wchar_t* flag = args[i + 1]; flag[0] && flag[1]; flag += 2) {
            DWORD bit = flag[1] == L'h' ? FILE_ATTRIBUTE_HIDDEN
                      : flag[1] == L's' ? FILE_ATTRIBUTE_SYSTEM
                      : flag[1] == L'r' ? FILE_ATTRIBUTE_READONLY : 0;
            bits = flag[0] == L'+' ? (bits | bit) : (bits & ~bit);
        }
        DWORD settable = bits & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                 FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
        if (!SetFileAttributesW(args[i], settable ? settable : FILE_ATTRIBUTE_NORMAL) ||
            (GetFileAttributesW(args[i]) & settable) != settable) {
            fwprintf(stderr, L"attrib: %ls did not take %ls\n", args[i], args[i + 1]);
            return 1;
        }
    }
    return 0;
}

static int list(const wchar_t* pattern) {
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        printf("%lx\t", (unsigned long)data.dwFileAttributes);
        printUtf8(data.cFileName);
        printf("\n");
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return 0;
}

// One running process of that file name, opened for waiting; NULL if none.
static HANDLE openProcessNamed(const wchar_t* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return NULL;
    HANDLE found = NULL;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, name) == 0)
            found = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

static int waitGone(const wchar_t* name, DWORD milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE process = openProcessNamed(name);
        if (!process) return 0;
        DWORD spent = GetTickCount() - start;
        DWORD result = spent < milliseconds ? WaitForSingleObject(process, milliseconds - spent)
                                            : WAIT_TIMEOUT;
        CloseHandle(process);
        if (result == WAIT_TIMEOUT) return 1;
    }
}

int wmain(int argc, wchar_t** argv) {
    if (argc >= 4 && wcscmp(argv[1], L"attrib") == 0) return attrib(argc - 2, argv + 2);
    if (argc == 3 && wcscmp(argv[1], L"list") == 0) return list(argv[2]);
    if (argc == 4 && wcscmp(argv[1], L"wait") == 0) return waitGone(argv[2], (DWORD)_wtol(argv[3]));
    fwprintf(stderr, L"usage: PrefixTool attrib <path> <flags>... | list <pattern> | wait <name> <ms>\n");
    return 2;
}
