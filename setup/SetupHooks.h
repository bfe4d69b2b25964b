// SetupHooks: the four hooks that the platform's CAB installer calls in
// VorlundSetup.dll before and after it installs or removes the main package.
#ifndef VORLUND_SETUP_HOOKS_H
#define VORLUND_SETUP_HOOKS_H

#include "device/DeviceServices.h"

namespace vorlund {

// Where the main package leaves the install directory for the hook.
extern const wchar_t kRegistryKey[];
extern const wchar_t kRegistryValueName[];
// The notice before the launcher starts, and the three failure messages.
extern const wchar_t kNoticeMessage[];
extern const wchar_t kNoLauncherMessage[];
extern const wchar_t kNoValueMessage[];
extern const wchar_t kNoKeyMessage[];

}  // namespace vorlund

// The parameter lists are the installer's setup-library contract, in this
// project's types: WindowHandle for HWND, int for BOOL, unsigned short for
// WORD. 0 lets the installer carry on normally; every hook returns it.
extern "C" {

Int32 Install_Init(device::WindowHandle parent, int firstCall, int previouslyInstalled,
                   const wchar_t* installDir);

// Reads the install directory from the registry, warns that unpacking takes
// long and starts the launcher there; otherwise says which lookup failed and,
// when the launcher is what is missing, deletes the directory's CAB files.
// Only `parent` is read: the owner of every message box.
Int32 Install_Exit(device::WindowHandle parent, const wchar_t* installDir,
                   unsigned short failedDirs, unsigned short failedFiles,
                   unsigned short failedRegKeys, unsigned short failedRegValues,
                   unsigned short failedShortcuts);

Int32 Uninstall_Init(device::WindowHandle parent, const wchar_t* installDir);

Int32 Uninstall_Exit(device::WindowHandle parent);
}

#endif
