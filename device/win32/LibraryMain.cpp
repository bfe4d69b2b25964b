// Load-time entry of VorlundSetup.dll: the library keeps no state, so it
// accepts every notification (process and thread attach and detach).
//
// Platform boundary: only device/win32/ includes <windows.h> or <commctrl.h>
// or tests _WIN32_WCE (the device check, tests/device/device_check.py, fails
// otherwise).
#include <windows.h>

#ifdef _WIN32_WCE
BOOL WINAPI DllMain(HANDLE, DWORD, LPVOID)
#else
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
#endif
{
    return TRUE;
}
