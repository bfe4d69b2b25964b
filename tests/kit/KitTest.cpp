// pack and inspect as a vendor runs them: the golden .inf, what pack writes read
// back by the library and by cabextract, and the findings' exit statuses.
#include <gtest/gtest.h>

#include "tests/kit/KitTestSupport.h"

using namespace test;

namespace {

const auto kAll = [](const std::string&) { return true; };

Outcome pack(const fs::path& bundle, const fs::path& cab, const std::string& options = "")
{
    fs::create_directories(cab.parent_path());
    return kit("pack " + quoted(bundle) + " -o " + quoted(cab) + " " + options);
}

}  // namespace

TEST(KitTest, SampleBundleMatchesTheGoldenInf)
{
    TempDir dir;
    Outcome r = pack(sampleBundle(dir), dir / "out/Vorlund.cab");
    EXPECT_EQ(r.status, 1) << r.out;  // the sample's list names a missing CAB
    EXPECT_EQ(readFile(dir / "out/Vorlund.inf"),
              readFile(fs::path(VORLUND_SOURCE_DIR) / "tests/kit/golden/bundle.inf"));
}

TEST(KitTest, WhatPackWritesReadsBackEverywhere)
{
    TempDir dir;
    fs::path bundle = sampleBundle(dir), cab = dir / "main.cab";
    writeFile(bundle / "Big Atlas (2).cab", std::string(70000, 'x'));
    Outcome packed = pack(bundle, cab, "--app-name 'Field Maps' --ce-max 6.0");
    ASSERT_EQ(packed.status, 1) << packed.out;

    // The library: header and members describe the bundle.
    std::vector<cecab::CabinetEntry> entries;
    std::string error;
    ASSERT_TRUE(cecab::readCabinet(readFile(cab), kAll, 1 << 20, &entries, &error)) << error;
    std::vector<cecab::HeaderProblem> problems;
    const std::string& head = entries.front().data;
    cecab::InstallHeader header =
        cecab::decodeHeader(reinterpret_cast<const uint8_t*>(head.data()), head.size(), &problems);
    cecab::MainPackage described;
    ASSERT_TRUE(problems.empty() && cecab::describePackage(header, entries, &described, &error));
    EXPECT_EQ(described.appName + "|" + described.installDir, "Field Maps|%CE1%\\Field Maps");
    EXPECT_TRUE(described.max == (cecab::CeVersion{6, 0, 0}));
    EXPECT_EQ(described.setupDll.data, armSetupLibrary());
    EXPECT_EQ(described.files.size(), 7u);
    for (const cecab::PackageFile& f : described.files)
        EXPECT_EQ(f.data, readFile(bundle / f.name)) << f.name;

    // cabextract, an independent reader, tests and extracts the same bytes
    // under the format note's member names.
    EXPECT_EQ(run("cabextract -t " + quoted(cab)).status, 0);
    ASSERT_EQ(run("cabextract -q -d " + quoted(dir / "x") + " " + quoted(cab)).status, 0);
    for (const cecab::CabinetEntry& e : entries)
        EXPECT_EQ(readFile(dir / ("x/" + e.name)), e.data) << e.name;
    EXPECT_EQ(entries[1].name + " " + entries.back().name, "VORLUN~1.999 0Vorlund.001");
}

TEST(KitTest, PackFindingsSetTheExitStatus)
{
    using Change = std::function<void(const fs::path&)>;
    auto file = [](std::string name, std::string bytes) -> Change {
        return [=](const fs::path& b) { writeFile(b / name, bytes); };
    };
    auto many = [](const fs::path& b) {
        for (int n = 0; n < 995; ++n)
            writeFile(b / (std::to_string(n) + ".cab"), "");
    };
    const std::string dll = "VorlundSetup.dll", exe = "Vorlund.exe";
    const struct {
        Change change;
        std::string options;
        int status;
        const char* code;  // in the output
    } rows[] = {
        // clang-format off
        {file("Vorlund.ini", "maps.cab\r\nviewer.cab\r\nhelp.cab\r\nextra.cab\r\n"), "", 0, "Packed"},
        {file("VorlundSetup.dll", makePe(0x014C, true, 2, kHooks)), "", 1, "x86-build"},
        {file("VorlundSetup.dll", makePe(0x01C2, true, 9, {"Install_Init", "Install_Exit", "_Uninstall_Init@8", "Uninstall_Exit"})), "", 1, "only decorated, as _Uninstall_Init@8"},
        {file("VorlundSetup.dll", makePe(0x01C2, false, 9)), "", 2, "not-a-dll"},
        {file("VorlundSetup.dll", makePe(0x01C2, true, 9, {"Install_Init"})), "", 2, "does not export Install_Exit"},
        {file("Vorlund.exe", makePe(0x01C2, true, 9)), "", 1, "not-a-program"},
        {file("Vorlund.exe", "#!/bin/sh\n"), "", 2, "not-pe"},
        {file("Vorlund.exe", makePe(0x01C2, false, 2)), "", 1, "subsystem"},
        {[](const fs::path& b) { fs::remove(b / "Vorlund.ini"); }, "", 2, "no-list"},
        {[](const fs::path& b) { fs::remove(b / "Vorlund.exe"); }, "", 2, "no-launcher"},
        {file("MAPS.cab", "x"), "", 2, "name-clash"},
        {file("a:b.cab", "x"), "", 2, "bad-file-name"},
        {file(std::string(240, 'n') + ".cab", "x"), "", 2, "path-too-long"},
        {many, "", 2, "too-many-files"},
        {file("Vorlund.ini", "\xEF\xBB\xBFmaps.cab\r\nhelp.cab\r\nhelp.cab\r\n"), "", 1, "Vorlund.ini:3  duplicate"},
        {{}, "--app-name " + std::string(41, 'a'), 1, "app-name-long"},
        {{}, "--provider " + std::string(33, 'p'), 1, "provider-long"},
        {{}, "--app-name 'A&B'", 2, "--app-name"},
        {{}, "--ce-min 5.x", 2, "MAJOR.MINOR"},
        {{}, "--ce-max 4.2", 2, "lower than --ce-min"},
        {{}, "--processor 1234", 2, "--processor"},
        {{}, "--install-dir '\\Storage Card\\X'", 2, "%CEn%"},
        {{}, "--colour", 2, "--colour"},
        // clang-format on
    };
    for (const auto& row : rows) {
        TempDir dir;
        fs::path bundle = sampleBundle(dir);
        if (row.change)
            row.change(bundle);
        Outcome r = pack(bundle, dir / "main.cab", row.options);
        EXPECT_EQ(r.status, row.status) << row.code << "\n" << r.out;
        EXPECT_TRUE(r.has(row.code)) << row.code << "\n" << r.out;
        // A blocked package leaves nothing behind.
        EXPECT_EQ(fs::exists(dir / "main.cab") + fs::exists(dir / "main.inf"),
                  2 * (row.status != 2));
    }
}

