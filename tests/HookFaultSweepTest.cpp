// Fault sweep of the install-exit hook: every platform call it makes fails in
// turn, once and for good. It must still return 0, close what it opened,
// delete only CAB files of the install directory, and say only its own texts.
#include "tests/SimTestSupport.h"

#include <iostream>

#include "setup/SetupHooks.h"

namespace {

using test::kInstallDir;

const std::set<std::wstring> kHookMessages = {
    L"Installation Failed. Error: Cannot locate registry associated with the path of the Main CAB file.",
    L"Installation Failed. Error: Cannot locate registry associated with the name of the Main CAB file.",
    L"Installation Failed. Error: Cannot locate registry launcher: Vorlund.exe.",
    L"Please press the OK button. The installation will take 20-30 minutes. Do not use the software "
    L"until the program completes the unpacking of all the CAB files."};
const std::wstring kKey = L"Software\\TqVorlund";
const uintptr_t kOwner = 0x5150;

class HookFaultSweep : public test::DeviceTest {
protected:
    void arrange(bool launcherPresent)
    {
        dev().reset();
        SetUp();
        if (!launcherPresent)
            dev().remove(kInstallDir + L"Vorlund.exe");
        else
            dev().installProgram(kInstallDir + L"Vorlund.exe", nullptr);
        dev().setRegistryString(kKey, L"Default", kInstallDir.substr(0, kInstallDir.size() - 1));
        dev().desktopAliasMatching = true;
        addCab(L"a.cab");
        addCab(L"locked.cab", kAttrReadOnly);
        addCab(L"b.cab");
        dev().addFile(kInstallDir + L"keep.cabinet");
        dev().addFile(L"\\root.cab");
    }

    Int32 runHook()
    {
        return Install_Exit(reinterpret_cast<WindowHandle>(kOwner), L"\\ignored", 0, 0, 0, 0, 0);
    }

    void check(const std::string& what)
    {
        SCOPED_TRACE(what);
        EXPECT_EQ(dev().openHandleCount(), 0);
        EXPECT_EQ(dev().outstandingAllocations(), 0);
        for (const std::wstring& path : dev().deletions()) {
            EXPECT_EQ(path.rfind(kInstallDir, 0), 0u) << sim::narrow(path);
            EXPECT_EQ(path.substr(path.size() - 4), L".cab") << sim::narrow(path);
        }
        EXPECT_TRUE(dev().exists(kInstallDir + L"keep.cabinet"));
        EXPECT_TRUE(dev().exists(L"\\root.cab"));
        for (const auto& m : dev().messageBoxes()) {
            EXPECT_TRUE(kHookMessages.count(m.text)) << sim::narrow(m.text);
            EXPECT_EQ(m.owner, kOwner);
            EXPECT_EQ(m.caption, L"Brannoch Software");
            EXPECT_EQ(m.style, 48u);
        }
        EXPECT_LE(dev().messageBoxes().size(), 2u);
        // The key stays only when it could not be opened or its deletion failed.
        if (dev().registryKeyExists(kKey)) {
            bool notOpened = dev().messageBoxes().size() == 1 &&
                             dev().messageBoxes()[0].text.find(L"path of the Main") != std::wstring::npos;
            EXPECT_TRUE(notOpened || dev().callCount(sim::Op::DeleteUserKey) > 0);
        }
    }
};

TEST_F(HookFaultSweep, EveryCallFailingOnceAndForGood)
{
    int points = 0;
    for (bool launcherPresent : {true, false}) {
        points += test::sweepFaults([this, launcherPresent] { arrange(launcherPresent); },
                                    [this] { ASSERT_EQ(runHook(), 0); },
                                    [this, launcherPresent](const std::string& what) {
                                        check(what + (launcherPresent ? " (launcher present)" : " (launcher absent)"));
                                    });
    }
    EXPECT_GT(points, 20);
    std::cout << "[ fault points ] install-exit hook: " << points << "\n";
    RecordProperty("fault_points_hook", points);
}

}  // namespace
