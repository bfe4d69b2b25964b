// LauncherSequence: the launcher program from its entry to its exit: wait for
// running installers, install every listed CAB, report progress, sweep.
#ifndef VORLUND_LAUNCHER_SEQUENCE_H
#define VORLUND_LAUNCHER_SEQUENCE_H

#include "device/DeviceServices.h"

namespace vorlund {

// Program path and window class of the platform CAB installer.
extern const wchar_t kInstallerProgram[];
extern const wchar_t kInstallerWindowClass[];
// Its command line: these arguments, the CAB path and a closing quote. It
// always fits kMaxLongPath (at most 21 + 514 + 1 characters), so no run-time
// check asks; a negative array size would fail the compile.
const wchar_t kInstallerArguments[] = L" /nouninstall /noui \"";
const int kMaxCommandLine = sizeof(kInstallerArguments) / sizeof(wchar_t) + device::kMaxCabPath + 1;
typedef char CommandLineFitsLongPath[kMaxCommandLine <= device::kMaxLongPath ? 1 : -1];
// What the launcher says when the list cannot be opened, and when an
// installer cannot be started or its exit status read.
extern const wchar_t kNoListMessage[];
extern const wchar_t kUnpackFailedMessage[];

// Walks the top-level windows once, from the last towards the first, and
// collects the processes behind the installer windows it finds; then waits
// for each in that order (at most kInstallerWaitMs each). The walk ends after
// kMaxInstallerWaits installer windows: any further ones are not waited for.
const UInt32 kInstallerWaitMs = 600000;
const int kMaxInstallerWaits = 16;
const UInt32 kStartPauseMs = 250;
void waitForRunningInstallers();

// Runs the installer on one CAB (a path of at most device::kMaxCabPath
// characters) and waits for it, answering the messages other threads send to
// the launcher's window meanwhile. True when it started and its exit status
// could be read afterwards.
bool runCabInstaller(const wchar_t* cabPath);

// The whole launcher run. `module` is the program's own module handle.
// Always returns 0, the process exit code.
int runLauncher(device::ModuleHandle module);

}  // namespace vorlund

#endif
