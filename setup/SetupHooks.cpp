// SetupHooks: the whole of VorlundSetup.dll. Install_Exit finds the launcher
// through the registry and starts it; the other three hooks do nothing.
#include "setup/SetupHooks.h"
#include "common/CabSweep.h"
#include "common/OrdinaryFile.h"
#include "common/SharedTexts.h"
#include "common/WideText.h"

static const wchar_t kRegistryKey[] = L"Software\\TqVorlund";
static const wchar_t kRegistryValueName[] = L"Default";
// Read access as the registry API spells it (KEY_READ).
static const UInt32 kRegistryReadAccess = 0x20019;
static const UInt32 kRegistryStringType = 1;

static const wchar_t kLauncherFileName[] = L"Vorlund.exe";
static const wchar_t kSeparator[] = L"\\";

static const wchar_t kNoticeMessage[] =
    L"Please press the OK button. The installation will take 20-30 minutes. "
    L"Do not use the software until the program completes the unpacking of all the CAB files.";
static const wchar_t kNoLauncherMessage[] =
    L"Installation Failed. Error: Cannot locate registry launcher: Vorlund.exe.";
static const wchar_t kNoValueMessage[] =
    L"Installation Failed. Error: Cannot locate registry associated with the name of the Main CAB file.";
static const wchar_t kNoKeyMessage[] =
    L"Installation Failed. Error: Cannot locate registry associated with the path of the Main CAB file.";

// Room for sizeBytes + 1 wide characters: at least one character per byte of
// the value, so whatever the data holds there is a place for a terminator
// after it. Null when the heap cannot supply it, or when the size in bytes
// would not even fit a size_t (possible on the 32-bit device).
static wchar_t* allocateValueBuffer(UInt32 sizeBytes)
{
    size_t characters = static_cast<size_t>(sizeBytes) + 1;
    if (characters == 0 || characters > static_cast<size_t>(-1) / sizeof(wchar_t))
        return 0;
    return static_cast<wchar_t*>(allocateMemory(characters * sizeof(wchar_t)));
}

// The value "Default" of the open key in a heap buffer that the caller
// releases, always terminated within that buffer. Null when the value cannot
// be read or its buffer cannot be had: both are reported as the value missing.
static wchar_t* readInstallDirectory(KeyHandle key)
{
    UInt32 type = kRegistryStringType;
    UInt32 reportedBytes = 0;
    if (!queryValue(key, kRegistryValueName, &type, 0, &reportedBytes))
        return 0;

    wchar_t* value = allocateValueBuffer(reportedBytes);
    if (value == 0)
        return 0;
    UInt32 readBytes = reportedBytes;
    if (!queryValue(key, kRegistryValueName, &type, value, &readBytes)) {
        releaseMemory(value);
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
static bool buildDirectory(wchar_t* directory, const wchar_t* value)
{
    if (!copyText(directory, kMaxPath, value))
        return false;
    int length = textLength(directory);
    if (length > 0 && directory[length - 1] == L'\\')
        return true;
    return appendText(directory, kMaxPath, kSeparator);
}

// Warns and starts the launcher of the install directory `value`; when the
// launcher is missing or will not start, says so and deletes the directory's
// CAB files, which would otherwise stay behind with nothing to install them.
static void startLauncherOrSweep(WindowHandle owner, const wchar_t* value)
{
    wchar_t directory[kMaxPath];
    wchar_t launcherPath[kMaxPath];
    bool directoryFits = buildDirectory(directory, value);
    bool launcherFits = directoryFits && copyText(launcherPath, kMaxPath, directory) &&
                        appendText(launcherPath, kMaxPath, kLauncherFileName);

    if (launcherFits && isOrdinaryFile(launcherPath)) {
        messageBox(owner, kNoticeMessage, kMessageCaption, kMessageStyle);
        // No process information is asked for, so no handle is kept.
        if (startProgram(launcherPath, 0, 0, 0))
            return;
    }

    messageBox(owner, kNoLauncherMessage, kMessageCaption, kMessageStyle);
    // An empty value names no install directory: its directory would be the
    // root of the file system, which is not ours to sweep. A directory too
    // long for its buffer is left alone rather than swept under a cut name.
    if (directoryFits && value[0] != 0)
        sweepCabFiles(directory);
}

// The three hooks with nothing to do share one body.
static Int32 nothingToDo()
{
    return 0;
}

extern "C" Int32 Install_Init(WindowHandle, int, int, const wchar_t*)
{
    return nothingToDo();
}

extern "C" Int32 Uninstall_Init(WindowHandle, const wchar_t*)
{
    return nothingToDo();
}

extern "C" Int32 Uninstall_Exit(WindowHandle)
{
    return nothingToDo();
}

extern "C" Int32 Install_Exit(WindowHandle parent, const wchar_t*, unsigned short,
                              unsigned short, unsigned short, unsigned short, unsigned short)
{
    KeyHandle key = openUserKey(kRegistryKey, kRegistryReadAccess);
    if (key == 0) {
        messageBox(parent, kNoKeyMessage, kMessageCaption, kMessageStyle);
        return 0;
    }

    wchar_t* value = readInstallDirectory(key);
    if (value == 0) {
        messageBox(parent, kNoValueMessage, kMessageCaption, kMessageStyle);
    } else {
        startLauncherOrSweep(parent, value);
        releaseMemory(value);
    }

    // The key has served its one purpose; deleting it is best effort.
    closeKey(key);
    deleteUserKey(kRegistryKey);
    return 0;
}
