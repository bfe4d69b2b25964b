// SetupHooks: the whole of VorlundSetup.dll. Install_Exit finds the launcher
// through the registry and starts it; the other three hooks do nothing.
#include "setup/SetupHooks.h"
#include "base/WideText.h"
#include "common/CabSweep.h"
#include "common/OrdinaryFile.h"
#include "common/SharedTexts.h"

namespace vorlund {

const wchar_t kRegistryKey[] = L"Software\\TqVorlund";
const wchar_t kRegistryValueName[] = L"Default";
const wchar_t kNoticeMessage[] =
    L"Please press the OK button. The installation will take 20-30 minutes. "
    L"Do not use the software until the program completes the unpacking of all the CAB files.";
const wchar_t kNoLauncherMessage[] =
    L"Installation Failed. Error: Cannot locate registry launcher: Vorlund.exe.";
const wchar_t kNoValueMessage[] = L"Installation Failed. Error: Cannot locate registry associated "
                                  L"with the name of the Main CAB file.";
const wchar_t kNoKeyMessage[] = L"Installation Failed. Error: Cannot locate registry associated "
                                L"with the path of the Main CAB file.";

namespace {

// Read access as the registry API spells it (KEY_READ).
const UInt32 kRegistryReadAccess = 0x20019;
const UInt32 kRegistryStringType = 1;
const wchar_t kSeparator[] = L"\\";

// Room for sizeBytes + 1 wide characters: at least one character per byte of
// the value, so whatever the data holds there is a place for a terminator
// after it. Null when the heap cannot supply it, or when the size in bytes
// would not even fit a size_t (possible on the 32-bit device).
wchar_t* allocateValueBuffer(UInt32 sizeBytes)
{
    size_t characters = static_cast<size_t>(sizeBytes) + 1;
    if (characters == 0 || characters > static_cast<size_t>(-1) / sizeof(wchar_t))
        return 0;
    return static_cast<wchar_t*>(device::allocateMemory(characters * sizeof(wchar_t)));
}

// The value "Default" of the open key in a heap buffer that the caller
// releases, always terminated within that buffer. Null when the value cannot
// be read or its buffer cannot be had: both are reported as the value missing.
wchar_t* readInstallDirectory(device::KeyHandle key)
{
    UInt32 type = kRegistryStringType;
    UInt32 reportedBytes = 0;
    if (!device::queryValue(key, kRegistryValueName, &type, 0, &reportedBytes))
        return 0;

    wchar_t* value = allocateValueBuffer(reportedBytes);
    if (value == 0)
        return 0;
    UInt32 readBytes = reportedBytes;
    if (!device::queryValue(key, kRegistryValueName, &type, value, &readBytes)) {
        device::releaseMemory(value);
        return 0;
    }
    // The type is not looked at and the data need not carry a terminator:
    // end the text after the last whole character read. A trailing odd byte
    // is half a character and is dropped.
    if (readBytes > reportedBytes)
        readBytes = reportedBytes;
    value[readBytes / sizeof(wchar_t)] = 0;
    return value;
}

// The value followed by a backslash, into directory[kMaxPath]. A value that
// already ends with a backslash gets no second one, so both paths stay plain
// device paths. False (nothing usable) when it does not fit.
bool buildDirectory(wchar_t* directory, const wchar_t* value)
{
    if (!copyText(directory, device::kMaxPath, value))
        return false;
    int length = textLength(directory);
    if (length > 0 && directory[length - 1] == L'\\')
        return true;
    return appendText(directory, device::kMaxPath, kSeparator);
}

// Warns and starts the launcher of the install directory `value`; when the
// launcher is missing or will not start, says so and deletes the directory's
// CAB files, which would otherwise stay behind with nothing to install them.
// One buffer holds the directory and, appended to it, the launcher's name,
// cut off again for the sweep.
void startLauncherOrSweep(device::WindowHandle owner, const wchar_t* value)
{
    wchar_t path[device::kMaxPath];
    bool directoryFits = buildDirectory(path, value);
    int directoryLength = directoryFits ? textLength(path) : 0;
    bool launcherFits = directoryFits && appendText(path, device::kMaxPath, kLauncherFileName);

    if (launcherFits && isOrdinaryFile(path)) {
        device::messageBox(owner, kNoticeMessage, kMessageCaption, kMessageStyle);
        // No process information is asked for, so no handle is kept.
        if (device::startProgram(path, 0, 0, 0))
            return;
    }

    device::messageBox(owner, kNoLauncherMessage, kMessageCaption, kMessageStyle);
    // An empty value names no install directory: its directory would be the
    // root of the file system, which is not ours to sweep. A directory too
    // long for its buffer is left alone rather than swept under a cut name.
    if (directoryFits && value[0] != 0) {
        path[directoryLength] = 0;
        sweepCabFiles(path);
    }
}

// What Install_Exit does; the export itself only hands on its owner window.
Int32 installExit(device::WindowHandle owner)
{
    device::KeyHandle key = device::openUserKey(kRegistryKey, kRegistryReadAccess);
    if (key == 0) {
        device::messageBox(owner, kNoKeyMessage, kMessageCaption, kMessageStyle);
        return 0;
    }

    wchar_t* value = readInstallDirectory(key);
    if (value == 0) {
        device::messageBox(owner, kNoValueMessage, kMessageCaption, kMessageStyle);
    } else {
        startLauncherOrSweep(owner, value);
        device::releaseMemory(value);
    }

    // The key has served its one purpose; deleting it is best effort.
    device::closeKey(key);
    device::deleteUserKey(kRegistryKey);
    return 0;
}

// The three hooks with nothing to do share one body.
Int32 nothingToDo()
{
    return 0;
}

}  // namespace
}  // namespace vorlund

extern "C" Int32 Install_Init(device::WindowHandle, int, int, const wchar_t*)
{
    return vorlund::nothingToDo();
}

extern "C" Int32 Uninstall_Init(device::WindowHandle, const wchar_t*)
{
    return vorlund::nothingToDo();
}

extern "C" Int32 Uninstall_Exit(device::WindowHandle)
{
    return vorlund::nothingToDo();
}

extern "C" Int32 Install_Exit(device::WindowHandle parent, const wchar_t*, unsigned short,
                              unsigned short, unsigned short, unsigned short, unsigned short)
{
    return vorlund::installExit(parent);
}
