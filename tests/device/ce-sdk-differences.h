// Stands in, for the compile check on 32-bit ARM Windows, for the few places
// where the CE 5 SDK's headers differ from the desktop ones (mingw-w64) that
// the check compiles with. Nothing else is changed.
#ifndef VORLUND_CE_SDK_DIFFERENCES_H
#define VORLUND_CE_SDK_DIFFERENCES_H

// CE declares WinMain with a wide command line; the desktop with an 8-bit
// one. The desktop declaration is hidden so that the launcher's entry point
// is held to CE's.
#define WinMain DesktopWinMain
#include <windows.h>
#undef WinMain
extern "C" int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR, int);

// COREDLL exports neither CreateDialogParamW nor DialogBoxParamW: CE's
// headers make them macros over FindResource, LoadResource and the indirect
// forms, so that is what a call to them imports on the device.
#define CreateDialogParamW(instance, name, parent, procedure, value)                               \
    CreateDialogIndirectParamW(                                                                    \
        instance,                                                                                  \
        (LPCDLGTEMPLATEW)LoadResource(instance, FindResourceW(instance, name, RT_DIALOG)), parent, \
        procedure, value)
#define DialogBoxParamW(instance, name, parent, procedure, value)                                  \
    DialogBoxIndirectParamW(                                                                       \
        instance,                                                                                  \
        (LPCDLGTEMPLATEW)LoadResource(instance, FindResourceW(instance, name, RT_DIALOG)), parent, \
        procedure, value)

// COREDLL exports SendMessageTimeout under that name alone, without the W
// that the desktop's headers add (the probe calls it).
#undef SendMessageTimeout
extern "C" LRESULT WINAPI SendMessageTimeout(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR);

#endif
