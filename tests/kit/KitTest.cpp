// vorlund-kit as a vendor runs it: pack writes what inspect reads back and
// what cabextract accepts, the .inf matches its golden copy, lint findings
// set the exit status, and damaged CABs are refused.
#include <functional>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/kit/KitTestSupport.h"
#include "tools/cecab/Cabinet.h"
#include "tools/cecab/MainPackage.h"

using namespace test;

namespace {

const auto kAll = [](const std::string&) { return true; };

Outcome pack(const fs::path& bundle, const fs::path& cab, const std::string& options = "")
{
    fs::create_directories(cab.parent_path());
    return kit("pack " + quoted(bundle) + " -o " + quoted(cab) + " " + options);
}

// cabextract lists, tests and extracts the cabinet, and each extracted
// member has the bytes it should.
void expectCabextractAgrees(const fs::path& cab, const std::map<std::string, std::string>& members)
{
    EXPECT_EQ(run("cabextract -l " + quoted(cab)).status, 0);
    EXPECT_EQ(run("cabextract -t " + quoted(cab)).status, 0);
    fs::path into = cab.parent_path() / "extracted";
    Outcome x = run("cabextract -q -d " + quoted(into) + " " + quoted(cab));
    ASSERT_EQ(x.status, 0) << x.out;
    for (const auto& [name, bytes] : members)
        EXPECT_EQ(readFile(into / name), bytes) << name;
    EXPECT_EQ(
        static_cast<size_t>(std::distance(fs::directory_iterator(into), fs::directory_iterator())),
        members.size());
}

}  // namespace

TEST(KitTest, SampleBundleMatchesTheGoldenInf)
{
    TempDir dir;
    fs::path bundle = sampleBundle(dir);
    Outcome r = pack(bundle, dir / "out/Vorlund.cab");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(r.has("notes.txt  not-packed")) << r.out;
    EXPECT_EQ(readFile(dir / "out/Vorlund.inf"),
              readFile(fs::path(VORLUND_SOURCE_DIR) / "tests/kit/golden/bundle.inf"));
}

TEST(KitTest, InspectReadsBackExactlyWhatPackWrote)
{
    TempDir dir;
    fs::path bundle = sampleBundle(dir);
    writeFile(bundle / "Big Atlas (2).cab", std::string(70000, 'x'));
    fs::path cab = dir / "out/main.cab";
    Outcome packed =
        pack(bundle, cab, "--app-name 'Field Maps' --provider Acme --ce-max 6.0 --json");
    ASSERT_EQ(packed.status, 0) << packed.out;

    // The library's view: header and members describe the bundle's files.
    std::vector<cecab::CabinetEntry> entries;
    std::string error;
    ASSERT_TRUE(cecab::readCabinet(readFile(cab), kAll, 1 << 20, &entries, &error)) << error;
    std::vector<cecab::HeaderProblem> problems;
    const std::string& head = entries.front().data;
    cecab::InstallHeader header =
        cecab::decodeHeader(reinterpret_cast<const uint8_t*>(head.data()), head.size(), &problems);
    ASSERT_TRUE(problems.empty());
    cecab::MainPackage described;
    ASSERT_TRUE(cecab::describePackage(header, entries, &described, &error)) << error;
    EXPECT_EQ(described.appName, "Field Maps");
    EXPECT_EQ(described.provider, "Acme");
    EXPECT_EQ(described.processor, 2577u);
    EXPECT_TRUE((described.min == cecab::CeVersion{5, 0, 0}) &&
                (described.max == cecab::CeVersion{6, 0, 0}));
    EXPECT_EQ(described.installDir, "%CE1%\\Field Maps");
    EXPECT_EQ(described.setupDll.data, armSetupLibrary());
    std::vector<std::string> names;
    for (const cecab::PackageFile& f : described.files) {
        names.push_back(f.name);
        EXPECT_EQ(f.data, readFile(bundle / f.name)) << f.name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Vorlund.exe", "Vorlund.ini", "Big Atlas (2).cab",
                                               "extra.cab", "help.cab", "maps.cab", "viewer.cab"}));
    // Built again from the description, the header is the same byte for byte.
    cecab::InstallHeader rebuilt;
    std::vector<cecab::Member> members;
    ASSERT_TRUE(cecab::buildFileSet(described, &rebuilt, &members, &error)) << error;
    EXPECT_TRUE(rebuilt == header);
    EXPECT_EQ(members.front().data, head);

    // inspect's report agrees with pack's, member by member.
    Outcome inspected = kit("inspect --json " + quoted(cab));
    EXPECT_EQ(inspected.status, 1) << inspected.out;  // the sample's list names a missing CAB
    auto p = nlohmann::json::parse(packed.out);
    auto i = nlohmann::json::parse(inspected.out);
    std::map<std::string, std::string> packedAs, inspectedAs;
    for (const auto& m : p["members"])
        packedAs[m["member"]] = m["installedAs"];
    for (const auto& f : i["files"])
        inspectedAs[f["member"]] = f["path"];
    for (const auto& [member, path] : inspectedAs)
        EXPECT_EQ(packedAs[member], path) << member;
    EXPECT_EQ(inspectedAs.size() + 2, packedAs.size());  // and the header and setup library
    EXPECT_EQ(i["registry"][0]["resolved"], "\\Program Files\\Field Maps");
    EXPECT_EQ(i["hook"], "shows its notice and starts \\Program Files\\Field Maps\\Vorlund.exe");
    EXPECT_EQ(i["listed"], (std::vector<std::string>{"maps.cab", "viewer.cab", "missing-fonts.cab",
                                                     "help.cab"}));

    std::map<std::string, std::string> bytes;
    for (const cecab::CabinetEntry& e : entries)
        bytes[e.name] = e.data;
    expectCabextractAgrees(cab, bytes);
}

