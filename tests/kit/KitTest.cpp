// pack and inspect as a vendor runs them: the golden .inf, what pack writes read
// back by the library and by cabextract, every finding of the two with its exit
// status, and the inputs that once crashed or misled them.
#include <gtest/gtest.h>

#include "tests/kit/KitTestSupport.h"
#include "tools/kit/Finding.h"

using namespace test;

namespace {

Outcome pack(const fs::path& bundle, const fs::path& cab, const std::string& options = "")
{
    fs::create_directories(cab.parent_path());
    return runKit("pack " + quoted(bundle) + " -o " + quoted(cab) + " " + options);
}

using Layout = cecab::Layout;
using Members = std::vector<cecab::Member>;

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

    // inspect reads the header in the Wizard's layout; cabextract, an independent
    // reader, tests the cabinet and extracts each file's bytes under the format
    // note's member names.
    nlohmann::json p = report("inspect " + quoted(cab))["package"];
    EXPECT_EQ(p["installDir"].dump(), R"({"directory":1,"path":"\\Program Files\\Field Maps",)"
                                      R"("written":"%CE1%\\Field Maps"})");
    EXPECT_EQ(p["versions"], "5.0 to 6.0");
    EXPECT_EQ(run("cabextract -t " + quoted(cab)).status, 0);
    ASSERT_EQ(run("cabextract -q -d " + quoted(dir / "x") + " " + quoted(cab)).status, 0);
    ASSERT_EQ(p["files"].size(), 7u);
    for (const auto& f : p["files"])
        EXPECT_EQ(readFile(dir / ("x/" + f["member"].get<std::string>())),
                  readFile(bundle / f["name"].get<std::string>()))
            << f;
    EXPECT_EQ(readFile(dir / "x/VORLUN~1.999"), kArmSetupLibrary);
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
    auto huge = [](const fs::path& b) {
        writeFile(b / "huge.cab", "");
        fs::resize_file(b / "huge.cab", 0x80000000ull);  // sparse
    };
    struct Row {
        Change change;
        std::string options;
        int status;
        const char* code;  // in the output
    };
    const Row rows[] = {
        // clang-format off
        {file("Vorlund.ini", "maps.cab\r\nviewer.cab\r\nhelp.cab\r\nextra.cab\r\n"), "", 0, "Packed"},
        {file("VorlundSetup.dll", makePe(0x014C, true, 2, kHooks)), "", 1, "x86-build"},
        {file("VorlundSetup.dll", makePe(0x0166, true, 9, kHooks)), "", 1, "machine"},
        {file("VorlundSetup.dll", makePe(0x01C2, true, 9, {"Install_Init", "Install_Exit", "_Uninstall_Init@8", "Uninstall_Exit"})), "", 1, "Uninstall_Init (only as _Uninstall_Init@8)"},
        {file("VorlundSetup.dll", makePe(0x01C2, false, 9)), "", 2, "not-a-dll"},
        {file("VorlundSetup.dll", makePe(0x01C2, true, 9, {"Install_Init"})), "", 2, "missing-export"},
        {file("Vorlund.exe", makePe(0x01C2, true, 9)), "", 1, "not-a-program"},
        {file("Vorlund.exe", "#!/bin/sh\n"), "", 2, "not-pe"},
        {file("Vorlund.exe", makePe(0x01C2, false, 2)), "", 1, "subsystem"},
        {[](const fs::path& b) { fs::remove(b / "Vorlund.ini"); }, "", 2, "no-list"},
        {[](const fs::path& b) { fs::remove(b / "Vorlund.exe"); }, "", 2, "no-launcher"},
        {[](const fs::path& b) { fs::remove(b / "VorlundSetup.dll"); }, "", 2, "no-setup-dll"},
        {file("MAPS.cab", "x"), "", 2, "name-clash"},
        {file("a:b.cab", "x"), "", 2, "bad-file-name"},
        {file(std::string(240, 'n') + ".cab", "x"), "", 2, "path-too-long"},
        {many, "", 2, "too-many-files"},
        {huge, "", 2, "too-large"},
        {{}, "--install-dir '%CE1%\\X' --app-name " + std::string(70000, 'a'), 2, "header-limit"},
        {file("Vorlund.ini", "\xEF\xBB\xBFmaps.cab\r\nhelp.cab\r\nhelp.cab\r\n"), "", 1, "Vorlund.ini:3  duplicate"},
        {{}, "--app-name " + std::string(41, 'a'), 1, "app-name-long"},
        {{}, "--provider " + std::string(33, 'p'), 1, "provider-long"},
        {{}, "--ce-max 5.2 --device 6.0", 1, "ce-version"},
        {{}, "--processor 586", 1, "processor"},
        {{}, "--app-name 'A&B'", 2, "--app-name"},
        {{}, "--ce-min 5.x", 2, "MAJOR.MINOR"},
        {{}, "--ce-max 4.2", 2, "lower than --ce-min"},
        {{}, "--processor 1234", 2, "--processor"},
        {{}, "--device 5.0,z80", 2, "--device"},
        {{}, "--colour", 2, "--colour"},
        {{}, "--install-dir '%CE1%\\Foo;Bar, Inc'", 1, "install dir  \\Program Files\\Foo;Bar, Inc  "},
        // clang-format on
    };
    // The install directory takes what a file name takes, after its %CEn%.
    std::vector<Row> all(std::begin(rows), std::end(rows));
    for (const char* refused : {"%CE1%\\a*b", "%CE1%\\a:b", "%CE1%\\a\"b", "%CE1%\\..\\..\\Windows",
                                "%CE1%\\X.", "%CE1%\\X ", "%CE01%\\X", "%CE1%\\Caf\xC3\xA9",
                                "%CE1%\\%CE2%", "\\Storage Card\\X", "%CE1%"})
        all.push_back({{}, "--install-dir '" + std::string(refused) + "'", 2, "--install-dir"});
    for (const auto& row : all) {
        TempDir dir;
        fs::path bundle = sampleBundle(dir);
        if (row.change)
            row.change(bundle);
        Outcome r = pack(bundle, dir / "main.cab", row.options);
        EXPECT_EQ(r.status, row.status) << row.code << "\n" << r.out.substr(0, 3000);
        EXPECT_TRUE(r.has(row.code)) << row.code << "\n" << r.out.substr(0, 3000);
        // A blocked package leaves nothing behind.
        EXPECT_EQ(fs::exists(dir / "main.cab") + fs::exists(dir / "main.inf"),
                  2 * (row.status != 2));
    }
}

