// The setup hook library on the simulated device: what Install_Exit says,
// starts and deletes for each state of the registry and the install
// directory, and that the other hooks do nothing at all.
#include "tests/SimTestSupport.h"

#include "setup/SetupHooks.h"

namespace {

using test::kInstallDir;

const std::wstring kKey = L"Software\\TqVorlund";
const std::wstring kValueName = L"Default";
const std::wstring kDirValue = kInstallDir.substr(0, kInstallDir.size() - 1);
const std::wstring kLauncher = kInstallDir + L"Vorlund.exe";

const std::wstring kNotice =
    L"Please press the OK button. The installation will take 20-30 minutes. Do not use the "
    L"software until the program completes the unpacking of all the CAB files.";
const std::wstring kNoLauncher =
    L"Installation Failed. Error: Cannot locate registry launcher: Vorlund.exe.";
const std::wstring kNoValue =
    L"Installation Failed. Error: Cannot locate registry associated with the name of the Main CAB file.";
const std::wstring kNoKey =
    L"Installation Failed. Error: Cannot locate registry associated with the path of the Main CAB file.";

const WindowHandle kOwner = reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(0x2468));

// UTF-16LE bytes of a text, without a terminator.
std::vector<uint8_t> utf16(const std::wstring& text)
{
    std::vector<uint8_t> out;
    for (wchar_t c : text) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    return out;
}

class SetupHook : public test::DeviceTest {
protected:
    // A fresh device: the install directory with its launcher (a program
    // unless told otherwise), two CABs and a file that is not a CAB; no
    // registry key yet.
    void arrange(bool launcherIsProgram = true)
    {
        dev().reset();
        SetUp();
        if (launcherIsProgram)
            dev().installProgram(kLauncher, nullptr);
        addCab(L"a.cab");
        addCab(L"b.cab");
        dev().addFile(kInstallDir + L"notes.txt");
    }

    void writeValue(const std::wstring& directory) { dev().setRegistryString(kKey, kValueName, directory); }

    // The parameters past the owner are not read; they carry junk here.
    Int32 runHook() { return Install_Exit(kOwner, L"\\elsewhere", 1, 2, 3, 4, 5); }

    // Every message box the hook showed, each checked for owner, caption, style.
    std::vector<std::wstring> messages()
    {
        for (const auto& m : dev().messageBoxes()) {
            EXPECT_EQ(m.owner, sim::idOf(kOwner));
            EXPECT_EQ(m.caption, L"Brannoch Software");
            EXPECT_EQ(m.style, 48u);
        }
        return messageTexts();
    }

    bool cabsStay() { return dev().exists(kInstallDir + L"a.cab") && dev().exists(kInstallDir + L"b.cab"); }

    bool cabsGone() { return !dev().exists(kInstallDir + L"a.cab") && !dev().exists(kInstallDir + L"b.cab"); }

    void expectLauncherStarted(const std::wstring& path)
    {
        EXPECT_EQ(messages(), std::vector<std::wstring>{kNotice});
        ASSERT_EQ(dev().starts().size(), 1u);
        EXPECT_EQ(dev().starts()[0].program, path);
        EXPECT_FALSE(dev().starts()[0].hasCommandLine);
        EXPECT_FALSE(dev().starts()[0].keptHandles);
        EXPECT_TRUE(cabsStay()) << "the launcher sweeps them once it is done";
        EXPECT_FALSE(dev().registryKeyExists(kKey));
        expectNoLeaks();
    }

    // The launcher message; the install directory swept or not.
    void expectLauncherMissing(bool swept)
    {
        EXPECT_EQ(messages(), std::vector<std::wstring>{kNoLauncher});
        EXPECT_TRUE(dev().starts().empty());
        if (swept)
            EXPECT_TRUE(cabsGone());
        else
            EXPECT_TRUE(cabsStay());
        EXPECT_TRUE(dev().exists(kInstallDir + L"notes.txt"));
        EXPECT_FALSE(dev().registryKeyExists(kKey));
        expectNoLeaks();
    }
};

// ---- the four outcomes ------------------------------------------------------------

TEST_F(SetupHook, LauncherPresentShowsTheNoticeThenStartsItAndTheKeyIsGone)
{
    arrange();
    writeValue(kDirValue);
    EXPECT_EQ(runHook(), 0);
    expectLauncherStarted(kLauncher);

    // Read access on the right key; the notice is acknowledged before the
    // launcher starts; the key is deleted last.
    std::vector<std::wstring> order;
    for (const auto& line : dev().trace())
        order.push_back(line.substr(0, line.find(L' ', line.find(L' ') + 1)));
    EXPECT_EQ(dev().trace().front(), L"open key Software\\TqVorlund access=0x20019");
    EXPECT_EQ(order, (std::vector<std::wstring>{L"open key", L"message box", L"start \\Program",
                                                L"delete key"}));

    // A second run finds the key gone.
    EXPECT_EQ(runHook(), 0);
    EXPECT_EQ(messages(), (std::vector<std::wstring>{kNotice, kNoKey}));
    EXPECT_EQ(dev().starts().size(), 1u);
    expectNoLeaks();
}

