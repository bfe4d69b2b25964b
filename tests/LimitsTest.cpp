// Paths and names at and around every buffer limit of the launcher: the
// 260-character module path, directory and sweep buffers, the 255-byte name.
// Nothing may be written past a buffer; each outcome is the documented one.
#include "tests/SimTestSupport.h"

#include "launcher/LauncherSequence.h"

namespace {

const std::wstring kNoList = L"Installation Failed. Error: Cannot locate CAB file list: Vorlund.ini.";

class Limits : public test::DeviceTest {
protected:
    // An install directory of exactly `length` characters ("\ddd...\"),
    // holding the launcher under `exeName`, a list and the named CABs.
    std::wstring arrange(size_t length, const std::wstring& exeName, const std::string& list,
                         const std::vector<std::wstring>& cabs)
    {
        dev().reset();
        SetUp();
        script = test::InstallerScript();
        installInstaller();
        std::wstring dir = L"\\" + std::wstring(length - 2, L'd') + L"\\";
        dev().addFile(dir + exeName, "program");
        dev().setModulePath(dir + exeName);
        dev().addFile(dir + L"Vorlund.ini", list);
        for (const std::wstring& cab : cabs)
            dev().addFile(dir + cab, "MSCF");
        return dir;
    }
};

TEST_F(Limits, ModulePathOfTheLongestSizeStillInstallsAndSweeps)
{
    // 248 + "Vorlund.exe" = 259 characters: the longest module path there is.
    std::wstring dir = arrange(248, L"Vorlund.exe", "a.cab\r\n", {L"a.cab"});
    EXPECT_EQ(runLauncherNow(), 0);
    EXPECT_EQ(script.cabsSeen, std::vector<std::wstring>{dir + L"a.cab"});
    EXPECT_FALSE(dev().exists(dir + L"a.cab"));
    EXPECT_TRUE(dev().messageBoxes().empty());
    expectNoLeaks();
}

TEST_F(Limits, ModulePathThatDoesNotFitEndsTheRunQuietly)
{
    std::wstring dir = arrange(249, L"Vorlund.exe", "a.cab\r\n", {L"a.cab"});  // 260 characters
    EXPECT_EQ(runLauncherNow(), 0);
    EXPECT_TRUE(dev().starts().empty());
    EXPECT_TRUE(dev().messageBoxes().empty());
    EXPECT_TRUE(dev().exists(dir + L"a.cab")) << "no directory known, so no sweep";
    expectNoLeaks();
}

TEST_F(Limits, DirectoryTooLongForTheSweepPatternInstallsButSweepsNothing)
{
    // A launcher renamed "V": the directory can reach 258 characters, and
    // directory + "*.cab" no longer fits 260.
    std::wstring dir = arrange(255, L"V", "a.cab\r\n", {L"a.cab"});
    runLauncherNow();
    EXPECT_EQ(script.cabsSeen.size(), 1u);
    EXPECT_TRUE(dev().exists(dir + L"a.cab"));
    EXPECT_TRUE(dev().deletions().empty());

    dir = arrange(254, L"V", "a.cab\r\n", {L"a.cab"});  // 254 + 5 = 259: the sweep fits
    runLauncherNow();
    EXPECT_FALSE(dev().exists(dir + L"a.cab"));
    expectNoLeaks();
}

TEST_F(Limits, NamesOf255BytesAreInstalledLongerOnesPassedOverInBothPasses)
{
    std::string name255 = std::string(251, 'n') + ".cab";
    std::string name256 = std::string(252, 'm') + ".cab";
    // A 4-character directory: with a 255-character name the path is 259
    // characters, the longest the device's file system holds.
    std::wstring dir = arrange(4, L"Vorlund.exe", name256 + "\r\n" + name255 + "\r\n",
                               {sim::fromAnsi(name255), sim::fromAnsi(name256)});
    runLauncherNow();
    EXPECT_EQ(script.cabsSeen, std::vector<std::wstring>{dir + sim::fromAnsi(name255)});
    EXPECT_TRUE(dev().messageBoxes().empty());
    // The sweep deletes the one whose path fits its 260-character buffer.
    EXPECT_FALSE(dev().exists(dir + sim::fromAnsi(name255)));
    EXPECT_TRUE(dev().exists(dir + sim::fromAnsi(name256)));
    expectNoLeaks();
}

TEST_F(Limits, SweepPassesOverANameThatDoesNotFitItsPathBuffer)
{
    // Directory of 200 + a 70-character CAB name: 270 characters.
    std::wstring longCab = std::wstring(66, L'x') + L".cab";
    std::wstring dir = arrange(200, L"Vorlund.exe", "", {longCab, L"short.cab"});
    runLauncherNow();
    EXPECT_TRUE(dev().exists(dir + longCab));
    EXPECT_FALSE(dev().exists(dir + L"short.cab"));
    expectNoLeaks();
}

}  // namespace
