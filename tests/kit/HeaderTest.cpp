// The install header: the format note's byte examples decode as the note
// says, every section survives a round trip, and damaged headers give
// problems (never a crash).
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/kit/PeMaker.h"
#include "tools/cecab/InstallHeader.h"

using namespace cecab;

namespace {

std::string hex(const std::string& text)
{
    std::istringstream in(text);
    std::string out;
    for (unsigned byte; in >> std::hex >> byte;)
        out.push_back(static_cast<char>(byte));
    return out;
}

// A header put together field by field from raw section bytes, without the
// encoder, so that the decoder is checked against the note alone.
std::string handHeader(const std::string (&sections)[6], const uint16_t (&counts)[6])
{
    std::string h(100, '\0');
    std::string body = std::string("App") + '\0' + "Vendor" + '\0';
    test::put(&h, 0, 0x4543534D, 4);
    test::put(&h, 16, 1, 4);
    test::put(&h, 84, 100, 2);
    test::put(&h, 86, 4, 2);
    test::put(&h, 88, 104, 2);
    test::put(&h, 90, 7, 2);
    test::put(&h, 92, 111, 2);
    for (int i = 0; i < 6; ++i) {
        test::put(&h, 48 + 2 * i, counts[i], 2);
        test::put(&h, 60 + 4 * i, static_cast<uint32_t>(100 + body.size()), 4);
        body += sections[i];
    }
    test::put(&h, 8, static_cast<uint32_t>(100 + body.size()), 4);
    return h + body;
}

InstallHeader decode(const std::string& bytes, std::vector<HeaderProblem>* problems)
{
    return decodeHeader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), problems);
}

std::string allProblems(const std::vector<HeaderProblem>& problems)
{
    std::string text;
    for (const HeaderProblem& p : problems)
        text += p.where + ": " + p.message + "\n";
    return text;
}

// Every section filled, with each value type and a link.
InstallHeader fullHeader()
{
    InstallHeader h;
    h.architecture = 2577;
    h.min = {5, 0, 0};
    h.max = {6, 0, 1200};
    h.appName = "Game Pack";
    h.provider = "Vendor";
    h.unsupported = {"HPC", "JORDAN"};
    h.strings = {{1, "%CE1%"}, {2, "Game Pack"}, {3, "Software"}, {4, "Vendor"}, {5, "Shortcut"}};
    h.dirs = {{1, {1, 2}}, {2, {1}}};
    h.files = {{1, 1, 1, kFileNoSkip, "game.exe"}, {2, 2, 2, 0, "readme.txt"}};
    h.hives = {{1, kHkcu, 0, {3, 4}}, {2, kHklm, 0, {3}}};
    h.regValues = {{1, 1, true, kRegString, "Path", std::string("%InstallDir%") + '\0'},
                   {2, 1, false, kRegDword | kRegNoClobber, "Count", hex("2A 00 00 00")},
                   {3, 2, false, kRegMultiString, "", std::string("a\0b\0\0", 5)},
                   {4, 2, false, kRegBinary, "Blob", hex("DE AD BE EF")}};
    h.links = {{1, 0, 11, 1, 1, {5}}};
    return h;
}

std::string encoded(const InstallHeader& h)
{
    std::string bytes, error;
    EXPECT_TRUE(encodeHeader(h, &bytes, &error)) << error;
    return bytes;
}

}  // namespace

TEST(HeaderTest, NoteExamplesDecodeAsTheNoteSays)
{
    const std::string software = hex("04 00 09 00 53 6F 66 74 77 61 72 65 00");
    const std::string microsoft = hex("05 00 0A 00 4D 69 63 72 6F 73 6F 66 74 00");
    std::string words;
    uint16_t id = 1;
    for (std::string w : {"foo", "bar", "baz", "quux"})
        words += std::string(1, char(id++)) + '\0' + char(w.size() + 1) + '\0' + w + '\0';
    // The note prints the DIRS example one byte short of its length (10);
    // with the missing 00 it is complete.
    const std::string dirAsPrinted = hex("01 00 0A 00 01 00 02 00 03 00 04 00 00");

    std::vector<HeaderProblem> problems;
    InstallHeader h = decode(
        handHeader({software + microsoft, "", "", "", "", ""}, {2, 0, 0, 0, 0, 0}), &problems);
    EXPECT_EQ(allProblems(problems), "");
    ASSERT_EQ(h.strings.size(), 2u);
    EXPECT_EQ(h.strings[0], (HeaderString{4, "Software"}));
    EXPECT_EQ(h.strings[1], (HeaderString{5, "Microsoft"}));
    EXPECT_EQ(h.appName, "App");
    EXPECT_EQ(h.provider, "Vendor");

    h = decode(handHeader({words, dirAsPrinted + '\0', "", "", "", ""}, {4, 1, 0, 0, 0, 0}),
               &problems);
    EXPECT_EQ(allProblems(problems), "");
    ASSERT_EQ(h.dirs.size(), 1u);
    EXPECT_EQ(h.dirs[0], (HeaderDir{1, {1, 2, 3, 4}}));
    EXPECT_EQ(joinParts(h, h.dirs[0].parts), "foo\\bar\\baz\\quux");

    decode(handHeader({words, dirAsPrinted, "", "", "", ""}, {4, 1, 0, 0, 0, 0}), &problems);
    EXPECT_NE(
        allProblems(problems).find("DIRS entry 1: bytes 148..158 lie outside the file (157 bytes)"),
        std::string::npos)
        << allProblems(problems);

    // And the encoder writes the note's bytes for the same strings.
    InstallHeader mine;
    mine.strings = {{4, "Software"}, {5, "Microsoft"}};
    EXPECT_NE(encoded(mine).find(software + microsoft), std::string::npos);
}