TEST_F(SetupHook, NoKeyIsReportedAndNothingIsDeleted)
{
    arrange();
    dev().remove(kLauncher);
    dev().addRegistryKey(L"Software\\Other");
    EXPECT_EQ(runHook(), 0);
    EXPECT_EQ(messages(), std::vector<std::wstring>{kNoKey});
    EXPECT_TRUE(cabsStay());
    EXPECT_TRUE(dev().deletions().empty());
    EXPECT_TRUE(dev().registryKeyExists(L"Software\\Other"));
    expectNoLeaks();

    // A key that is there but cannot be opened is left in place.
    arrange();
    writeValue(kDirValue);
    dev().failCall(sim::Op::OpenUserKey, 1);
    EXPECT_EQ(runHook(), 0);
    EXPECT_EQ(messages(), std::vector<std::wstring>{kNoKey});
    EXPECT_TRUE(dev().registryKeyExists(kKey));
    EXPECT_TRUE(dev().starts().empty());
    expectNoLeaks();
}

TEST_F(SetupHook, ValueThatCannotBeReadIsReportedAndTheKeyDeletedAllTheSame)
{
    struct Case { const char* what; sim::Op op; int nth; bool hasValue; };
    const Case cases[] = {
        {"key without the value", sim::Op::QueryValue, 0, false},
        {"size query fails", sim::Op::QueryValue, 1, true},
        {"data query fails", sim::Op::QueryValue, 2, true},
        {"value buffer cannot be allocated", sim::Op::Allocate, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        arrange();
        if (c.hasValue)
            writeValue(kDirValue);
        else
            dev().addRegistryKey(kKey);
        if (c.nth)
            dev().failCall(c.op, c.nth);
        EXPECT_EQ(runHook(), 0);
        EXPECT_EQ(messages(), std::vector<std::wstring>{kNoValue});
        EXPECT_TRUE(dev().starts().empty());
        EXPECT_TRUE(cabsStay());
        EXPECT_FALSE(dev().registryKeyExists(kKey));
        expectNoLeaks();
    }
}

// With or without a trailing backslash in the value, the CABs go by their
// plain paths.
TEST_F(SetupHook, LauncherAbsentIsReportedThenTheCabsAreSwept)
{
    for (const std::wstring& value : {kDirValue, kInstallDir}) {
        SCOPED_TRACE(sim::narrow(value));
        arrange();
        dev().remove(kLauncher);
        writeValue(value);
        EXPECT_EQ(runHook(), 0);
        expectLauncherMissing(true);
        EXPECT_EQ(dev().deletions(), (std::vector<std::wstring>{kInstallDir + L"a.cab", kInstallDir + L"b.cab"}));
    }
}

// A launcher that is hidden, system or a directory fails the test even when
// a program is registered at its path.
TEST_F(SetupHook, LauncherThatIsNoOrdinaryFileFailsTheTest)
{
    for (uint32_t attributes : {kAttrHidden, kAttrSystem, kAttrDirectory}) {
        SCOPED_TRACE(attributes);
        arrange();
        if (attributes == kAttrDirectory) {
            dev().remove(kLauncher);
            dev().addDirectory(kLauncher);
        } else {
            dev().setAttributes(kLauncher, attributes);
        }
        writeValue(kDirValue);
        EXPECT_EQ(runHook(), 0);
        expectLauncherMissing(true);
    }
}

// ---- mended faults ---------------------------------------------------------------

// A file named like the launcher that will not start is no launcher either.
TEST_F(SetupHook, LauncherThatCannotStartIsReportedThenTheCabsAreSwept)
{
    arrange(false);
    writeValue(kDirValue);
    EXPECT_EQ(runHook(), 0);
    EXPECT_EQ(messages(), (std::vector<std::wstring>{kNotice, kNoLauncher}));
    EXPECT_TRUE(dev().starts().empty());
    EXPECT_TRUE(cabsGone());
    EXPECT_FALSE(dev().registryKeyExists(kKey));
    expectNoLeaks();
}

// An empty value names no install directory: the root is never swept.
TEST_F(SetupHook, EmptyValueLooksAtTheRootButNeverSweepsIt)
{
    for (bool sizeZero : {false, true}) {
        SCOPED_TRACE(sizeZero ? "size 0" : "empty string");
        arrange();
        dev().addFile(L"\\root.cab");
        if (sizeZero)
            dev().setRegistryValue(kKey, kValueName, {});
        else
            writeValue(L"");
        EXPECT_EQ(runHook(), 0);
        expectLauncherMissing(false);
        EXPECT_TRUE(dev().exists(L"\\root.cab"));
        EXPECT_TRUE(dev().deletions().empty());
    }

    // A launcher at the root is started like any other.
    arrange();
    dev().addFile(L"\\Vorlund.exe");
    dev().installProgram(L"\\Vorlund.exe", nullptr);
    writeValue(L"");
    EXPECT_EQ(runHook(), 0);
    expectLauncherStarted(L"\\Vorlund.exe");

    // Nor is the root swept when the launcher there will not start.
    arrange();
    dev().addFile(L"\\Vorlund.exe");
    dev().addFile(L"\\root.cab");
    writeValue(L"");
    EXPECT_EQ(runHook(), 0);
    EXPECT_EQ(messages(), (std::vector<std::wstring>{kNotice, kNoLauncher}));
    EXPECT_TRUE(dev().deletions().empty());
    expectNoLeaks();
}

// ---- the value's shape ------------------------------------------------------------

// Data that is not a well-formed string is still read as one, within its
// buffer: without a terminator, with half a character at the end, of a type
// other than string, with a trailing backslash.
TEST_F(SetupHook, ValueIsReadAsTextWhateverItsShape)
{
    std::vector<uint8_t> plain = utf16(kDirValue);
    std::vector<uint8_t> terminated = plain;
    terminated.insert(terminated.end(), {0, 0});
    struct Case { const char* what; std::vector<uint8_t> data; uint32_t type; };
    std::vector<Case> cases = {
        {"no terminator", plain, 1},
        {"odd size, no terminator", plain, 1},
        {"odd size after the terminator", terminated, 1},
        {"binary type", terminated, 3},
        {"trailing backslash", utf16(kInstallDir), 1},
        {"text after an inner terminator", terminated, 1},
    };
    cases[1].data.push_back('X');
    cases[2].data.push_back('X');
    std::vector<uint8_t> tail = utf16(L"\\other");
    cases[5].data.insert(cases[5].data.end(), tail.begin(), tail.end());

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        arrange();
        dev().setRegistryValue(kKey, kValueName, c.data, c.type);
        EXPECT_EQ(runHook(), 0);
        expectLauncherStarted(kLauncher);
    }
}

