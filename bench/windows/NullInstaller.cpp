// Stands in for the platform installer in the Wine timing: a GUI program that
// notes when it started (microseconds, one line of C:\starts.txt) and exits.
#include <windows.h>

#include <cstdio>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    char line[32];
    int length = std::snprintf(line, sizeof(line), "%lld\n",
                               static_cast<long long>(now.QuadPart * 1000000 / frequency.QuadPart));
    HANDLE file = CreateFileW(L"C:\\starts.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
    return 0;
}