TEST(KitTest, InspectFindingsSetTheExitStatus)
{
    auto value = [](uint32_t type, bool substitute, std::string data) {
        return [=](Layout* l) {
            l->values[0].typeFlags = type;
            l->values[0].substitute = substitute;
            l->values[0].data = data;
        };
    };
    auto flags = [](int number, uint32_t flags) {
        return [=](Layout* l) { l->files[number - 1].flags |= flags; };
    };
    auto extra = [](std::string name) {
        return [=](Members* m) { m->push_back({name, "x", ""}); };
    };
    auto elsewhere = [](Layout* l) {
        l->dirs.push_back({2, "%CE2%", "", false});
        l->files.push_back({5, 2, 5, 0, "other.cab", ""});
    };
    std::string good = mainCab(), noHeader, error;
    cecab::writeCabinet({{"0000maps.001", "MSCF", ""}}, 0, &noHeader, &error);
    const struct {
        std::string cab;
        int status;
        const char* expected;  // in the output
    } rows[] = {
        // clang-format off
        {good, 0, "The setup hook shows its notice and starts \\Program Files\\Vorlund\\Vorlund.exe"},
        {mainCab({}, {}, ""), 1, "no-setup-dll"},
        {mainCab({}, {}, makePe(0x014C, true, 2, kHooks)), 1, "x86-build"},
        {mainCab([](Layout* l) { l->values[0].key = "Software\\Other"; }), 1, "no-key"},
        {mainCab([](Layout* l) { l->values[0].root = cecab::kHklm; }), 1, "no-key"},
        {mainCab([](Layout* l) { l->values[0].name = "Dir"; }), 1, "no-value"},
        {mainCab(value(cecab::kRegDword, false, std::string(4, '\1'))), 1, "value-type"},
        {mainCab(value(cecab::kRegMultiString, true, std::string("%InstallDir%\0\0", 14))), 1, "value-type"},
        {mainCab(value(cecab::kRegString, false, std::string("\\PROGRAM FILES\\Vorlund\\\0", 24))), 1, "hard-coded-dir"},
        {mainCab(value(cecab::kRegString, false, std::string("\\Storage Card\\X\0", 16))), 1, "no-launcher"},
        {mainCab([](Layout* l) { l->values[0].substitute = false; }), 1, "no-substitution"},
        {mainCab([](Layout* l) { l->values[0].typeFlags |= cecab::kRegNoClobber; }), 1, "value-kept"},
        {mainCab([](Layout* l) { l->files[1].name = "Other.ini"; }), 1, "no-list"},
        {mainCab([](Layout* l) { l->files.pop_back(); }, [](Members* m) { m->erase(m->begin() + 2); }), 1, "Vorlund.ini:2  missing"},
        {mainCab(elsewhere, extra("other.005")), 0, "cab-elsewhere"},
        {mainCab([](Layout* l) { l->files.push_back({50, 1, 50, 0, "ghost.cab", ""}); }), 1, "missing-member"},
        {mainCab({}, extra("0000xtra.050")), 0, "unused-member"},
        {mainCab({}, [](Members* m) { std::rotate(m->begin(), m->begin() + 1, m->end()); }), 1, "header-not-first"},
        {mainCab({}, [](Members* m) { m->push_back({"0000dupl.003", "x", ""}); }), 1, "duplicate-member"},
        {mainCab(flags(1, cecab::kFileOnlyIfExists)), 1, "only-if-exists"},
        {mainCab(flags(2, cecab::kFileNoOverwrite)), 1, "no-overwrite"},
        {mainCab(flags(1, cecab::kFileSelfRegister)), 1, "self-register"},
        {mainCab([](Layout* l) { l->processor = 586; }), 1, "processor"},
        {mainCab([](Layout* l) { l->min = {6, 0, 0}; }), 1, "ce-version"},
        {mainCab([](Layout* l) { l->dirs.push_back({2, "%CE99%\\X", "", false}); }), 1, "unknown-macro"},
        {mainCab([](Layout* l) { l->dirs[0].written = "%InstallDir%\\Vorlund"; l->installDir = "%CE1%"; }), 1, "install-dir"},
        {mainCab([](Layout* l) { l->installDir = "%CE5%\\Docs"; }), 0, "starts \\My Documents\\Docs\\Vorlund.exe"},
        {mainCab([](Layout* l) { l->installDir = "%CE1%\\" + std::string(240, 'v'); }), 1, "no-launcher"},
        {mainCab([](Layout* l) { l->files[0].dirId = 9; }), 2, "refers to directory 9, which DIRS lacks"},
        {good.substr(0, good.size() / 2), 2, "main.cab: "},
        {"hello", 2, "main.cab: not a cabinet"},
        {noHeader, 2, "no install header"},
        // clang-format on
    };
    TempDir dir;
    for (const auto& row : rows) {
        writeFile(dir / "main.cab", row.cab);
        Outcome r = runKit("inspect " + quoted(dir / "main.cab"));
        EXPECT_EQ(r.status, row.status) << row.expected << "\n" << r.out;
        EXPECT_TRUE(r.has(row.expected)) << row.expected << "\n" << r.out;
    }
    EXPECT_EQ(runKit("inspect " + quoted(dir / "none.cab")).status, 2);
}