// The launcher path must fit 260 characters with its terminator, so the value
// may have 247; the sweep directory fits up to 258. Longer values are
// reported and never cut short: nothing outside the directory is deleted.
TEST_F(SetupHook, ValuesAroundThePathLimit)
{
    struct Case { size_t length; bool started; bool swept; };
    const Case cases[] = {
        {247, true, false},
        {248, false, true},   // launcher path too long; the CABs still fit
        {258, false, false},  // the sweep pattern no longer fits
        {259, false, false},
        {300, false, false},
        {2000, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        dev().reset();
        SetUp();
        // "\p\ddd..." with a CAB of its own, one in its parent "\p" and one
        // at the root.
        std::wstring directory = L"\\p\\" + std::wstring(c.length - 3, L'd');
        dev().addDirectory(directory);
        dev().addFile(directory + L"\\Vorlund.exe");
        dev().installProgram(directory + L"\\Vorlund.exe", nullptr);
        dev().addFile(directory + L"\\a.cab");
        dev().addFile(L"\\p\\up.cab");
        dev().addFile(L"\\root.cab");
        writeValue(directory);

        EXPECT_EQ(runHook(), 0);
        EXPECT_EQ(dev().starts().size(), c.started ? 1u : 0u);
        EXPECT_EQ(messages(), std::vector<std::wstring>{c.started ? kNotice : kNoLauncher});
        EXPECT_EQ(dev().exists(directory + L"\\a.cab"), !c.swept);
        EXPECT_TRUE(dev().exists(L"\\p\\up.cab"));
        EXPECT_TRUE(dev().exists(L"\\root.cab"));
        EXPECT_FALSE(dev().registryKeyExists(kKey));
        expectNoLeaks();
    }
}

// ---- the hooks with nothing to do -------------------------------------------------

TEST_F(SetupHook, OtherHooksReturnZeroAndTouchNothing)
{
    arrange();
    writeValue(kDirValue);
    EXPECT_EQ(Install_Init(kOwner, 1, 0, kInstallDir.c_str()), 0);
    EXPECT_EQ(Install_Init(nullptr, 0, 1, nullptr), 0);
    EXPECT_EQ(Uninstall_Init(kOwner, kInstallDir.c_str()), 0);
    EXPECT_EQ(Uninstall_Exit(kOwner), 0);
    EXPECT_EQ(dev().overallCalls(), 0);
    EXPECT_TRUE(dev().trace().empty());
    EXPECT_TRUE(dev().registryKeyExists(kKey));
    EXPECT_TRUE(cabsStay());
    expectNoLeaks();
}

// ---- every platform call failing in turn ------------------------------------------

}  // namespace