TEST(KitTest, CabextractReadsManyFilesAndOddNames)
{
    TempDir dir;
    fs::path bundle = sampleBundle(dir);
    std::map<std::string, std::string> expected;
    for (int n = 0; n < 300; ++n)
        writeFile(bundle / ("part " + std::to_string(n) + ".cab"),
                  "MSCF " + std::string(n * 37, 'p'));
    fs::path cab = dir / "out/many.cab";
    Outcome r = pack(bundle, cab);
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<cecab::CabinetEntry> entries;
    std::string error;
    ASSERT_TRUE(cecab::readCabinet(readFile(cab), kAll, 1 << 20, &entries, &error)) << error;
    EXPECT_EQ(entries.size(), 2u + 2u + 4u + 300u);
    for (const cecab::CabinetEntry& e : entries)
        expected[e.name] = e.data;
    expectCabextractAgrees(cab, expected);
}

TEST(KitTest, LintFindingsSetTheExitStatus)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> change;
        std::string options;
        int status;
        const char* code;
    };
    auto peFile = [](const char* file, PeShape shape) {
        return [=](const fs::path& b) { writeFile(b / file, makePe(shape)); };
    };
    PeShape x86Dll{0x014C, true, 2, hooks(), false};
    PeShape noExit{0x01C2, true, 9, {"Install_Init", "Uninstall_Init", "Uninstall_Exit"}, false};
    PeShape decorated{0x01C2,
                      true,
                      9,
                      {"Install_Init", "Install_Exit", "_Uninstall_Init@8", "Uninstall_Exit"},
                      false};
    PeShape program{0x01C2, false, 9, {}, false};
    const std::vector<Case> cases = {
        {"clean", [](const fs::path&) {}, "", 0, ""},
        {"x86 setup library", peFile("VorlundSetup.dll", x86Dll), "", 1, "x86-build"},
        {"decorated export", peFile("VorlundSetup.dll", decorated), "", 1,
         "only decorated, as _Uninstall_Init@8"},
        {"setup library a program", peFile("VorlundSetup.dll", program), "", 2, "not-a-dll"},
        {"no Install_Exit", peFile("VorlundSetup.dll", noExit), "", 2,
         "does not export Install_Exit"},
        {"launcher a DLL", peFile("Vorlund.exe", x86Dll), "", 1, "not-a-program"},
        {"launcher not PE", [](const fs::path& b) { writeFile(b / "Vorlund.exe", "#!/bin/sh\n"); },
         "", 2, "not-pe"},
        {"desktop subsystem", peFile("Vorlund.exe", PeShape{0x01C2, false, 2, {}, false}), "", 1,
         "subsystem"},
        {"no list", [](const fs::path& b) { fs::remove(b / "Vorlund.ini"); }, "", 2, "no-list"},
        {"no launcher", [](const fs::path& b) { fs::remove(b / "Vorlund.exe"); }, "", 2,
         "no-launcher"},
        {"list in other case",
         [](const fs::path& b) { fs::rename(b / "Vorlund.ini", b / "VORLUND.INI"); }, "", 0, ""},
        {"name clash", [](const fs::path& b) { writeFile(b / "MAPS.cab", "x"); }, "", 2,
         "name-clash"},
        {"bad name", [](const fs::path& b) { writeFile(b / "a:b.cab", "x"); }, "", 2,
         "bad-file-name"},
        {"path too long",
         [](const fs::path& b) { writeFile(b / (std::string(240, 'n') + ".cab"), "x"); }, "", 2,
         "path-too-long"},
        {"too many files",
         [](const fs::path& b) {
             for (int n = 0; n < 995; ++n)
                 writeFile(b / (std::to_string(n) + ".cab"), "");
         },
         "", 2, "too-many-files"},
        {"long application name", [](const fs::path&) {}, "--app-name " + std::string(41, 'a'), 1,
         "app-name-long"},
        {"long provider", [](const fs::path&) {}, "--provider " + std::string(33, 'p'), 1,
         "provider-long"},
        {"reserved character", [](const fs::path&) {}, "--app-name 'A&B'", 2, "--app-name"},
        {"bad version", [](const fs::path&) {}, "--ce-min 5.x", 2, "MAJOR.MINOR"},
        {"max below min", [](const fs::path&) {}, "--ce-max 4.2", 2, "lower than --ce-min"},
        {"unknown processor", [](const fs::path&) {}, "--processor 1234", 2, "--processor"},
        {"install dir without %CEn%", [](const fs::path&) {}, "--install-dir '\\Storage Card\\X'",
         2, "%CEn%"},
        {"no such option", [](const fs::path&) {}, "--colour", 2, "--colour"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        fs::path bundle = sampleBundle(dir);
        c.change(bundle);
        fs::path cab = dir / "out/main.cab";
        Outcome r = pack(bundle, cab, c.options);
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.out;
        EXPECT_TRUE(r.has(c.code)) << c.name << "\n" << r.out;
        // A blocked package leaves nothing behind.
        EXPECT_EQ(fs::exists(cab), c.status != 2) << c.name;
        EXPECT_EQ(fs::exists(dir / "out/main.inf"), c.status != 2) << c.name;
    }
    EXPECT_EQ(kit("pack /nonexistent/bundle").status, 2);
    EXPECT_EQ(kit("").status, 2);
    Outcome help = kit("inspect --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.has("Exit status")) << help.out;
}

TEST(KitTest, DamagedCabsAreRefused)
{
    TempDir dir;
    fs::path cab = dir / "out/main.cab";
    ASSERT_EQ(pack(sampleBundle(dir), cab).status, 0);
    std::string good = readFile(cab);
    std::vector<cecab::CabinetEntry> entries;
    std::string error;
    ASSERT_TRUE(cecab::readCabinet(good, kAll, 1 << 20, &entries, &error));
    // The same cabinet around a damaged header (the cabinet's own checksums
    // would catch a byte changed in place).
    auto withHeader = [&](const std::string& name,
                          const std::function<void(std::string*)>& damage) {
        std::vector<cecab::Member> members;
        for (const cecab::CabinetEntry& e : entries)
            members.push_back({e.name, e.data, ""});
        damage(&members.front().data);
        std::string bytes;
        EXPECT_TRUE(cecab::writeCabinet(members, 0, &bytes, &error)) << error;
        writeFile(dir / name, bytes);
        return kit("inspect " + quoted(dir / name));
    };
    auto variant = [&](const std::string& name, const std::string& bytes) {
        writeFile(dir / name, bytes);
        return kit("inspect " + quoted(dir / name));
    };
    const struct {
        std::string name;
        Outcome r;
        const char* expected;
    } rows[] = {
        {"truncated", variant("truncated.cab", good.substr(0, good.size() / 2)), "vorlund-kit: "},
        {"not a cab", variant("text.cab", "hello"), "vorlund-kit: "},
        {"offset outside",
         withHeader("offset.cab", [](std::string* h) { put(h, 68, 0x00FFFFFF, 4); }),
         "FILES: the count says 6 entries, the file ends after 0"},
        {"count too high", withHeader("count.cab", [](std::string* h) { put(h, 48, 40, 2); }),
         "the count (40) does not match"},
        {"unterminated", withHeader("unterminated.cab", [](std::string* h) { (*h)[107] = 'x'; }),
         "APPNAME: string without a terminator"},
        {"no header", withHeader("noheader.cab", [](std::string* h) { h->resize(10); }),
         "truncated: 10 bytes"},
        {"missing file", kit("inspect " + quoted(dir / "none.cab")), "cannot open"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.r.status, 2) << r.name << "\n" << r.r.out;
        EXPECT_TRUE(r.r.has(r.expected)) << r.name << "\n" << r.r.out;
    }
}
