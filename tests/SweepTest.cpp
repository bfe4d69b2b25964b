// The sweep: which CAB files go and in which order, which stay, and that it
// always ends.
#include "common/CabSweep.h"
#include "tests/Support.h"

namespace {

using namespace test;

struct Row {
    const char* what;
    const wchar_t* entries;  // in creation order, which is the search order (see addCabs)
    bool desktopAliases;     // "*.cab" also matches "x.cabinet" (desktop, Wine)
    const wchar_t* deleted;
};

// clang-format off
const Row kRows[] = {
    {"every CAB in search order, any letter case, nothing else", L"b.cab readme.txt A.CAB c.Cab", false, L"b.cab A.CAB c.Cab"},
    {"no CAB: nothing", L"notes.txt", false, L""},
    {"a hidden CAB ends the sweep where it stands", L"first.cab hidden.cab:H after.cab", false, L"first.cab"},
    {"a system CAB returned first stops everything", L"system.cab:S a.cab", false, L""},
    // Read-only, a directory, in use elsewhere, a delete that reports success while the entry stays.
    {"entries that cannot be deleted are passed over", L"one.cab locked.cab:R folder.cab:D busy.cab:U lies.cab:L two.cab", false, L"one.cab lies.cab two.cab"},
    {"a hidden CAB after an undeletable one still ends the sweep", L"locked.cab:R hidden.cab:H after.cab", false, L""},
    {"look-alikes matched through short names are never deleted", L"keep.cabinet real.cab data.CABX .cab", true, L"real.cab .cab"},
};
// clang-format on

class Sweep : public DeviceTest {};

TEST_F(Sweep, Rows)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        fresh();
        dev().setDesktopAliasMatching(row.desktopAliases);
        addCabs(row.entries);
        vorlund::sweepCabFiles(kDir.c_str());
        std::vector<std::wstring> expected;
        for (const std::wstring& name : words(row.deleted))
            expected.push_back(kDir + name);
        EXPECT_EQ(dev().deletions(), expected);
        expectClean();
    }
}

}  // namespace
