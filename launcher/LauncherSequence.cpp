// LauncherSequence: the launcher's run from entry to exit. It waits for the
// installers already running, counts and installs the listed CABs through
// the platform installer, reports progress and sweeps the CAB files.
#include "launcher/LauncherSequence.h"

#include "base/WideText.h"
#include "common/CabSweep.h"
#include "common/SharedTexts.h"
#include "launcher/CabList.h"
#include "launcher/ProgressWindow.h"

namespace vorlund {

const wchar_t kInstallerProgram[] = L"\\windows\\wceload.exe";
const wchar_t kInstallerWindowClass[] = L"MSWCELOAD";
const wchar_t kNoListMessage[] =
    L"Installation Failed. Error: Cannot locate CAB file list: Vorlund.ini.";
const wchar_t kUnpackFailedMessage[] = L"Installation Failed. Error: Cannot unpack all CAB file.";

namespace {

const wchar_t kQuote[] = L"\"";

// The install pass over an open list. cabPath[device::kMaxLongPath] is the
// caller's buffer, free once the list is open: each CAB path is built there,
// so that no second long path sits on the stack beside it.
void installListedCabs(CabListReader* reader, const wchar_t* directory, wchar_t* cabPath,
                       device::WindowHandle window, Int32 total)
{
    Int32 installed = 0;
    for (const wchar_t* name = nextListedName(reader); name != 0; name = nextListedName(reader)) {
        buildCabPath(cabPath, directory, name);
        if (!isInstallableFile(cabPath))
            continue;
        if (!runCabInstaller(cabPath)) {
            device::messageBox(0, kUnpackFailedMessage, kMessageCaption, kMessageStyle);
            skipRestOfBlock(reader);
            continue;
        }
        ++installed;
        progress::advance(window, installed, total - installed);
    }
}

// Cuts the module path after its last backslash, in place, leaving its
// directory; the empty string when there is none.
void cutToDirectory(wchar_t* modulePath)
{
    int cut = textLength(modulePath);
    while (cut > 0 && modulePath[cut - 1] != L'\\')
        --cut;
    modulePath[cut] = 0;
}

}  // namespace

void waitForRunningInstallers()
{
    device::pause(kStartPauseMs);
    // The one walk only collects; the waits come after it, so that the class
    // names and processes are read while the windows are still those the
    // walk's list was taken from.
    UInt32 installers[kMaxInstallerWaits];
    int found = 0;
    wchar_t className[device::kMaxPath];
    for (device::WindowHandle window = device::lastTopLevelWindow();
         window != 0 && found < kMaxInstallerWaits; window = device::windowBefore(window)) {
        if (device::windowClassName(window, className, device::kMaxPath) &&
            textEqual(className, kInstallerWindowClass))
            installers[found++] = device::windowProcessId(window);
    }
    // Each process is opened only when its turn comes; one that has ended by
    // then cannot be opened and is not waited for. These are plain waits: the
    // launcher has no window yet, and on the device a message peek before its
    // first window can put that window behind the others.
    for (int i = 0; i < found; ++i) {
        device::ProcessHandle process = device::openProcessById(installers[i]);
        if (process == 0)
            continue;
        device::waitProcess(process, kInstallerWaitMs);
        device::closeHandle(process);
    }
}

bool runCabInstaller(const wchar_t* cabPath)
{
    wchar_t commandLine[device::kMaxLongPath];
    copyText(commandLine, device::kMaxLongPath, kInstallerArguments);
    appendText(commandLine, device::kMaxLongPath, cabPath);
    appendText(commandLine, device::kMaxLongPath, kQuote);

    // The platform may write into the command line while it starts the
    // installer; it is not read again.
    device::ProcessHandle process = 0;
    device::ThreadHandle thread = 0;
    if (!device::startProgram(kInstallerProgram, commandLine, &process, &thread))
        return false;
    device::closeHandle(thread);
    // The progress window exists by now: an installer (or a CAB's setup
    // library) that sends a settings or font change to every top-level window
    // waits for it to answer, so the wait answers sent messages.
    device::waitProcessAnsweringSent(process, device::kWaitForever);
    bool readable = device::exitStatusReadable(process);
    device::closeHandle(process);
    return readable;
}

int runLauncher(device::ModuleHandle module)
{
    waitForRunningInstallers();
    device::WindowHandle window = progress::create(module);

    // The module path is not needed whole: its block holds the directory.
    wchar_t* directory =
        static_cast<wchar_t*>(device::allocateMemory(device::kMaxPath * sizeof(wchar_t)));
    if (directory == 0)
        return 0;
    if (!device::ownModulePath(directory, device::kMaxPath)) {
        device::releaseMemory(directory);
        return 0;
    }
    cutToDirectory(directory);

    // The list's path, then each CAB's path in the install pass.
    wchar_t path[device::kMaxLongPath];
    buildCabPath(path, directory, kCabListName);
    // The install pass reads the list afresh with the reader that counted.
    CabListReader reader;
    Int32 total = countInstallableCabs(&reader, directory, path);

    if (!openList(&reader, path)) {
        device::messageBox(0, kNoListMessage, kMessageCaption, kMessageStyle);
    } else {
        progress::begin(window, total);
        installListedCabs(&reader, directory, path, window, total);
        closeList(&reader);
        progress::finish(window, total);
        progress::destroy(window);
    }

    sweepCabFiles(directory);
    device::releaseMemory(directory);
    return 0;
}

}  // namespace vorlund