TEST(KitTest, InspectFindingsSetTheExitStatus)
{
    using cecab::InstallHeader;
    using cecab::MainPackage;
    auto value = [](uint32_t type, bool substitute, std::string data) {
        return
            [=](InstallHeader* h) { h->regValues[0] = {1, 1, substitute, type, "Default", data}; };
    };
    std::string good = mainCab(),
                unknownDir = mainCab({}, [](InstallHeader*h) { h->files[0].dirId = 9; });
    std::string noHeader, error;
    cecab::writeCabinet({{"0000maps.001", "MSCF", ""}}, 0, &noHeader, &error);
    const struct {
        std::string cab;
        int status;
        const char* expected;  // in the output
    } rows[] = {
        // clang-format off
        {good, 0, "shows its notice and starts \\Program Files\\Vorlund\\Vorlund.exe"},
        {mainCab({}, {}, false), 1, "no-setup-dll"},
        {mainCab([](MainPackage* p) { p->setupDll.data = makePe(0x014C, true, 2, kHooks); }), 1, "x86-build"},
        {mainCab({}, [](InstallHeader* h) { h->strings[h->hives[0].parts[1] - 1].text = "Other"; }), 1, "no-key"},
        {mainCab({}, [](InstallHeader* h) { h->hives[0].root = cecab::kHklm; }), 1, "no-key"},
        {mainCab({}, [](InstallHeader* h) { h->regValues[0].name = "Dir"; }), 1, "no-value"},
        {mainCab({}, value(cecab::kRegDword, false, std::string(4, '\1'))), 1, "value-type"},
        {mainCab({}, value(cecab::kRegMultiString, true, std::string("%InstallDir%\0\0", 14))), 1, "value-type"},
        {mainCab({}, value(cecab::kRegString, false, std::string("\\PROGRAM FILES\\Vorlund\\\0", 24))), 1, "hard-coded-dir"},
        {mainCab({}, value(cecab::kRegString, false, std::string("\\Storage Card\\X\0", 16))), 1, "then deletes the CABs in \\Storage Card\\X"},
        {mainCab({}, [](InstallHeader* h) { h->regValues[0].substitute = false; }), 1, "no-substitution"},
        {mainCab([](MainPackage* p) { p->files.erase(p->files.begin()); }), 1, "no-launcher"},
        {mainCab([](MainPackage* p) { p->files.erase(p->files.begin() + 1); }), 1, "no-list"},
        {mainCab([](MainPackage* p) { p->files.pop_back(); }), 1, "listed-missing"},
        {mainCab([](MainPackage* p) { p->files.push_back({"extra.CAB", "x", ""}); }), 1, "unlisted"},
        {mainCab({}, [](InstallHeader* h) { h->files.push_back({50, 1, 50, 0, "ghost.cab"}); }), 1, "missing-member"},
        {mainCab([](MainPackage* p) { p->installDir = "%CE5%\\Docs"; }), 0, "starts \\My Documents\\Docs\\Vorlund.exe"},
        {mainCab([](MainPackage* p) { p->installDir = "%CE1%\\" + std::string(240, 'v'); }), 1, "path-too-long"},
        {unknownDir, 2, "refers to directory 9, which DIRS lacks"},
        {good.substr(0, good.size() / 2), 2, "vorlund-kit: "},
        {"hello", 2, "vorlund-kit: "},
        {noHeader, 2, "no install header"},
        // clang-format on
    };
    TempDir dir;
    for (const auto& row : rows) {
        writeFile(dir / "main.cab", row.cab);
        Outcome r = kit("inspect " + quoted(dir / "main.cab"));
        EXPECT_EQ(r.status, row.status) << row.expected << "\n" << r.out;
        EXPECT_TRUE(r.has(row.expected)) << row.expected << "\n" << r.out;
    }
    EXPECT_EQ(kit("inspect " + quoted(dir / "none.cab")).status, 2);
}
