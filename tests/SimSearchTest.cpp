// The simulated device's searches, which the sweep and every file test rest
// on: an open search returns what was there when it began, whatever the
// storage does meanwhile, and a plain name is found however it is spelt.
#include "device/DeviceServices.h"
#include "tests/Support.h"

namespace {

using namespace test;

class SimSearch : public DeviceTest {
public:
    // The names an open search still returns, up to its end; then closes it.
    std::vector<std::wstring> rest(device::SearchHandle search)
    {
        std::vector<std::wstring> out;
        device::FoundEntry entry;
        while (device::findNext(search, &entry))
            out.push_back(entry.name);
        device::findClose(search);
        return out;
    }
    device::SearchHandle open(std::wstring* first)
    {
        device::FoundEntry entry;
        device::SearchHandle search = device::findOpen((kDir + L"*.cab").c_str(), &entry);
        *first = search ? entry.name : L"";
        return search;
    }
};

TEST_F(SimSearch, AnOpenSearchReturnsWhatWasThereWhenItBegan)
{
    addCabs(L"a.cab b.cab c.cab");
    std::wstring first;
    device::SearchHandle before = open(&first);
    EXPECT_EQ(first, L"a.cab");
    device::deleteFile((kDir + L"b.cab").c_str());  // gone: not returned
    addCab(L"d.cab");                               // new: not returned
    dev().remove(kDir + L"c.cab");                  // gone and back: returned in its old place
    addCab(L"C.cab");
    // A search begun now sees the storage as it is.
    device::SearchHandle after = open(&first);
    EXPECT_EQ(first, L"a.cab");
    EXPECT_EQ(rest(after), (std::vector<std::wstring>{L"d.cab", L"C.cab"}));
    EXPECT_EQ(rest(before), (std::vector<std::wstring>{L"C.cab"}));
    EXPECT_EQ(dev().list(kDir),
              (std::vector<std::wstring>{L"Vorlund.exe", L"a.cab", L"d.cab", L"C.cab"}));
    expectClean();
}

TEST_F(SimSearch, PlainNamesIgnoreCaseAndMatchShortNamesOnlyOnTheDesktop)
{
    addCabs(L"Maps.CAB setup.cabinet");
    device::FoundEntry entry;
    EXPECT_TRUE(device::findFirst((kDir + L"maps.cab").c_str(), &entry));
    EXPECT_EQ(std::wstring(entry.name), L"Maps.CAB");
    EXPECT_FALSE(device::findFirst((kDir + L"setup.cab").c_str(), &entry));
    dev().setDesktopAliasMatching(true);
    EXPECT_TRUE(device::findFirst((kDir + L"setup.cab").c_str(), &entry));
    EXPECT_EQ(std::wstring(entry.name), L"setup.cabinet");
    EXPECT_FALSE(device::findFirst((kDir + L"Maps.CAB\\x").c_str(), &entry));
}

}  // namespace
