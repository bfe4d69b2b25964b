// SetupHooks: the four hooks that the platform's CAB installer calls in
// VorlundSetup.dll before and after it installs or removes the main package.
#ifndef VORLUND_SETUP_HOOKS_H
#define VORLUND_SETUP_HOOKS_H

#include "device/DeviceServices.h"

// The parameter lists are the installer's setup-library contract, in this
// project's types: WindowHandle for HWND, int for BOOL, unsigned short for
// WORD. 0 lets the installer carry on normally; every hook returns it.
extern "C" {

Int32 Install_Init(WindowHandle parent, int firstCall, int previouslyInstalled,
                   const wchar_t* installDir);

// Reads the install directory from the registry, warns that unpacking takes
// long and starts the launcher there; otherwise says which lookup failed and,
// when the launcher is what is missing, deletes the directory's CAB files.
// Only `parent` is read: the owner of every message box.
Int32 Install_Exit(WindowHandle parent, const wchar_t* installDir,
                   unsigned short failedDirs, unsigned short failedFiles,
                   unsigned short failedRegKeys, unsigned short failedRegValues,
                   unsigned short failedShortcuts);

Int32 Uninstall_Init(WindowHandle parent, const wchar_t* installDir);

Int32 Uninstall_Exit(WindowHandle parent);

}

#endif
