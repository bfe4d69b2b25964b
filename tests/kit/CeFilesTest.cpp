// CE member names as the format note shows them, the cabinet order, the
// %CEn% directories and the names a device refuses.
#include <gtest/gtest.h>

#include "tools/cecab/CeFiles.h"
#include "tools/cecab/MainPackage.h"

using namespace cecab;

TEST(CeFilesTest, MemberNamesFollowTheNotesTable)
{
    const struct {
        const char* name;
        int number;
        const char* member;
    } rows[] = {
        {"Blkjack.exe", 5, "0Blkjack.005"},
        {"Sample.BJL", 4, "00Sample.004"},
        {"Blackjack Setup.dll", 999, "BLACKJ~1.999"},
        {"SelfRegister.dll", 6, "SELFRE~1.006"},
        {"Win Game.wav", 3, "WINGAM~1.003"},
        {"Blackjack Help.htp", 1, "BLACKJ~1.001"},
        {"maps.cab", 12, "0000maps.012"},
        {"a b.cab", 2, "0000AB~1.002"},
        {"..cab", 7, "000000~1.007"},
        {"Vorlund", 0, "0Vorlund.000"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(memberName(r.name, r.number), r.member) << r.name;
        EXPECT_EQ(memberNumber(r.member), r.number) << r.member;
    }
    for (const char* bad : {"", "x.12", "x.1234a", "x.0a1", "x0001"})
        EXPECT_EQ(memberNumber(bad), -1) << bad;
}

TEST(CeFilesTest, HeaderFirstThenDescendingNumbers)
{
    std::vector<Member> members;
    for (int n : {1, 999, 3, 0, 2})
        members.push_back({memberName("f", n), "", ""});
    sortForCabinet(&members);
    std::vector<int> order;
    for (const Member& m : members)
        order.push_back(memberNumber(m.name));
    EXPECT_EQ(order, (std::vector<int>{0, 999, 3, 2, 1}));
}

TEST(CeFilesTest, MacrosResolveAsTheAppendixLists)
{
    const struct {
        const char* text;
        const char* expanded;
        int unresolved;
    } rows[] = {
        {"%CE1%\\Vorlund", "\\Program Files\\Vorlund", 0},
        {"%ce17%", "\\Windows\\Favorites", 0},
        {"%InstallDir%", "\\Program Files\\App", 0},
        {"%INSTALLDIR%\\x", "\\Program Files\\App\\x", 0},
        {"%CE18%\\x", "%CE18%\\x", 1},
        {"50%\\%CE2%", "50%\\\\Windows", 0},
        {"%CE%", "%CE%", 0},
    };
    for (const auto& r : rows) {
        int unresolved = 0;
        EXPECT_EQ(expandMacros(r.text, "\\Program Files\\App", &unresolved), r.expanded) << r.text;
        EXPECT_EQ(unresolved, r.unresolved) << r.text;
    }
    std::vector<std::string> parts;
    EXPECT_TRUE(splitInstallDir("%CE1%\\A\\B", &parts));
    EXPECT_EQ(parts, (std::vector<std::string>{"%CE1%", "A", "B"}));
    for (const char* bad :
         {"%CE1%", "\\Program Files\\A", "%CE0%\\A", "%CE18%\\A", "%CE1%\\\\A", "%CE1%\\A\\"})
        EXPECT_FALSE(splitInstallDir(bad, &parts)) << bad;
}

TEST(CeFilesTest, NamesTheDeviceRefuses)
{
    for (const char* good : {"maps.cab", "a b.cab", "x(1).cab", "%.cab"})
        EXPECT_EQ(nameProblem(good), "") << good;
    for (const char* bad : {"", "a:b.cab", "a*.cab", "a?.cab", "a\"b", "a<b", "a|b", "a\\b",
                            "tab\t.cab", "end.", "end ", "caf\xc3\xa9.cab"})
        EXPECT_NE(nameProblem(bad), "") << bad;
    EXPECT_NE(nameProblem(std::string(256, 'a')), "");
    EXPECT_TRUE(sameDeviceName("Maps.CAB", "maps.cab"));
}
