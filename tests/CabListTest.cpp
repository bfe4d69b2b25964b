// The list reader: every name exactly once, whole and in order, wherever the
// 4096-byte block boundaries fall; checked against a plain reference split.
#include "tests/SimTestSupport.h"

#include <random>

#include "launcher/CabList.h"
#include "tests/ListReference.h"

namespace {

using test::kInstallDir;
using test::referenceNames;

class CabList : public test::DeviceTest {
protected:
    std::wstring listPath() { return kInstallDir + L"Vorlund.ini"; }

    // Every name the reader hands out, with the block index it came in.
    std::vector<std::string> readAll(const std::string& file, std::vector<int>* blocks = nullptr)
    {
        writeList(file);
        std::vector<std::string> names;
        CabListReader reader;
        EXPECT_TRUE(openList(&reader, listPath().c_str()));
        int block = 0;
        while (nextBlock(&reader)) {
            for (const wchar_t* name = nextName(&reader); name; name = nextName(&reader)) {
                names.push_back(sim::toAnsi(name));
                if (blocks)
                    blocks->push_back(block);
            }
            ++block;
            if (!blockWasFull(&reader))
                break;
        }
        closeList(&reader);
        EXPECT_EQ(dev().openHandleCount(), 0);
        return names;
    }

    void expectReadLikeReference(const std::string& file, const std::string& what)
    {
        std::vector<std::string> expected = referenceNames(file);
        std::vector<std::string> got = readAll(file);
        ASSERT_EQ(got, expected) << what << " (file of " << file.size() << " bytes)";
    }
};

// Filler lines of exactly `length` bytes (length 0 or at least 3).
std::string filler(size_t length)
{
    std::string out;
    int n = 0;
    while (length - out.size() >= 40) {
        char line[32];
        std::snprintf(line, sizeof line, "f%04d.cab\r\n", n++);
        out += line;
    }
    size_t rest = length - out.size();
    if (rest > 0)
        out += std::string(rest - 2, 'p') + "\r\n";
    return out;
}

TEST_F(CabList, SeparatorsBlankLinesAndTheLastLine)
{
    expectReadLikeReference("", "empty list");
    expectReadLikeReference("\r\n\n\r\r\n", "blank lines only");
    EXPECT_EQ(readAll("a.cab\r\nb.cab\nc.cab\rd.cab\r\n\r\n\ne.cab"),
              (std::vector<std::string>{"a.cab", "b.cab", "c.cab", "d.cab", "e.cab"}));
    EXPECT_EQ(readAll(" spaced.cab \t\r\n"), std::vector<std::string>{" spaced.cab \t"})
        << "spaces and tabs belong to the name";
    EXPECT_EQ(readAll("\xEF\xBB\xBF" "bom.cab\r\n"), std::vector<std::string>{"\xEF\xBB\xBF" "bom.cab"})
        << "a byte-order mark becomes part of the first name";
    const std::string withNul("a.cab\r\nb.cab\0c.cab\r\n", 20);
    EXPECT_EQ(readAll(withNul), (std::vector<std::string>{"a.cab", "b.cab"}))
        << "a NUL ends the text of its block";
}

TEST_F(CabList, ExactlyOneFullBlockEndsWithAnEmptyRead)
{
    std::string file = filler(4096 - 7) + "z.cab\r\n";
    ASSERT_EQ(file.size(), 4096u);
    expectReadLikeReference(file, "one full block ending on a line break");
    std::string cut = filler(4096 - 5) + "z.cab";
    ASSERT_EQ(cut.size(), 4096u);
    std::vector<int> blocks;
    std::vector<std::string> names = readAll(cut, &blocks);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "z.cab");
    EXPECT_EQ(blocks.back(), 1) << "a name at the very end is completed by the empty second read";
}

TEST_F(CabList, EveryBoundaryPositionAcrossTheInterestingBytes)
{
    const std::vector<std::string> tails = {
        "alpha.cab\r\nbeta.cab\r\n\r\ngamma.cab\rdelta.cab\nomega.cab",
        "x\r\ny\r\nz\r\n",
        "\r\n\r\nlonger name with spaces.cab\r\n\n\rq.cab\r\n",
        std::string(255, 'L') + "\r\n" + std::string(256, 'M') + "\r\nafter.cab\r\n",
    };
    for (const std::string& tail : tails) {
        for (size_t before = 0; before <= tail.size() + 2; ++before) {
            if (before > 4096 - 3)
                continue;
            size_t fill = 4096 - before;
            std::string file = filler(fill) + tail + "\r\n" + filler(4096) + tail;
            expectReadLikeReference(file, "boundary " + std::to_string(before) + " bytes before the tail");
            if (HasFatalFailure())
                return;
        }
    }
}

