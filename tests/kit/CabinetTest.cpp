// Cabinets written through libgcab read back through libmspack and through
// cabextract, an independent reader; damaged cabinets give errors.
#include <gtest/gtest.h>

#include "tests/kit/KitTestSupport.h"
#include "tools/cecab/Cabinet.h"

using namespace cecab;

namespace {

const auto kAll = [](const std::string&) { return true; };

std::vector<Member> sampleMembers(const test::TempDir& dir)
{
    test::writeFile(dir / "big.cab", std::string(100000, 'b'));  // more than one data block
    return {{"0000head.000", "MSCE header", ""},
            {"SETUP~1.999", test::armSetupLibrary(), ""},
            {"00000big.002", "", (dir / "big.cab").string()},
            {"0000tiny.001", "", ""}};
}

}  // namespace

TEST(CabinetTest, WrittenMembersReadBackInOrder)
{
    test::TempDir dir;
    std::vector<Member> members = sampleMembers(dir);
    std::string bytes, error;
    ASSERT_TRUE(writeCabinet(members, 1700000000, &bytes, &error)) << error;
    std::vector<CabinetEntry> entries;
    ASSERT_TRUE(readCabinet(bytes, kAll, 1 << 20, &entries, &error)) << error;
    ASSERT_EQ(entries.size(), members.size());
    for (size_t i = 0; i < members.size(); ++i) {
        std::string expected =
            members[i].source.empty() ? members[i].data : test::readFile(members[i].source);
        EXPECT_EQ(entries[i].name, members[i].name);
        EXPECT_TRUE(entries[i].extracted);
        EXPECT_EQ(entries[i].data, expected) << members[i].name;
    }

    // cabextract lists, tests and extracts the same bytes.
    test::writeFile(dir / "out.cab", bytes);
    test::Outcome list = test::run("cabextract -l " + test::quoted(dir / "out.cab"));
    EXPECT_EQ(list.status, 0) << list.out;
    EXPECT_TRUE(list.has("14.11.2023 22:13:20 | 0000head.000")) << list.out;
    EXPECT_EQ(test::run("cabextract -t " + test::quoted(dir / "out.cab")).status, 0);
    test::Outcome x = test::run("cabextract -q -d " + test::quoted(dir / "x") + " " +
                                test::quoted(dir / "out.cab"));
    ASSERT_EQ(x.status, 0) << x.out;
    EXPECT_EQ(test::readFile(dir / "x/00000big.002"), std::string(100000, 'b'));
    EXPECT_EQ(test::readFile(dir / "x/SETUP~1.999"), test::armSetupLibrary());
}

TEST(CabinetTest, DamagedOrOversizedCabinetsGiveErrors)
{
    test::TempDir dir;
    std::string bytes, error;
    ASSERT_TRUE(writeCabinet(sampleMembers(dir), 0, &bytes, &error)) << error;
    std::vector<CabinetEntry> entries;
    EXPECT_FALSE(readCabinet(bytes, kAll, 1000, &entries, &error));
    EXPECT_NE(error.find("00000big.002: 100000 bytes, more than the 1000"), std::string::npos)
        << error;

    const struct {
        const char* name;
        std::string bytes;
        const char* expected;
    } rows[] = {
        {"empty", "", "ends early"},
        {"not a cabinet", "MSCE and more bytes than a header needs, surely", "not a cabinet"},
        {"header only", bytes.substr(0, 40), ""},
        {"cut in the data", bytes.substr(0, bytes.size() - 5000), "00000big.002"},
    };
    for (const auto& r : rows) {
        entries.clear();
        error.clear();
        EXPECT_FALSE(readCabinet(r.bytes, kAll, 1 << 20, &entries, &error)) << r.name;
        EXPECT_NE(error.find(r.expected), std::string::npos) << r.name << ": " << error;
    }
    // Every cut of the headers fails cleanly (the sanitizers watch the reads).
    for (size_t n = 0; n < 200; ++n) {
        entries.clear();
        EXPECT_FALSE(readCabinet(bytes.substr(0, n), kAll, 1 << 20, &entries, &error)) << n;
    }
}
