// rehearse: finding codes and lines of bundles written at test time (their
// CABs checked by their own headers), main CABs played from the installer on,
// and the README's sample run as a golden text.
#include <gtest/gtest.h>

#include "setup/SetupHooks.h"
#include "tests/kit/KitTestSupport.h"
#include "tools/hosttext/HostText.h"

using namespace test;

namespace {

const std::string kSource = VORLUND_SOURCE_DIR;

// A file of a bundle row: "name/" is a directory, "name=kind" a CAB of that
// kind, a plain "*.cab" a clean CE CAB, anything else four bytes.
void writeEntry(const fs::path& dir, const std::string& row)
{
    size_t eq = row.find('=');
    std::string name = row.substr(0, eq), kind = eq == row.npos ? "" : row.substr(eq + 1);
    auto layout = [&](cecab::Layout* l) {
        if (kind == "586")
            l->processor = 586;
        if (kind == "ce6")
            l->min = {6, 0, 0};
        if (kind == "over")
            l->installDir = "%CE1%\\Bundle";
    };
    bool cab = hosttext::endsWithCab(hosttext::fromHost(name));
    if (name.back() == '/')
        fs::create_directories(dir / name);
    else if (kind == "text" || !cab)
        writeFile(dir / name, "MSCF");
    else
        writeFile(dir / name, ceCab({{kind == "over" ? "Vorlund.ini" : "x.txt", "x"}}, "App",
                                    layout, {}, kind == "setup" ? kArmSetupLibrary : ""));
}

}  // namespace

TEST(RehearseTest, FindingsOfBundles)
{
    const std::string block = [] {  // 584 names and a blank line fill 4090 bytes
        std::string list;
        for (int i = 0; i < 584; ++i)
            list += "a.cab\r\n";
        return list + "\r\ncutacross.cab\r\nmissing.cab\r\n";
    }();
    const struct {
        std::string list;                // Vorlund.ini; "-": none
        std::vector<std::string> files;  // see writeEntry
        std::string options;
        std::string expected;
        std::string outcomes = "";  // first letters: installed, rejected, skipped, never read
    } rows[] = {
        // clang-format off
        {"maps.cab\r\nveiwer.cab\r\nsub\\fonts.cab\r\ndocs.cab\r\nhelp.cab\r\nHELP.CAB\r\nnotes.txt\r\n", {"Vorlund.exe", "maps.CAB.cab", "viewer.cab", "sub/fonts.cab", "sub/extra.cab", "docs.cab/", "help.cab", "notes.txt"}, "",
         "missing@1 missing@2 directory@4 duplicate@6 not-cab@7 not-ce-cab@7 unlisted@maps.CAB.cab unlisted@sub\\extra.cab unlisted@viewer.cab | case@6 stays@sub\\fonts.cab"},
        {"\xEF\xBB\xBFmaps.cab\r\n help.cab\r\nhelp.cab\t\r\nviewer.cab \r\n", {"maps.cab", "help.cab", "viewer.cab"}, "",
         "bom@1 missing@1 whitespace@2 missing@2 whitespace@3 missing@3 whitespace@4 missing@4 unlisted@help.cab unlisted@maps.cab unlisted@viewer.cab | stand-in@Vorlund.exe"},
        {"caf\xC3\xA9.cab\r\n\xD0\xBA.cab\r\nbad\x81.cab\r\nna\xEFve.cab\r\nctl\x0C.cab\r\n", {"caf\xC3\xA9.cab", "na\xC3\xAFve.cab", "\xD0\xBA.cab"}, "",
         "encoding@1 missing@1 encoding@2 missing@2 encoding@3 missing@3 control@5 missing@5 unlisted@caf\xC3\xA9.cab unlisted@\xD0\xBA.cab | stand-in@Vorlund.exe"},
        {std::string("m\0a\0p\0.\0c\0a\0b\0\r\0\n\0", 18), {"map.cab"}, "", "encoding@1 partial@1 missing@1 unlisted@map.cab | stand-in@Vorlund.exe"},
        {"a.cab\r\n" + std::string(300, 'x') + ".cab\r\nv*.cab\r\nb" + '\0' + "c.cab\r\nc.cab\r\nd.cab\r\n", {"a.cab", "b", "c.cab", "d.cab", "viewer.cab"}, "",
         "too-long@2 wildcard@3 nul@4 partial@4 not-cab@4 not-ce-cab@4 unread@5-6 unlisted@c.cab unlisted@d.cab unlisted@viewer.cab | stand-in@Vorlund.exe"},
        {block, {"a.cab", "cutacross.cab"}, "", "duplicate@2-584 missing@587 | stand-in@Vorlund.exe"},
        {"\r\n\r\n", {"a.cab"}, "", "empty-list@Vorlund.ini unlisted@a.cab | stand-in@Vorlund.exe"},
        {"-", {"a.cab"}, "", "no-list@Vorlund.ini | stand-in@Vorlund.exe"},
        {"a.cab\r\nb.cab\r\nc.cab\r\n", {"a.cab", "b.cab", "c.cab", "d.cab", "e.cab"}, "--hidden b.cab --system c.cab --read-only a.cab",
         "hidden@2 system@3 left-behind@a.cab left-behind@b.cab left-behind@c.cab left-behind@d.cab left-behind@e.cab | stand-in@Vorlund.exe"},
        {"maps.cab\r\n", {"Maps.cab", "maps.cab", "what?.cab", "link.cab=fifo"}, "", "bad-file-name@what?.cab name-clash@maps.cab | case@1 not-a-file@link.cab=fifo stand-in@Vorlund.exe"},
        {"first.cab\r\nsecond.cab\r\n", {"first.cab", "second.cab"}, "--reject second.cab", "rejected@2 | stand-in@Vorlund.exe"},
        {"first.cab\r\nsecond.cab\r\n", {"first.cab", "second.cab"}, "--no-installer", "installer-failed@\\windows\\wceload.exe not-installed@1-2 | stand-in@Vorlund.exe"},
        {"first.cab\r\nsecond.cab\r\n", {"first.cab", "second.cab", "Vorlund.exe"}, "--from-hook", ""},
        {"first.cab\r\nsecond.cab\r\n", {"first.cab", "second.cab"}, "--from-hook --no-launcher", "no-launcher@Vorlund.exe"},
        // The listed CABs by their own headers, on a CE 5.0 ARM device unless said.
        {"x.cab\r\nce6.cab\r\nsetup.cab\r\nover.cab\r\ntext.cab\r\nx.cab\r\n", {"x.cab=586", "ce6.cab=ce6", "setup.cab=setup", "over.cab=over", "text.cab=text"}, "",
         "processor@1 ce-version@2 own-setup-dll@3 installs-vorlund@4 not-ce-cab@5 duplicate@6 | stand-in@Vorlund.exe", "rriirr"},
        {"x.cab\r\nce6.cab\r\n", {"x.cab=586", "ce6.cab=ce6"}, "--device 6.0", "processor@1 | stand-in@Vorlund.exe", "ri"},
        // clang-format on
    };
    for (const auto& row : rows) {
        TempDir dir;
        for (const std::string& name : row.files)
            if (name == "link.cab=fifo")
                mkfifo((dir / "b/link.cab=fifo").c_str(), 0600);
            else
                writeEntry(dir / "b", name);
        if (row.list != "-")
            writeFile(dir / "b/Vorlund.ini", row.list);
        nlohmann::json r = report("rehearse " + row.options + " " + quoted(dir / "b"));
        EXPECT_EQ(codes(r), row.expected) << row.options << " " << row.files.front();
        // A CAB the device refuses is played as rejected.
        std::string outcomes;
        for (const auto& l : r["list"]["lines"])
            outcomes += l["outcome"].get<std::string>()[0];
        EXPECT_EQ(outcomes, row.outcomes.empty() ? outcomes : row.outcomes);
    }
}

