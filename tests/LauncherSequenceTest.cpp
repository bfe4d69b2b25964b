// The launcher's whole run on the simulated device: what it starts, in which
// order and with which command lines, what it says, what it leaves behind.
#include "tests/SimTestSupport.h"

#include "launcher/LauncherSequence.h"

namespace {

using test::kInstallDir;
using test::kInstaller;

const std::wstring kNoList = L"Installation Failed. Error: Cannot locate CAB file list: Vorlund.ini.";
const std::wstring kUnpackFailed = L"Installation Failed. Error: Cannot unpack all CAB file.";

std::wstring commandFor(const std::wstring& path)
{
    return L" /nouninstall /noui \"" + path + L"\"";
}

class Launcher : public test::DeviceTest {
protected:
    std::vector<std::wstring> commandLines()
    {
        std::vector<std::wstring> out;
        for (const auto& s : dev().starts()) {
            EXPECT_EQ(s.program, kInstaller);
            EXPECT_TRUE(s.hasCommandLine);
            out.push_back(s.commandLine);
        }
        return out;
    }
    std::vector<std::wstring> cabsLeft()
    {
        std::vector<std::wstring> out;
        for (const auto& n : dev().list(kInstallDir)) {
            if (n.size() > 4 && n.substr(n.size() - 4) == L".cab")
                out.push_back(n);
        }
        return out;
    }
};

TEST_F(Launcher, InstallsEveryListedCabInListOrderThenSweeps)
{
    installInstaller();
    addCab(L"a.cab");
    addCab(L"b.cab");
    addCab(L"c.cab");
    addCab(L"unlisted.cab");
    writeList("c.cab\r\na.cab\r\nb.cab\r\n");
    EXPECT_EQ(runLauncherNow(), 0);

    EXPECT_EQ(commandLines(), (std::vector<std::wstring>{
        commandFor(kInstallDir + L"c.cab"), commandFor(kInstallDir + L"a.cab"),
        commandFor(kInstallDir + L"b.cab")}));
    EXPECT_TRUE(dev().messageBoxes().empty());
    EXPECT_TRUE(cabsLeft().empty()) << "listed and unlisted CABs alike are swept";
    EXPECT_TRUE(dev().exists(kInstallDir + L"Vorlund.ini"));
    EXPECT_TRUE(dev().exists(kInstallDir + L"Vorlund.exe"));
    ASSERT_FALSE(dev().pauses().empty());
    EXPECT_EQ(dev().pauses().front(), 250u);
    // Each installer run is waited for without limit, one after the other.
    EXPECT_EQ(dev().waits().size(), 3u);
    for (const auto& w : dev().waits())
        EXPECT_EQ(w.askedMs, kWaitForever);
    EXPECT_EQ(dev().now(), 250u + 3 * 1000u);
    expectNoLeaks();
}

TEST_F(Launcher, NoListFileIsReportedThenTheDirectoryIsSwept)
{
    installInstaller();
    addCab(L"a.cab");
    EXPECT_EQ(runLauncherNow(), 0);
    ASSERT_EQ(dev().messageBoxes().size(), 1u);
    const sim::MessageBoxRecord& m = dev().messageBoxes()[0];
    EXPECT_EQ(m.text, kNoList);
    EXPECT_EQ(m.caption, L"Brannoch Software");
    EXPECT_EQ(m.style, 48u);
    EXPECT_EQ(m.owner, 0u);
    EXPECT_TRUE(dev().starts().empty());
    EXPECT_TRUE(cabsLeft().empty());
    expectNoLeaks();
}

TEST_F(Launcher, ListLockedByAnotherProcessCountsAsMissing)
{
    installInstaller();
    addCab(L"a.cab");
    writeList("a.cab\r\n");
    dev().node(kInstallDir + L"Vorlund.ini")->inUse = true;
    runLauncherNow();
    EXPECT_EQ(messageTexts(), std::vector<std::wstring>{kNoList});
    EXPECT_TRUE(dev().starts().empty());
}

TEST_F(Launcher, SkipsMissingHiddenSystemAndDirectoryNamesSilently)
{
    installInstaller();
    addCab(L"ok.cab");
    addCab(L"hidden.cab", kAttrHidden);
    addCab(L"system.cab", kAttrSystem);
    dev().addDirectory(kInstallDir + L"folder.cab");
    writeList("missing.cab\r\nhidden.cab\r\nsystem.cab\r\nfolder.cab\r\nok.cab\r\n");
    runLauncherNow();
    EXPECT_EQ(commandLines(), std::vector<std::wstring>{commandFor(kInstallDir + L"ok.cab")});
    EXPECT_TRUE(dev().messageBoxes().empty());
    // The sweep stops at the hidden CAB, which the search returns first.
    EXPECT_TRUE(dev().exists(kInstallDir + L"hidden.cab"));
    expectNoLeaks();
}

TEST_F(Launcher, ListNamingNoExistingCabStillSweeps)
{
    installInstaller();
    addCab(L"stray.cab");
    writeList("nothing.cab\r\nnone.cab");
    runLauncherNow();
    EXPECT_TRUE(dev().starts().empty());
    EXPECT_TRUE(dev().messageBoxes().empty());
    EXPECT_TRUE(cabsLeft().empty());
}

TEST_F(Launcher, InstallerMissingGivesOneMessageForAShortList)
{
    addCab(L"a.cab");
    addCab(L"b.cab");
    writeList("a.cab\r\nb.cab\r\n");
    runLauncherNow();
    EXPECT_EQ(messageTexts(), std::vector<std::wstring>{kUnpackFailed});
    EXPECT_EQ(dev().callCount(sim::Op::StartProgram), 1) << "the second name is not tried";
    EXPECT_TRUE(cabsLeft().empty());
    expectNoLeaks();
}

// Lines of exactly `length` bytes naming a CAB that does not exist.
std::string missingLines(size_t length)
{
    std::string out;
    while (length - out.size() >= 30)
        out += "missing-" + std::to_string(out.size() + 1000) + ".cab\r\n";
    size_t rest = length - out.size();
    if (rest)
        out += std::string(rest - 2, 'm') + "\r\n";
    return out;
}

TEST_F(Launcher, InstallerMissingGivesOneMessagePerBlockHoldingAnInstallableName)
{
    addCab(L"a.cab");
    // Blocks 1, 3 and 4 name a.cab twice; block 2 names only missing CABs.
    std::string head = "a.cab\r\na.cab\r\n";
    std::string file = head + missingLines(4096 - head.size());
    file += missingLines(4096);
    file += head + missingLines(4096 - head.size());
    file += head + "tail.cab\r\n";
    ASSERT_EQ(file.size(), 3 * 4096u + head.size() + 10);
    writeList(file);
    runLauncherNow();
    EXPECT_EQ(messageTexts(), std::vector<std::wstring>(3, kUnpackFailed));
    EXPECT_EQ(dev().callCount(sim::Op::StartProgram), 3);
    expectNoLeaks();
}

TEST_F(Launcher, UnreadableExitStatusSkipsTheRestOfItsBlockOnly)
{
    installInstaller();
    script.unreadable = {L"bad.cab"};
    addCab(L"bad.cab");
    addCab(L"skipped.cab");
    addCab(L"next.cab");
    std::string first = "bad.cab\r\nskipped.cab\r\n";
    writeList(first + missingLines(4096 - first.size()) + "next.cab\r\n");
    runLauncherNow();
    EXPECT_EQ(messageTexts(), std::vector<std::wstring>{kUnpackFailed});
    EXPECT_EQ(script.cabsSeen, (std::vector<std::wstring>{kInstallDir + L"bad.cab", kInstallDir + L"next.cab"}));
    expectNoLeaks();
}

TEST_F(Launcher, RejectedCabCountsAsInstalledWithoutAMessage)
{
    installInstaller();
    script.reject = {L"a.cab"};
    addCab(L"a.cab");
    addCab(L"b.cab");
    writeList("a.cab\r\nb.cab\r\n");
    runLauncherNow();
    EXPECT_TRUE(dev().messageBoxes().empty());
    EXPECT_EQ(script.cabsSeen.size(), 2u);
}

TEST_F(Launcher, SameCabTwiceRunsTwiceOnlyWhileItExists)
{
    installInstaller();
    addCab(L"a.cab");
    writeList("a.cab\r\na.cab\r\n");
    runLauncherNow();
    EXPECT_EQ(script.cabsSeen.size(), 2u);

    dev().reset();
    SetUp();
    script = test::InstallerScript();
    script.deletesCab = true;
    installInstaller();
    addCab(L"a.cab");
    writeList("a.cab\r\na.cab\r\n");
    runLauncherNow();
    EXPECT_EQ(script.cabsSeen.size(), 1u) << "the second line finds no file and is skipped";
    EXPECT_TRUE(dev().messageBoxes().empty());
}

TEST_F(Launcher, ModulePathWithoutBackslashUsesBareNames)
{
    installInstaller();
    dev().setModulePath(L"Vorlund.exe");
    dev().addFile(L"\\Vorlund.ini", "a.cab\r\n");
    dev().addFile(L"\\a.cab", "MSCF");
    addCab(L"elsewhere.cab");
    runLauncherNow();
    EXPECT_EQ(commandLines(), std::vector<std::wstring>{commandFor(L"a.cab")});
    EXPECT_FALSE(dev().exists(L"\\a.cab")) << "the sweep ran on the bare pattern";
    EXPECT_TRUE(dev().exists(kInstallDir + L"elsewhere.cab"));
}

TEST_F(Launcher, ModulePathUnavailableEndsQuietly)
{
    installInstaller();
    addCab(L"a.cab");
    writeList("a.cab\r\n");
    // The first allocation is the progress window's class-name buffer (made
    // in create); the second is the module path.
    dev().failCall(sim::Op::Allocate, 2);
    EXPECT_EQ(runLauncherNow(), 0);
    dev().failCall(sim::Op::OwnModulePath, 1);
    EXPECT_EQ(runLauncherNow(), 0);
    EXPECT_TRUE(dev().messageBoxes().empty());
    EXPECT_TRUE(dev().starts().empty());
    EXPECT_TRUE(dev().exists(kInstallDir + L"a.cab")) << "no sweep without a directory";
    expectNoLeaks();
}

TEST_F(Launcher, WaitsForEachInstallerWindowFoundByTheOneWalk)
{
    installInstaller();
    sim::ProgramRun quick;
    quick.durationMs = 700000;  // still running when the stuck wait gives up
    sim::ProgramRun stuck;
    stuck.endsNever = true;
    uint32_t stuckId = dev().spawnProcess(L"\\windows\\wceload.exe", stuck, L"MSWCELOAD");
    dev().addTopLevelWindow(L"mswceload", stuckId);  // class names compare exactly
    dev().addTopLevelWindow(L"OtherClass", 0);
    uint32_t quickId = dev().spawnProcess(L"\\windows\\wceload.exe", quick, L"MSWCELOAD");
    addCab(L"a.cab");
    writeList("a.cab\r\n");
    runLauncherNow();

    ASSERT_EQ(dev().waits().size(), 3u);
    // The walk goes from the last window (the stuck installer's, created first) forwards.
    EXPECT_EQ(dev().waits()[0].processId, stuckId);
    EXPECT_EQ(dev().waits()[0].askedMs, 600000u);
    EXPECT_EQ(dev().waits()[0].waitedMs, 600000u);
    EXPECT_EQ(dev().waits()[1].processId, quickId);
    EXPECT_EQ(dev().waits()[1].waitedMs, 700000u - 600250u);
    EXPECT_EQ(dev().starts().size(), 1u);
    EXPECT_EQ(dev().starts()[0].timeMs, 700000u);
    expectNoLeaks();
}

TEST_F(Launcher, WalkCollectsEveryInstallerBeforeWaitingSoOneEndingDoesNotEndTheWalk)
{
    installInstaller();
    sim::ProgramRun first;
    first.durationMs = 5000;
    sim::ProgramRun second;
    second.durationMs = 9000;
    // Created first, so last in Z-order: the walk reaches it first.
    uint32_t firstId = dev().spawnProcess(kInstaller, first, L"MSWCELOAD");
    // A window whose class name cannot be read, between the two: passed over.
    dev().windows_[dev().addTopLevelWindow(L"MSWCELOAD", 0)].classNameReadable = false;
    uint32_t secondId = dev().spawnProcess(kInstaller, second, L"MSWCELOAD");
    addCab(L"a.cab");
    writeList("a.cab\r\n");
    runLauncherNow();

    ASSERT_EQ(dev().waits().size(), 3u);
    EXPECT_EQ(dev().waits()[0].processId, firstId);
    EXPECT_EQ(dev().waits()[0].waitedMs, 5000u - 250u);
    // The first installer's window is gone by now; the second is still waited for.
    EXPECT_EQ(dev().waits()[1].processId, secondId);
    EXPECT_EQ(dev().waits()[1].waitedMs, 9000u - 5000u);
    ASSERT_EQ(dev().starts().size(), 1u);
    EXPECT_EQ(dev().starts()[0].timeMs, 9000u) << "no installer run before both have ended";
    expectNoLeaks();
}

TEST_F(Launcher, WalkStopsAfterSixteenInstallerWindows)
{
    sim::ProgramRun stuck;
    stuck.endsNever = true;
    std::vector<uint32_t> ids;
    for (int i = 0; i < 17; ++i)
        ids.push_back(dev().spawnProcess(kInstaller, stuck, L"MSWCELOAD"));
    writeList("");
    runLauncherNow();
    ASSERT_EQ(dev().waits().size(), 16u);
    for (size_t i = 0; i < 16; ++i)
        EXPECT_EQ(dev().waits()[i].processId, ids[i]) << "in walk order, the last window first";
    expectNoLeaks();
}

TEST_F(Launcher, InstallerThatEndsDuringTheWaitIsWaitedForUntilItEnds)
{
    installInstaller();
    sim::ProgramRun run;
    run.durationMs = 42000;
    uint32_t id = dev().spawnProcess(L"\\windows\\wceload.exe", run, L"MSWCELOAD");
    dev().addTopLevelWindow(L"Desktop", 0);  // behind it in Z-order: the walk starts here
    dev().process(id);
    writeList("");
    runLauncherNow();
    ASSERT_EQ(dev().waits().size(), 1u);
    EXPECT_EQ(dev().waits()[0].waitedMs, 42000u - 250u);
}

TEST_F(Launcher, InstallerProcessThatCannotBeOpenedIsNotWaitedFor)
{
    sim::ProgramRun stuck;
    stuck.endsNever = true;
    uint32_t id = dev().spawnProcess(L"\\windows\\wceload.exe", stuck, L"MSWCELOAD");
    dev().process(id)->openable = false;
    writeList("");
    runLauncherNow();
    EXPECT_TRUE(dev().waits().empty());
    EXPECT_EQ(dev().now(), 250u);
    expectNoLeaks();
}

}  // namespace
