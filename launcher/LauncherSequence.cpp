// LauncherSequence: the launcher's run from entry to exit. It waits for the
// installers already running, counts and installs the listed CABs through
// the platform installer, reports progress and sweeps the CAB files.
#include "launcher/LauncherSequence.h"
#include "launcher/CabList.h"
#include "launcher/ProgressWindow.h"
#include "common/CabSweep.h"
#include "common/SharedTexts.h"
#include "common/WideText.h"

const wchar_t kInstallerProgram[] = L"\\windows\\wceload.exe";
const wchar_t kInstallerWindowClass[] = L"MSWCELOAD";

static const wchar_t kInstallerArguments[] = L" /nouninstall /noui \"";
static const wchar_t kQuote[] = L"\"";
static const wchar_t kNoListMessage[] =
    L"Installation Failed. Error: Cannot locate CAB file list: Vorlund.ini.";
static const wchar_t kUnpackFailedMessage[] =
    L"Installation Failed. Error: Cannot unpack all CAB file.";

const int kMaxCommandLine = 1024;

void waitForRunningInstallers()
{
    pause(kStartPauseMs);
    // The one walk only collects: a window whose installer ends while it is
    // waited for is gone, and asking it for the window before it would end
    // the walk there and miss every installer still running in front of it.
    UInt32 installers[kMaxInstallerWaits];
    int found = 0;
    wchar_t className[kMaxPath];
    for (WindowHandle window = lastTopLevelWindow(); window != 0 && found < kMaxInstallerWaits;
         window = windowBefore(window)) {
        if (windowClassName(window, className, kMaxPath) &&
            textEqual(className, kInstallerWindowClass))
            installers[found++] = windowProcessId(window);
    }
    // Each process is opened only when its turn comes; one that has ended by
    // then cannot be opened and is not waited for.
    for (int i = 0; i < found; ++i) {
        ProcessHandle process = openProcessById(installers[i]);
        if (process == 0)
            continue;
        waitProcess(process, kInstallerWaitMs);
        closeHandle(process);
    }
}

bool runCabInstaller(const wchar_t* cabPath)
{
    wchar_t commandLine[kMaxCommandLine];
    if (!copyText(commandLine, kMaxCommandLine, kInstallerArguments) ||
        !appendText(commandLine, kMaxCommandLine, cabPath) ||
        !appendText(commandLine, kMaxCommandLine, kQuote))
        return false;  // reported like an installer that cannot be started

    ProcessHandle process = 0;
    ThreadHandle thread = 0;
    if (!startProgram(kInstallerProgram, commandLine, &process, &thread))
        return false;
    closeHandle(thread);
    waitProcess(process, kWaitForever);
    bool readable = exitStatusReadable(process);
    closeHandle(process);
    return readable;
}

// The install pass over an open list.
static void installListedCabs(CabListReader* reader, const wchar_t* directory,
                               WindowHandle window, Int32 total)
{
    Int32 installed = 0;
    wchar_t cabPath[kMaxCabPath];
    while (nextBlock(reader)) {
        for (const wchar_t* name = nextName(reader); name != 0; name = nextName(reader)) {
            if (!buildCabPath(cabPath, directory, name) || !isInstallableFile(cabPath))
                continue;
            if (!runCabInstaller(cabPath)) {
                messageBox(0, kUnpackFailedMessage, kMessageCaption, kMessageStyle);
                skipRestOfBlock(reader);
                continue;
            }
            ++installed;
            advance(window, installed, total - installed);
        }
        if (!blockWasFull(reader))
            break;
    }
}

// Everything up to and including the last backslash of the module path; the
// empty string when there is none.
static void deriveDirectory(const wchar_t* modulePath, wchar_t* directory)
{
    int cut = textLength(modulePath);
    while (cut > 0 && modulePath[cut - 1] != L'\\')
        --cut;
    for (int i = 0; i < cut; ++i)
        directory[i] = modulePath[i];
    directory[cut] = 0;
}

int runLauncher(ModuleHandle module)
{
    waitForRunningInstallers();
    WindowHandle window = create(module);

    wchar_t* modulePath = static_cast<wchar_t*>(allocateMemory(kMaxPath * sizeof(wchar_t)));
    if (modulePath == 0)
        return 0;
    if (!ownModulePath(modulePath, kMaxPath)) {
        releaseMemory(modulePath);
        return 0;
    }
    modulePath[kMaxPath - 1] = 0;

    // Both fit: the directory is a prefix of a path of at most kMaxPath.
    wchar_t directory[kMaxPath];
    deriveDirectory(modulePath, directory);

    wchar_t listPath[kMaxCabPath];
    bool listPathFits = buildCabPath(listPath, directory, kCabListName);
    Int32 total = listPathFits ? countInstallableCabs(directory, listPath) : 0;

    CabListReader reader;
    if (!listPathFits || !openList(&reader, listPath)) {
        messageBox(0, kNoListMessage, kMessageCaption, kMessageStyle);
    } else {
        begin(window, total);
        installListedCabs(&reader, directory, window, total);
        closeList(&reader);
        finish(window, total);
        destroy(window);
    }

    sweepCabFiles(directory);
    releaseMemory(modulePath);
    return 0;
}
