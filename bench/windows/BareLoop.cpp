// The least a launcher can do per CAB, to time Vorlund.exe against under Wine:
// "BareLoop.exe COUNT DIRECTORY" starts \windows\wceload.exe on
// DIRECTORY\cab<i>.cab for i below COUNT, one after another, and waits for each.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR arguments, int)
{
    wchar_t* directory = nullptr;
    long count = std::wcstol(arguments, &directory, 10);
    for (long i = 0; i < count; ++i) {
        wchar_t line[1024];  // the launcher's command line for the same CAB
        std::swprintf(line, 1024, L" /nouninstall /noui \"%lscab%ld.cab\"", directory + 1, i);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process;
        if (!CreateProcessW(L"\\windows\\wceload.exe", line, nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process))
            return 1;
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD status = 0;
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return 0;
}
