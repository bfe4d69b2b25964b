// Fault sweep: a full launcher run with one platform call failing, for every
// call the run makes, then with each operation failing for good from its nth
// call on. Whatever fails, nothing may leak, hang, or be deleted wrongly.
#include "tests/SimTestSupport.h"

#include <iostream>

#include "launcher/LauncherSequence.h"

namespace {

using test::kInstallDir;

const std::set<std::wstring> kLauncherMessages = {
    L"Installation Failed. Error: Cannot locate CAB file list: Vorlund.ini.",
    L"Installation Failed. Error: Cannot unpack all CAB file."};

class FaultSweep : public test::DeviceTest {
protected:
    // A run that touches every operation of the launcher: an installer
    // already running, a list of two blocks, a rejected CAB, skipped names,
    // an undeletable CAB and a look-alike for the sweep.
    void arrange()
    {
        dev().reset();
        SetUp();
        script = test::InstallerScript();
        script.reject = {L"b.cab"};
        installInstaller();
        sim::ProgramRun running;
        running.durationMs = 3000;
        dev().spawnProcess(L"\\windows\\wceload.exe", running, L"MSWCELOAD");
        dev().desktopAliasMatching = true;
        addCab(L"a.cab");
        addCab(L"b.cab");
        addCab(L"hidden.cab", kAttrHidden);
        addCab(L"locked.cab", kAttrReadOnly);
        addCab(L"c.cab");
        dev().addFile(kInstallDir + L"keep.cabinet");
        dev().addFile(kInstallDir + L"notes.txt");
        std::string first = "a.cab\r\nmissing.cab\r\nb.cab\r\n";
        std::string file = first + std::string(4096 - first.size() - 4, 'x') + "\r\nc.";
        file += "cab\r\nlocked.cab\r\nhidden.cab\r\n";
        writeList(file);
        keep = {L"Vorlund.exe", L"Vorlund.ini", L"keep.cabinet", L"notes.txt"};
    }

    // What must hold after any run, however it failed.
    void check(const std::string& what)
    {
        SCOPED_TRACE(what);
        EXPECT_EQ(dev().openHandleCount(), 0);
        EXPECT_EQ(dev().outstandingAllocations(), 0);
        EXPECT_FALSE(dev().hungForever());
        for (const std::wstring& path : dev().deletions()) {
            EXPECT_EQ(path.rfind(kInstallDir, 0), 0u) << sim::narrow(path);
            EXPECT_EQ(path.substr(path.size() - 4), L".cab") << sim::narrow(path);
        }
        for (const std::wstring& name : keep)
            EXPECT_TRUE(dev().exists(kInstallDir + name)) << sim::narrow(name);
        for (const auto& m : dev().messageBoxes()) {
            EXPECT_TRUE(kLauncherMessages.count(m.text)) << sim::narrow(m.text);
            EXPECT_EQ(m.caption, L"Brannoch Software");
            EXPECT_EQ(m.style, 48u);
            EXPECT_EQ(m.owner, 0u);
        }
    }

    std::set<std::wstring> keep;
};

TEST_F(FaultSweep, EveryCallFailingOnceAndForGood)
{
    int points = test::sweepFaults([this] { arrange(); },
                                   [this] { ASSERT_EQ(runLauncherNow(), 0); },
                                   [this](const std::string& what) { check(what); });
    EXPECT_GT(points, 80);
    std::cout << "[ fault points ] launcher: " << points << "\n";
    RecordProperty("fault_points_launcher", points);
}

TEST_F(FaultSweep, UnfailedRunOfTheSweepScenario)
{
    arrange();
    runLauncherNow();
    check("no fault");
    EXPECT_EQ(script.cabsSeen, (std::vector<std::wstring>{
        kInstallDir + L"a.cab", kInstallDir + L"b.cab", kInstallDir + L"c.cab",
        kInstallDir + L"locked.cab"}));
    EXPECT_TRUE(dev().messageBoxes().empty());
    // The sweep ends at hidden.cab, which comes before locked.cab and c.cab.
    EXPECT_EQ(dev().deletions(), (std::vector<std::wstring>{kInstallDir + L"a.cab", kInstallDir + L"b.cab"}));
}

}  // namespace
