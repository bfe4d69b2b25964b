// The sweep: which CAB files go, which stay, and that it always ends.
#include "tests/SimTestSupport.h"

#include "common/CabSweep.h"

namespace {

using test::kInstallDir;

class CabSweep : public test::DeviceTest {
protected:
    void sweep() { sweepCabFiles(kInstallDir.c_str()); }
    std::vector<std::wstring> left() { return dev().list(kInstallDir); }
};

TEST_F(CabSweep, DeletesEveryCabInSearchOrderAndNothingElse)
{
    addCab(L"b.cab");
    dev().addFile(kInstallDir + L"readme.txt");
    addCab(L"A.CAB");
    dev().addFile(kInstallDir + L"Vorlund.ini");
    addCab(L"c.Cab");
    sweep();
    EXPECT_EQ(dev().deletions(), (std::vector<std::wstring>{
        kInstallDir + L"b.cab", kInstallDir + L"A.CAB", kInstallDir + L"c.Cab"}));
    EXPECT_EQ(left(), (std::vector<std::wstring>{L"Vorlund.exe", L"readme.txt", L"Vorlund.ini"}));
    expectNoLeaks();
}

TEST_F(CabSweep, NoCabsNoDirectoryOrEmptyDirectoryDoNothing)
{
    dev().addFile(kInstallDir + L"notes.txt");
    sweep();
    sweepCabFiles(L"\\missing\\");
    EXPECT_TRUE(dev().deletions().empty());
    expectNoLeaks();
}

TEST_F(CabSweep, HiddenOrSystemCabEndsTheSweepWhereItStands)
{
    addCab(L"first.cab");
    addCab(L"hidden.cab", kAttrHidden);
    addCab(L"after.cab");
    sweep();
    EXPECT_EQ(dev().deletions(), std::vector<std::wstring>{kInstallDir + L"first.cab"});

    dev().reset();
    SetUp();
    addCab(L"system.cab", kAttrSystem);
    addCab(L"after.cab");
    sweep();
    EXPECT_TRUE(dev().deletions().empty()) << "a system CAB returned first stops everything";
    expectNoLeaks();
}

TEST_F(CabSweep, PassesOverEntriesItCannotDeleteAndGoesOn)
{
    addCab(L"one.cab");
    addCab(L"locked.cab", kAttrReadOnly);
    dev().addDirectory(kInstallDir + L"folder.cab");
    addCab(L"busy.cab");
    dev().node(kInstallDir + L"busy.cab")->inUse = true;
    addCab(L"two.cab");
    addCab(L"three.cab");
    sweep();
    EXPECT_EQ(dev().deletions(), (std::vector<std::wstring>{
        kInstallDir + L"one.cab", kInstallDir + L"two.cab", kInstallDir + L"three.cab"}));
    EXPECT_TRUE(dev().exists(kInstallDir + L"locked.cab"));
    EXPECT_TRUE(dev().exists(kInstallDir + L"folder.cab"));
    EXPECT_TRUE(dev().exists(kInstallDir + L"busy.cab"));
    expectNoLeaks();
}

TEST_F(CabSweep, HiddenCabAfterAnUndeletableOneStillEndsTheSweep)
{
    addCab(L"locked.cab", kAttrReadOnly);
    addCab(L"hidden.cab", kAttrHidden);
    addCab(L"after.cab");
    sweep();
    EXPECT_TRUE(dev().deletions().empty());
    expectNoLeaks();
}

TEST_F(CabSweep, LookAlikesMatchedThroughShortNamesAreNeverDeleted)
{
    dev().desktopAliasMatching = true;
    dev().addFile(kInstallDir + L"keep.cabinet");
    addCab(L"real.cab");
    dev().addFile(kInstallDir + L"data.CABX");
    addCab(L"other.CAB");
    sweep();
    EXPECT_EQ(dev().deletions(), (std::vector<std::wstring>{
        kInstallDir + L"real.cab", kInstallDir + L"other.CAB"}));
    EXPECT_TRUE(dev().exists(kInstallDir + L"keep.cabinet"));
    EXPECT_TRUE(dev().exists(kInstallDir + L"data.CABX"));
    expectNoLeaks();
}

TEST_F(CabSweep, EmptyDirectoryMeansTheRoot)
{
    dev().addFile(L"\\root.cab");
    addCab(L"deep.cab");
    sweepCabFiles(L"");
    EXPECT_EQ(dev().deletions(), std::vector<std::wstring>{L"\\root.cab"});
}

TEST_F(CabSweep, PathsAtTheBufferLimit)
{
    // Directory + "*.cab" must fit 260 characters with the terminator.
    std::wstring fits = L"\\" + std::wstring(253, L'd') + L"\\";  // 255 + 5 = 260 -> too long
    std::wstring room = L"\\" + std::wstring(252, L'd') + L"\\";  // 254 + 5 = 259: fits
    dev().addFile(room + L"a.cab");
    dev().addFile(fits + L"a.cab");
    sweepCabFiles(fits.c_str());
    EXPECT_TRUE(dev().deletions().empty()) << "pattern does not fit: nothing is touched";
    sweepCabFiles(room.c_str());
    EXPECT_EQ(dev().deletions(), std::vector<std::wstring>{room + L"a.cab"});

    // The pattern fits but a long name does not: that entry is passed over.
    std::wstring dir = L"\\" + std::wstring(240, L'e') + L"\\";
    std::wstring longName = std::wstring(30, L'n') + L".cab";
    dev().addFile(dir + longName);
    dev().addFile(dir + L"b.cab");
    sweepCabFiles(dir.c_str());
    EXPECT_TRUE(dev().exists(dir + longName));
    EXPECT_FALSE(dev().exists(dir + L"b.cab"));
    expectNoLeaks();
}

TEST_F(CabSweep, FailedSearchesAndDeletesNeverLoop)
{
    addCab(L"a.cab");
    addCab(L"b.cab");
    dev().failFrom(sim::Op::DeleteFile, 1);
    sweep();
    EXPECT_EQ(left().size(), 3u);
    EXPECT_LE(dev().callCount(sim::Op::FindOpen), 3);
    expectNoLeaks();
}

}  // namespace