TEST(RehearseTest, MainCabsPlayTheRoadFromTheInstaller)
{
    TempDir dir;
    ASSERT_EQ(
        runKit("pack " + quoted(sampleBundle(dir)) + " -o " + quoted(dir / "main.cab")).status, 1);
    auto value = [](std::string name, std::string data) {
        return [=](cecab::Layout* l) {
            l->values[0] = {cecab::kHkcu, "Software\\TqVorlund", name, cecab::kRegString, false,
                            data};
        };
    };
    using hosttext::utf8;
    // The CAB → the codes, the first message, the CABs installed.
    const std::pair<std::string, std::string> rows[] = {
        // clang-format off
        {readFile(dir / "main.cab"), "missing@3 unlisted@extra.cab; " + utf8(vorlund::kNoticeMessage) + "; maps.cab viewer.cab help.cab "},
        {mainCab({}, {}, ""), "no-setup-dll@VorlundSetup.dll; ; "},
        {mainCab(value("Dir", std::string("x\0", 2))), "no-value@HKCU\\Software\\TqVorlund; " + utf8(vorlund::kNoValueMessage) + "; "},
        {mainCab(value("Default", std::string("\\Storage Card\\X\0", 16))),
         "no-launcher@Vorlund.exe left-behind@maps.cab left-behind@help.cab; " + utf8(vorlund::kNoLauncherMessage) + "; "},
        // clang-format on
    };
    for (const auto& [cab, expected] : rows) {
        writeFile(dir / "main.cab", cab);
        nlohmann::json r = report("rehearse " + quoted(dir / "main.cab"));
        std::string message, installs;
        for (const auto& e : r["events"]) {
            std::string line = e.value("commandLine", "");
            if (e["kind"] == "messageBox" && message.empty())
                message = e["text"];
            if (e["kind"] == "install")
                installs +=
                    line.substr(line.rfind('\\') + 1, line.size() - line.rfind('\\') - 2) + " ";
        }
        EXPECT_EQ(codes(r) + "; " + message + "; " + installs, expected);
    }
}

TEST(RehearseTest, SampleRunMatchesTheGoldenText)
{
    Outcome r =
        run("cd " + test::quoted(kSource) + " && " + VORLUND_KIT + " rehearse examples/bundle");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, readFile(fs::path(kSource) / "tests/kit/golden/rehearse-bundle.txt"));
}
