// LauncherMain: the Windows entry point of Vorlund.exe; everything else is in
// runLauncher. CE's entry is WinMain with a wide command line; the desktop's
// wide entry is wWinMain (built with -municode).
//
// Platform boundary: only device/win32/ includes <windows.h> or <commctrl.h>
// or tests _WIN32_WCE (the device check, tests/device/device_check.py, fails
// otherwise).
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

// The one include above the provider's layer: an entry point starts the
// logic it belongs to (device/ otherwise never includes common/, launcher/ or
// setup/; tests/device/device_check.py holds it to that).
#include "launcher/LauncherSequence.h"

#ifdef _WIN32_WCE
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
#else
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
#endif
{
    // The launcher takes no arguments: only the module handle is handed on.
    return vorlund::runLauncher(reinterpret_cast<device::ModuleHandle>(instance));
}