TEST_F(CabList, GeneratedListsOfManyBlocks)
{
    std::mt19937 rng(20261207);
    const std::vector<std::string> breaks = {"\r\n", "\n", "\r", "\r\n\r\n", "\n\n\r"};
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEF0123456789 ._-\t\xE9\x80";
    for (int round = 0; round < 400; ++round) {
        std::string file;
        size_t target = rng() % 20000;
        while (file.size() < target) {
            size_t length = rng() % 10 == 0 ? 200 + rng() % 120 : 1 + rng() % 40;
            for (size_t i = 0; i < length; ++i)
                file += alphabet[rng() % alphabet.size()];
            file += breaks[rng() % breaks.size()];
            if (rng() % 200 == 0)
                file += '\0';
        }
        if (rng() % 2 && !file.empty())
            file.pop_back();  // sometimes no final line break, sometimes half a CR LF
        expectReadLikeReference(file, "generated list " + std::to_string(round));
        if (HasFatalFailure())
            return;
    }
}

TEST_F(CabList, OverlongNamesArePassedOverAlikeWhereverTheyAreCut)
{
    std::string longName(300, 'n');
    for (size_t cut = 1; cut < 300; cut += 37) {
        std::string file = filler(4096 - cut) + longName + "\r\nok.cab\r\n";
        std::vector<std::string> names = readAll(file);
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(names.back(), "ok.cab");
        for (const std::string& n : names)
            EXPECT_LE(n.size(), 255u);
    }
    // A name that runs through a whole block and on into the next.
    std::string huge = filler(100) + std::string(9000, 'h') + "\r\nlast.cab";
    EXPECT_EQ(readAll(huge), referenceNames(huge));
}

TEST_F(CabList, SkippingTheRestOfABlockKeepsTheNameCutAtItsEnd)
{
    std::string file = filler(4096 - 4) + "cut.cab\r\nnext.cab\r\n";
    writeList(file);
    CabListReader reader;
    ASSERT_TRUE(openList(&reader, listPath().c_str()));
    ASSERT_TRUE(nextBlock(&reader));
    ASSERT_NE(nextName(&reader), nullptr);
    skipRestOfBlock(&reader);
    EXPECT_EQ(nextName(&reader), nullptr);
    ASSERT_TRUE(blockWasFull(&reader));
    ASSERT_TRUE(nextBlock(&reader));
    EXPECT_EQ(sim::toAnsi(nextName(&reader)), "cut.cab");
    EXPECT_EQ(sim::toAnsi(nextName(&reader)), "next.cab");
    EXPECT_EQ(nextName(&reader), nullptr);
    EXPECT_FALSE(blockWasFull(&reader));
    closeList(&reader);
    expectNoLeaks();
}

TEST_F(CabList, AFailedReadEndsTheListAndDropsAHalfReadName)
{
    std::string file = filler(4096 - 4) + "cut.cab\r\nnext.cab\r\n";
    dev().failCall(sim::Op::ReadBytes, 2);
    std::vector<std::string> names = readAll(file);
    ASSERT_FALSE(names.empty());
    EXPECT_NE(names.back(), "cut") << "the head of a cut name is never handed out alone";
    EXPECT_EQ(names.size(), referenceNames(filler(4096 - 4)).size());
}

TEST_F(CabList, InstallableFilesAndTheCountingPass)
{
    addCab(L"a.cab");
    addCab(L"hidden.cab", kAttrHidden);
    addCab(L"system.cab", kAttrSystem);
    dev().addDirectory(kInstallDir + L"dir.cab");
    addCab(L"readonly.cab", kAttrReadOnly);
    addCab(L"trail.cab");
    addCab(L"sub\\deep.cab");
    writeList("a.cab\r\nhidden.cab\r\nsystem.cab\r\ndir.cab\r\nmissing.cab\r\nreadonly.cab\r\n"
              "A.CAB\r\ntrail.cab \r\nsub\\deep.cab\r\n*.cab\r\na.cab\r\n");
    // a, readonly, A.CAB (names are case-insensitive), sub\deep, *.cab (first
    // match is a.cab), a again.
    EXPECT_EQ(countInstallableCabs(kInstallDir.c_str(), listPath().c_str()), 6);
    EXPECT_EQ(countInstallableCabs(kInstallDir.c_str(), (kInstallDir + L"none.ini").c_str()), 0);
    EXPECT_FALSE(isInstallableFile((kInstallDir + L"trail.cab ").c_str()))
        << "a trailing space is part of the name on the device";
    expectNoLeaks();
}

TEST_F(CabList, CountMatchesTheNamesOfGeneratedLists)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        dev().reset();
        SetUp();
        std::string file;
        int existing = 0;
        for (int i = 0; i < 600; ++i) {
            std::string name = "cab" + std::to_string(rng() % 300) + ".cab";
            if (rng() % 3 != 0) {
                dev().addFile(kInstallDir + sim::fromAnsi(name), "MSCF");
            }
            file += name + (rng() % 2 ? "\r\n" : "\n");
        }
        for (const std::string& n : referenceNames(file))
            existing += dev().exists(kInstallDir + sim::fromAnsi(n)) ? 1 : 0;
        writeList(file);
        EXPECT_EQ(countInstallableCabs(kInstallDir.c_str(), listPath().c_str()), existing);
    }
    expectNoLeaks();
}

}  // namespace
