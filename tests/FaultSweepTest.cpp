// Fault sweep: a launcher run and the install-exit hook with one platform
// call failing, for every call they make, then with each operation failing
// for good from its nth call on. Whatever fails, nothing may leak or hang,
// only CAB files of the install directory may go, and only the system's own
// texts may be shown.
#include <iostream>

#include "setup/SetupHooks.h"
#include "tests/Support.h"

namespace {

using namespace test;

class FaultSweep : public DeviceTest {
protected:
    // What must hold after any run, however it failed.
    void check(const std::set<std::wstring>& texts, uintptr_t owner)
    {
        expectClean();
        for (const std::wstring& path : dev().deletions()) {
            EXPECT_EQ(path.rfind(kDir, 0), 0u) << hosttext::utf8(path);
            EXPECT_TRUE(hosttext::endsWithCab(path)) << hosttext::utf8(path);
        }
        for (const wchar_t* kept : {L"Vorlund.ini", L"keep.cabinet", L"notes.txt"})
            EXPECT_TRUE(dev().exists(kDir + kept)) << hosttext::utf8(kept);
        EXPECT_TRUE(dev().exists(L"\\root.cab"));
        for (const std::wstring& m : messages(owner))
            EXPECT_TRUE(texts.count(m)) << hosttext::utf8(m);
    }

    // An install directory that touches every operation: an installer already
    // running, a list of two blocks, skipped names, an undeletable CAB, a
    // hidden one and a look-alike for the sweep.
    void arrange(bool launcherIsProgram)
    {
        fresh();
        installInstaller();
        if (launcherIsProgram)
            dev().installProgram(kDir + L"Vorlund.exe", nullptr);
        sim::ProgramRun running;
        running.durationMs = 3000;
        dev().spawnProcess(kInstaller, running, L"MSWCELOAD");
        dev().setDesktopAliasMatching(true);
        for (const wchar_t* name : {L"a.cab", L"b.cab", L"locked.cab", L"hidden.cab", L"c.cab"})
            addCab(name);
        dev().setAttributes(kDir + L"hidden.cab", device::kAttrHidden);
        dev().setAttributes(kDir + L"locked.cab", device::kAttrReadOnly);
        dev().addFile(kDir + L"keep.cabinet");
        dev().addFile(kDir + L"notes.txt");
        dev().addFile(L"\\root.cab");
        std::string first = "a.cab\r\nmissing.cab\r\nb.cab\r\n";
        writeList(first + std::string(4096 - first.size() - 4, 'x') +
                  "\r\nc.cab\r\nlocked.cab\r\nhidden.cab\r\n");
        dev().setRegistryString(kKey, L"Default", kDir.substr(0, kDir.size() - 1));
    }
};

TEST_F(FaultSweep, EveryCallFailingOnceAndForGood)
{
    const std::set<std::wstring> launcherTexts = {text::kNoList, text::kUnpackFailed};
    const std::set<std::wstring> hookTexts = {text::kNotice, text::kNoLauncher, text::kNoValue,
                                              text::kNoKey};
    int launcher = sweepFaults([this] { arrange(false); }, [this] { runLauncher(); },
                               [&] { check(launcherTexts, 0); });
    int hook = 0;
    for (bool present : {true, false}) {
        hook += sweepFaults([=] { arrange(present); }, [this] { runHook(); },
                            [&] { check(hookTexts, kOwner); });
    }
    EXPECT_GT(launcher, 80);
    EXPECT_GT(hook, 20);
    std::cout << "[ fault points ] launcher: " << launcher << ", install-exit hook: " << hook
              << "\n";
}

TEST_F(FaultSweep, TheUnfailedRunOfTheSweptScenario)
{
    arrange(false);
    runLauncher();
    EXPECT_EQ(installed(), (std::vector<std::wstring>{kDir + L"a.cab", kDir + L"b.cab",
                                                      kDir + L"c.cab", kDir + L"locked.cab"}));
    EXPECT_TRUE(messages().empty());
    // The sweep passes over locked.cab and ends at hidden.cab, before c.cab.
    EXPECT_EQ(dev().deletions(), (std::vector<std::wstring>{kDir + L"a.cab", kDir + L"b.cab"}));
}

}  // namespace