// Inputs that once crashed the kit, misled it or hid what it read.
TEST(KitTest, AwkwardInputsGiveAnAnswer)
{
    TempDir dir;
    fs::path bundle = sampleBundle(dir), cab = dir / "x.cab";
    writeFile(bundle / "caf\xE9.cab", "x");
    writeFile(dir / "cafe.cab", mainCab([](Layout* l) {
                  l->appName = "Caf\xE9";
                  l->files[2].name = "evil\x1B[31m.cab";
              }));
    writeFile(dir / "huge.bin", "");
    fs::resize_file(dir / "huge.bin", 1ull << 30);  // sparse
    const struct {
        std::string arguments;
        int status;
        const char* expected;
    } rows[] = {
        // clang-format off
        {"pack --json " + quoted(bundle) + " -o " + quoted(cab), 2, "\"file\": \"caf\\\\xE9.cab\""},
        {"rehearse --json " + quoted(bundle), 1, "\"where\": \"caf\xC3\xA9.cab\""},
        {"inspect --json " + quoted(dir / "cafe.cab"), 1, "\"application\": \"Caf\xC3\xA9\""},
        {"inspect " + quoted(dir / "cafe.cab"), 1, "evil<0x1B>[31m.cab"},
        {"inspect " + quoted(bundle), 2, "bundle: a directory, not a main CAB"},
        {"inspect " + quoted(dir / "huge.bin"), 2, "huge.bin: not a cabinet"},
        {"rehearse " + quoted(dir / "huge.bin"), 2, "huge.bin: not a cabinet"},
        // clang-format on
    };
    for (const auto& row : rows) {
        Outcome r = runKit(row.arguments);
        EXPECT_EQ(r.status, row.status) << row.arguments << "\n" << r.out;
        EXPECT_TRUE(r.has(row.expected)) << row.expected << "\n" << r.out;
        EXPECT_FALSE(r.has("\x1B")) << row.arguments;
        EXPECT_TRUE(row.arguments.find("--json") == std::string::npos ||
                    nlohmann::json::accept(r.out))
            << r.out;
    }
}

