// The list reader: every name exactly once, whole and in order, wherever the
// 4096-byte block boundaries fall, checked against a plain reference split
// (fuzz/CabListFuzz.cpp checks the same over arbitrary bytes).
#include "launcher/CabList.h"
#include "tests/ListReference.h"
#include "tests/Support.h"

namespace {

using namespace test;

class CabList : public DeviceTest {
protected:
    // Every name the reader hands out, in order.
    std::vector<std::string> readAll(const std::string& file)
    {
        writeList(file);
        std::vector<std::string> names;
        vorlund::CabListReader reader;
        EXPECT_TRUE(vorlund::openList(&reader, (kDir + L"Vorlund.ini").c_str()));
        for (const wchar_t* name; (name = vorlund::nextListedName(&reader)) != nullptr;)
            names.push_back(hosttext::toAnsi(name));
        EXPECT_EQ(vorlund::nextListedName(&reader), nullptr) << "the end of the list stays";
        vorlund::closeList(&reader);
        expectClean();
        return names;
    }
};

using Names = std::vector<std::string>;

Names operator+(Names a, const Names& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Case {
    const char* what;
    std::string file;
    Names names;
};

const std::string k255(255, 'L');

// clang-format off
const Case kCases[] = {
    {"empty list", "", {}},
    {"blank lines only", "\r\n\n\r\r\n", {}},
    {"CR LF, lone LF, lone CR, blank lines, no final break", "a.cab\r\nb.cab\nc.cab\rd.cab\r\n\r\n\ne.cab", {"a.cab", "b.cab", "c.cab", "d.cab", "e.cab"}},
    {"spaces and tabs belong to the name", " spaced.cab \t\r\n", {" spaced.cab \t"}},
    {"a byte-order mark becomes part of the first name", "\xEF\xBB\xBF" "bom.cab\r\n", {"\xEF\xBB\xBF" "bom.cab"}},
    {"a NUL ends the text of its block", std::string("a.cab\r\nb.cab\0c.cab\r\n", 20), {"a.cab", "b.cab"}},
    {"names of 255 bytes are read, of 256 passed over", k255 + "\r\n" + k255 + "M\r\nz", {k255, "z"}},
    {"a name of 255 bytes with a byte from 0x80 up is converted whole", k255.substr(1) + "\xE9\r\n", {k255.substr(1) + "\xE9"}},
    {"one full block ending on a line break", filler(4096 - 7) + "z.cab\r\n", referenceNames(filler(4096 - 7)) + Names{"z.cab"}},
    // A cut head of 200 bytes and a tail of 55 or 56: joined, 255 is a name,
    // 256 is not (and must not be written past the name buffer).
    {"a joined name of 255 bytes", filler(4096 - 200) + std::string(255, 'j') + "\r\nz", referenceNames(filler(4096 - 200)) + Names{std::string(255, 'j'), "z"}},
    {"a joined name of 256 bytes", filler(4096 - 200) + std::string(256, 'j') + "\r\nz", referenceNames(filler(4096 - 200)) + Names{"z"}},
    {"a short head, then a whole block of the same name", filler(4096 - 10) + std::string(10 + 4096 + 5, 'h') + "\r\nz", referenceNames(filler(4096 - 10)) + Names{"z"}},
};
// clang-format on

TEST_F(CabList, ReferenceCases)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(readAll(c.file), c.names);
    }
}

TEST_F(CabList, EveryBoundaryPositionAcrossTheInterestingBytes)
{
    const std::string tails[] = {
        "alpha.cab\r\nbeta.cab\r\n\r\ngamma.cab\rdelta.cab\nomega.cab",
        "\r\n\r\nlonger name with spaces.cab\r\n\n\rq.cab\r\n",
        k255 + "\r\n" + std::string(256, 'M') + "\r\nafter.cab\r\n",
        filler(100) + std::string(9000, 'h') + "\r\nlast.cab",  // a name through a whole block
    };
    for (const std::string& tail : tails) {
        for (size_t before = 0; before <= std::min<size_t>(tail.size() + 2, 4093); ++before) {
            std::string file = filler(4096 - before) + tail + "\r\n" + filler(4096) + tail;
            ASSERT_EQ(readAll(file), referenceNames(file)) << before << " bytes before the tail";
        }
    }
}

TEST_F(CabList, SkippingTheRestOfABlockKeepsTheNameCutAtItsEnd)
{
    writeList(filler(4096 - 4) + "cut.cab\r\nnext.cab\r\n");
    vorlund::CabListReader reader;
    ASSERT_TRUE(vorlund::openList(&reader, (kDir + L"Vorlund.ini").c_str()));
    ASSERT_EQ(hosttext::toAnsi(vorlund::nextListedName(&reader)), "absent-1000.cab");
    vorlund::skipRestOfBlock(&reader);
    EXPECT_EQ(hosttext::toAnsi(vorlund::nextListedName(&reader)), "cut.cab");
    EXPECT_EQ(hosttext::toAnsi(vorlund::nextListedName(&reader)), "next.cab");
    EXPECT_EQ(vorlund::nextListedName(&reader), nullptr);
    EXPECT_FALSE(vorlund::blockWasFull(&reader));
    vorlund::closeList(&reader);
}

TEST_F(CabList, AFailedReadEndsTheListAndDropsTheHeadOfACutName)
{
    dev().failCall(sim::Op::ReadBytes, 2);
    EXPECT_EQ(readAll(filler(4096 - 4) + "cut.cab\r\nnext.cab\r\n"),
              referenceNames(filler(4096 - 4)));
    EXPECT_EQ(dev().callCount(sim::Op::ReadBytes), 2) << "nothing is read after the failure";
}

}  // namespace
