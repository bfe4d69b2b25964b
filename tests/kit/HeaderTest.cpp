// The install header: damaged headers giving problems, the forms the CAB
// Wizard writes (bytes and member names as the format note has them), and
// what inspect says of four CABs the Wizard built. (A header of every section
// makes the round trip in the fuzz tier, from its corpus; the largest legal
// header is the benchmark's: bench/kit.py inspects it.)
#include <functional>

#include <gtest/gtest.h>

#include "tests/kit/KitTestSupport.h"
#include "tools/cecab/CeFiles.h"
#include "tools/cecab/InstallHeader.h"
#include "tools/cecab/Layout.h"

using namespace cecab;
namespace fs = std::filesystem;
using test::put;

namespace {

// A header put together field by field from raw section bytes, without the
// encoder, so that the decoder is checked against the note alone.
std::string handHeader(const std::string (&sections)[6], const uint16_t (&counts)[6])
{
    std::string h(100, '\0');
    std::string body = std::string("App") + '\0' + "Vendor" + '\0';
    put(&h, 0, 0x4543534D, 4);
    put(&h, 16, 1, 4);
    // APPNAME, PROVIDER and an empty UNSUPPORTED: offset and length each.
    for (auto [at, value] : {std::pair(84, 100), {86, 4}, {88, 104}, {90, 7}, {92, 111}})
        put(&h, at, value, 2);
    for (int i = 0; i < 6; ++i) {
        put(&h, 48 + 2 * i, counts[i], 2);
        put(&h, 60 + 4 * i, static_cast<uint32_t>(100 + body.size()), 4);
        body += sections[i];
    }
    put(&h, 8, static_cast<uint32_t>(100 + body.size()), 4);
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
                   {2, 1, false, kRegDword | kRegNoClobber, "Count", std::string("\x2A\0\0\0", 4)},
                   {3, 2, false, kRegMultiString, "", std::string("a\0b\0\0", 5)},
                   {4, 2, false, kRegBinary, "Blob", std::string("\xDE\xAD\xBE\xEF")}};
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

TEST(HeaderTest, DamagedHeadersGiveProblems)
{
    const std::string good = encoded(fullHeader());
    auto at = [&](size_t offset) {
        return static_cast<uint8_t>(good[offset]) | static_cast<uint8_t>(good[offset + 1]) << 8;
    };
    const uint32_t strings = at(60), dirs = at(64), files = at(68), hives = at(72), keys = at(76);
    using Damage = std::function<void(std::string*)>;
    auto set = [](size_t offset, uint32_t value, int bytes) -> Damage {
        return [=](std::string* s) { put(s, offset, value, bytes); };
    };
    auto byte = [](size_t offset, char value) -> Damage {
        return [=](std::string* s) { (*s)[offset] = value; };
    };
    // clang-format off
    const std::pair<Damage, const char*> rows[] = {
        {[](std::string* s) { s->resize(60); }, "truncated: 60 bytes"},
        {byte(0, 'X'), "no \"MSCE\" signature"},
        {[](std::string* s) { s->pop_back(); }, "the length field says"},
        {set(60, 0x10000, 4), "STRINGS: the count says 5 entries, the file ends after 0"},
        {set(52, 3, 2), "FILES entry 3: starts where the next part of the header begins"},
        {set(48, 4, 2), "refers to string 5, which STRINGS lacks"},
        {byte(strings + 4 + 5, 'x'), "STRINGS entry 1: string without a terminator"},
        {byte(strings + 4 + 3, '\0'), "STRINGS entry 1: a NUL inside the string cuts it short"},
        {set(86, 0xFFF0, 2), "APPNAME: bytes 100..65620 lie outside"},
        {set(files + 2, 9, 2), "refers to directory 9, which DIRS lacks"},
        {set(files, 999, 2), "a file number outside 1..998"},
        {set(strings + 4 + 6, 1, 2), "STRINGS: id 1 is used twice"},
        {set(dirs + 8, 3, 2), "the path does not end with 0"},
        {set(hives + 2, 7, 2), "root 7 is none of 1..4"},
        {set(keys + 2, 5, 2), "refers to hive 5, which REGHIVES lacks"},
        {byte(keys + 12 + 5 + 12, '!'), "a string value without a terminator"},
        {set(64, strings, 4), "two parts of the header start at the same offset"},
        {set(dirs + 2, 0x7000, 2), "DIRS entry 1: bytes 194..28866 lie outside"},
    };
    // clang-format on
    for (const auto& [damage, expected] : rows) {
        std::string bytes = good;
        damage(&bytes);
        std::vector<HeaderProblem> problems;
        decode(bytes, &problems);
        EXPECT_NE(allProblems(problems).find(expected), std::string::npos) << expected << ":\n"
                                                                           << allProblems(problems);
    }
}

TEST(HeaderTest, WizardFormsDecodeAndUntrustedOnesStillFail)
{
    auto words = [](std::initializer_list<uint16_t> values) {
        std::string s;
        for (uint16_t v : values)
            put(&s, s.size(), v, 2);
        return s;
    };
    // Newer Wizards pad strings with NULs to a multiple of 4, write ids in any
    // order and a link's path without its 0.
    auto strings = [&](const std::string& padded) {
        return words({2, uint16_t(padded.size())}) + padded + words({1, 8}) +
               std::string("%CE1%\0\0\0", 8);
    };
    const std::string dirs = words({2, 4, 2, 0, 1, 4, 1, 0});
    const std::string link = words({1, 0, 11, 1, 0, 2, 2});
    std::vector<HeaderProblem> problems;
    InstallHeader h = decode(
        handHeader({strings(std::string("ab\0\0", 4)), dirs, "", "", "", link}, {2, 2, 0, 0, 0, 1}),
        &problems);
    EXPECT_EQ(allProblems(problems), "");
    Layout l = layoutOf(h, {});
    EXPECT_EQ(l.installPath + " " + std::to_string(l.installDirId) + " " + l.dirs[0].path + " " +
                  l.links[0].name,
              "\\Program Files 1 \\ab ab");

    const std::pair<std::string, const char*> refused[] = {
        {std::string("ab\0\0\0", 5), "STRINGS entry 1: a NUL inside the string cuts it short"},
        {std::string("ab\0\0\0\0\0\0", 8), "STRINGS entry 1: a NUL inside the string cuts it"},
    };
    for (const auto& [padded, expected] : refused) {
        problems.clear();
        decode(handHeader({strings(padded), dirs, "", "", "", link}, {2, 2, 0, 0, 0, 1}),
               &problems);
        EXPECT_NE(allProblems(problems).find(expected), std::string::npos) << allProblems(problems);
    }
}

TEST(HeaderTest, LayoutsEncodeInTheWizardsForm)
{
    Layout l;
    l.installDir = "%CE1%\\Field Maps";
    l.dirs = {{1, "%InstallDir%", "", false}, {2, "%InstallDir%\\data", "", false}};
    l.files = {{1, 1, 1, kFileNoSkip, "Vorlund.exe", ""}, {2, 2, 2, 0, "a.cab", ""}};
    l.values = {{kHkcu, "Software\\TqVorlund", "Default", kRegString, true,
                 std::string("%InstallDir%") + '\0'}};
    std::string bytes, error;
    ASSERT_TRUE(encodeLayout(l, &bytes, &error)) << error;
    std::vector<HeaderProblem> problems;
    InstallHeader h = decode(bytes, &problems);
    ASSERT_EQ(allProblems(problems), "");
    // String 1 whole, the install directory [1], a key one string per part.
    EXPECT_EQ(h.strings[0], (HeaderString{1, "%CE1%\\Field Maps"}));
    EXPECT_EQ(h.dirs[0], (HeaderDir{1, {1}}));
    EXPECT_EQ(HeaderIndex(h).join(h.dirs[1].parts) + "|" + HeaderIndex(h).join(h.hives[0].parts),
              "%CE1%\\Field Maps\\data|Software\\TqVorlund");
    EXPECT_EQ(h.hives[0].parts.size(), 2u);
    Layout back = layoutOf(h, {});
    EXPECT_EQ(back.files[1].path + "|" + back.values[0].key,
              "\\Program Files\\Field Maps\\data\\a.cab|Software\\TqVorlund");
    // A string entry as the format note prints one: id, length with its NUL, the text.
    EXPECT_NE(bytes.find(std::string("\x09\0Software\0", 11)), std::string::npos);
    // The note's table of member names.
    EXPECT_EQ(memberName("Blackjack Setup.dll", 999), "BLACKJ~1.999");
    EXPECT_EQ(memberName("Blkjack.exe", 5), "0Blkjack.005");
    EXPECT_EQ(memberName("Sample.BJL", 4), "00Sample.004");
    EXPECT_EQ(memberName("Win Game.wav", 3), "WINGAM~1.003");
}

// What inspect says of four CABs the Wizard built: the install directory and
// its entry, where files land, the registry values.
TEST(HeaderTest, RealWizardCabsInspect)
{
    const fs::path cabs = fs::path(VORLUND_SOURCE_DIR) / "../shared/realcabs";
    if (!fs::is_directory(cabs))
        GTEST_SKIP()
            << "no ../shared/realcabs beside the repository: the Wizard's CABs are not here";
    const std::pair<const char*, const char*> rows[] = {
        {"nsbasic-app-wm", "\\Program Files (1) 4 files: \\Program Files\\nsbasic\\basic.exe, "
                           "\\Windows\\nscepicturebox.ocx; 29 values: \"\\Program Files\\nsbasic\\"
                           "basic.exe\" \"%1\""},
        {"nsbasic-showcase", "\\Program Files (1) 11 files: \\Program Files\\NSBasic\\NS Basic "
                             "Showcase.nsb, \\Program Files\\NSBasic\\basic.exe; 4 values: "
                             "\"\\Program Files\\NSBasic\\basic.exe\" \"%1\""},
        {"sat", "\\Program Files\\SAT-UnpostedJobTrans (3) 18 files: \\Program Files\\"
                "SAT-UnpostedJobTrans\\System.Data.SqlServerCe.dll, \\Program Files\\"
                "SAT-UnpostedJobTrans\\Microsoft.WindowsCE.Forms.dll; 1 values: 1.0"},
        {"ushahidi",
         "\\Program Files\\Ushahidi (3) 12 files: \\Program Files\\Ushahidi\\"
         "Ushahidi.Common.dll, \\Program Files\\Ushahidi\\Ushahidi.Map.dll; 0 values: "},
    };
    for (const auto& [name, expected] : rows) {
        int status = 0;
        nlohmann::json r = test::report("inspect " + test::quoted(cabs / name) + ".cab", &status);
        const nlohmann::json& p = r["package"];
        std::string seen =
            p["installDir"]["path"].get<std::string>() + " (" +
            p["installDir"]["directory"].dump() + ") " + std::to_string(p["files"].size()) +
            " files: " + p["files"][0]["path"].get<std::string>() + ", " +
            p["files"][1]["path"].get<std::string>() + "; " + std::to_string(p["registry"].size()) +
            " values: " +
            (p["registry"].empty() ? "" : p["registry"].back()["resolved"].get<std::string>());
        EXPECT_EQ(seen, expected) << name;
        // None of them is a Vorlund main package: no setup library.
        EXPECT_EQ(test::codes(r), "no-setup-dll@VorlundSetup.dll") << name;
        EXPECT_EQ(status, 1);
    }
}