// pack -o into the bundle leaves the CAB it wrote before out of the next one.
TEST(KitTest, PackNeverPacksItsOutput)
{
    TempDir dir;
    fs::path bundle = sampleBundle(dir);
    ASSERT_EQ(pack(bundle, bundle / "Vorlund.cab").status, 1);
    std::string first = readFile(bundle / "Vorlund.cab");
    Outcome again = pack(bundle, bundle / "Vorlund.cab");
    EXPECT_TRUE(again.has("Vorlund.cab  not-packed  what this pack writes")) << again.out;
    EXPECT_EQ(readFile(bundle / "Vorlund.cab").size(), first.size());
}

// Each code of the table has a row in these tests and a line in the docs.
TEST(KitTest, EveryFindingCodeHasARowAndADocLine)
{
    std::string rows, docs = readFile(fs::path(VORLUND_SOURCE_DIR) / "docs/MAIN_PACKAGE.md");
    for (const char* file : {"KitTest.cpp", "RehearseTest.cpp", "HeaderTest.cpp"})
        rows += readFile(fs::path(VORLUND_SOURCE_DIR) / "tests/kit" / file);
    for (int c = 0; c < static_cast<int>(kit::Code::Count); ++c) {
        std::string code = kit::info(static_cast<kit::Code>(c)).text;
        bool row = rows.find("\"" + code + "\"") != std::string::npos ||
                   rows.find(code + "@") != std::string::npos ||
                   rows.find("  " + code + " ") != std::string::npos;
        EXPECT_TRUE(row) << code << " has no row";
        EXPECT_NE(docs.find("`" + code + "`"), std::string::npos) << code << " is not in the docs";
    }
}