TEST(HeaderTest, EverySectionSurvivesARoundTrip)
{
    InstallHeader h = fullHeader();
    h.unknown4 = 7;
    h.unknown98 = 3;
    std::string bytes = encoded(h);
    std::vector<HeaderProblem> problems;
    InstallHeader back = decode(bytes, &problems);
    EXPECT_EQ(allProblems(problems), "");
    EXPECT_TRUE(back == h);
    EXPECT_EQ(joinParts(back, back.dirs[0].parts), "%CE1%\\Game Pack");
    EXPECT_EQ(splitStrings(back.regValues[2].data), (std::vector<std::string>{"a", "b"}));
}

TEST(HeaderTest, SixteenBitFieldsRefuseWhatTheyCannotHold)
{
    InstallHeader h = fullHeader();
    h.files[0].name.assign(70000, 'x');
    std::string bytes, error;
    EXPECT_FALSE(encodeHeader(h, &bytes, &error));
    EXPECT_NE(error.find("the name of file 1"), std::string::npos) << error;

    h = fullHeader();
    h.appName.assign(66000, 'a');
    EXPECT_FALSE(encodeHeader(h, &bytes, &error));
    EXPECT_NE(error.find("65535"), std::string::npos) << error;
}

TEST(HeaderTest, DamagedHeadersGiveProblems)
{
    const std::string good = encoded(fullHeader());
    auto at = [&](size_t offset) {
        return static_cast<uint8_t>(good[offset]) | static_cast<uint8_t>(good[offset + 1]) << 8;
    };
    const uint32_t stringsAt = at(60), dirsAt = at(64), filesAt = at(68), keysAt = at(76);
    struct Case {
        const char* name;
        std::function<void(std::string*)> damage;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"short file", [](std::string* s) { s->resize(60); }, "truncated: 60 bytes"},
        {"not a header", [](std::string* s) { (*s)[0] = 'X'; }, "no \"MSCE\" signature"},
        {"cut at the end", [](std::string* s) { s->pop_back(); }, "the length field says"},
        {"strings beyond the file", [](std::string* s) { test::put(s, 60, 0x10000, 4); },
         "STRINGS: the count says 5 entries, the file ends after 0"},
        {"strings inside the fixed header", [](std::string* s) { test::put(s, 60, 20, 4); },
         "inside the fixed header"},
        {"one file more than there is", [](std::string* s) { test::put(s, 52, 3, 2); },
         "FILES entry 3: starts where the next part of the header begins"},
        {"one string too few", [](std::string* s) { test::put(s, 48, 4, 2); },
         "refers to string 5, which STRINGS lacks"},
        {"string without terminator", [&](std::string* s) { (*s)[stringsAt + 4 + 5] = 'x'; },
         "STRINGS entry 1: string without a terminator"},
        {"NUL inside a string", [&](std::string* s) { (*s)[stringsAt + 14 + 1] = '\0'; },
         "a NUL inside the string"},
        {"application name outside", [](std::string* s) { test::put(s, 86, 0xFFF0, 2); },
         "APPNAME: bytes 100..65620 lie outside"},
        {"file in an unknown directory", [&](std::string* s) { test::put(s, filesAt + 2, 9, 2); },
         "refers to directory 9, which DIRS lacks"},
        {"file number 999", [&](std::string* s) { test::put(s, filesAt, 999, 2); },
         "a file number outside 1..998"},
        {"duplicate string id", [&](std::string* s) { test::put(s, stringsAt + 4 + 6, 1, 2); },
         "STRINGS: id 1 is used twice"},
        {"path without its 0", [&](std::string* s) { test::put(s, dirsAt + 8, 3, 2); },
         "the path does not end with 0"},
        {"odd path length", [&](std::string* s) { test::put(s, dirsAt + 2, 5, 2); },
         "a path of 5 bytes"},
        {"unknown hive root", [&](std::string* s) { test::put(s, at(72) + 2, 7, 2); },
         "root 7 is none of 1..4"},
        {"value in an unknown hive", [&](std::string* s) { test::put(s, keysAt + 2, 5, 2); },
         "refers to hive 5, which REGHIVES lacks"},
        {"string value without terminator",
         [&](std::string* s) { (*s)[keysAt + 12 + 5 + 12] = '!'; },
         "a string value without a terminator"},
        {"unsupported list unended", [](std::string* s) { test::put(s, 94, 4, 2); },
         "the list does not end with an empty string"},
        {"two sections at one offset", [&](std::string* s) { test::put(s, 64, stringsAt, 4); },
         "two parts of the header start at the same offset"},
    };
    for (const Case& c : cases) {
        std::string bytes = good;
        c.damage(&bytes);
        std::vector<HeaderProblem> problems;
        decode(bytes, &problems);
        EXPECT_NE(allProblems(problems).find(c.expected), std::string::npos)
            << c.name << ":\n"
            << allProblems(problems);
    }
}

TEST(HeaderTest, EveryTruncationIsAProblemNotACrash)
{
    const std::string good = encoded(fullHeader());
    for (size_t n = 0; n < good.size(); ++n) {
        std::vector<HeaderProblem> problems;
        decode(good.substr(0, n), &problems);
        EXPECT_FALSE(problems.empty()) << n;
    }
}
