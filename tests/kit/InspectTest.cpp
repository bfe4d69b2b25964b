// inspect's contract checks: main CABs that break the setup hook's contract
// in one way each, and what the device would show or do silently.
#include <functional>

#include <gtest/gtest.h>

#include "tests/kit/PeMaker.h"
#include "tools/cecab/Cabinet.h"
#include "tools/cecab/MainPackage.h"
#include "tools/kit/Inspect.h"

using namespace cecab;

namespace {

struct Change {
    std::function<void(MainPackage*)> package;
    std::function<void(InstallHeader*)> header;
    bool dropSetup = false;
};

Change onPackage(std::function<void(MainPackage*)> f)
{
    Change c;
    c.package = std::move(f);
    return c;
}

Change withoutSetup()
{
    Change c;
    c.dropSetup = true;
    return c;
}

Change onHeader(std::function<void(InstallHeader*)> f)
{
    Change c;
    c.header = std::move(f);
    return c;
}

// A main CAB of the launcher, the list and two CABs, changed as asked.
std::string mainCab(const Change& change)
{
    MainPackage p;
    p.appName = "Vorlund";
    p.provider = "Brannoch Software";
    p.installDir = defaultInstallDir(p.appName);
    p.setupDll = {kSetupDllName, test::armSetupLibrary(), ""};
    p.files = {{kLauncherName, test::armLauncher(), ""},
               {kListName, "maps.cab\r\nhelp.cab\r\n", ""},
               {"maps.cab", "MSCF maps", ""},
               {"help.cab", "MSCF help", ""}};
    if (change.package)
        change.package(&p);
    InstallHeader h;
    std::vector<Member> members;
    std::string error, cabinet;
    EXPECT_TRUE(buildFileSet(p, &h, &members, &error)) << error;
    if (change.header)
        change.header(&h);
    EXPECT_TRUE(encodeHeader(h, &members.front().data, &error)) << error;
    if (change.dropSetup)
        members.erase(members.begin() + 1);
    EXPECT_TRUE(writeCabinet(members, 0, &cabinet, &error)) << error;
    return cabinet;
}

void setValue(InstallHeader* h, uint32_t type, bool substitute, const std::string& data)
{
    h->regValues[0].typeFlags = type;
    h->regValues[0].substitute = substitute;
    h->regValues[0].data = data;
}

const std::string kStarts = "shows its notice and starts \\Program Files\\Vorlund\\Vorlund.exe";
const std::string kNoLauncher = "Cannot locate registry launcher: Vorlund.exe.";

}  // namespace

TEST(InspectTest, EachBrokenContractSaysWhatTheDeviceDoes)
{
    const struct {
        const char* name;
        Change change;
        const char* code;  // empty: no finding at all
        std::string hook;
    } rows[] = {
        {"clean", Change(), "", kStarts},
        {"no setup library", withoutSetup(), "no-setup-dll", "never runs"},
        {"x86 setup library", onPackage([](MainPackage* p) {
             test::PeShape s{0x014C, true, 2, test::hooks(), false};
             p->setupDll.data = test::makePe(s);
         }),
         "x86-build", kStarts},
        {"no key",
         onHeader([](InstallHeader* h) { h->strings[h->hives[0].parts[1] - 1].text = "Other"; }),
         "no-key", "path of the Main CAB file"},
        {"key under HKLM", onHeader([](InstallHeader* h) { h->hives[0].root = kHklm; }), "no-key",
         "path of the Main"},
        {"no value Default", onHeader([](InstallHeader* h) { h->regValues[0].name = "Dir"; }),
         "no-value", "name of the Main CAB file"},
        {"dword value",
         onHeader([](InstallHeader* h) { setValue(h, kRegDword, false, std::string(4, '\1')); }),
         "value-type", kNoLauncher},
        {"multi-string value", onHeader([](InstallHeader* h) {
             setValue(h, kRegMultiString, true, std::string("%InstallDir%\0\0", 14));
         }),
         "value-type", kStarts},
        {"literal path", onHeader([](InstallHeader* h) {
             setValue(h, kRegString, false, std::string("\\Program Files\\Vorlund\0", 23));
         }),
         "hard-coded-dir", kStarts},
        {"literal path with backslash", onHeader([](InstallHeader* h) {
             setValue(h, kRegString, false, std::string("\\PROGRAM FILES\\Vorlund\\\0", 24));
         }),
         "hard-coded-dir", kStarts},
        {"literal other path", onHeader([](InstallHeader* h) {
             setValue(h, kRegString, false, std::string("\\Storage Card\\X\0", 16));
         }),
         "wrong-dir", kNoLauncher + "\", then deletes the CABs in \\Storage Card\\X"},
        {"no substitution", onHeader([](InstallHeader* h) { h->regValues[0].substitute = false; }),
         "no-substitution", kNoLauncher},
        {"no launcher", onPackage([](MainPackage* p) { p->files.erase(p->files.begin()); }),
         "no-launcher", kNoLauncher},
        {"no list", onPackage([](MainPackage* p) { p->files.erase(p->files.begin() + 1); }),
         "no-list", kStarts},
        {"listed CAB not packed", onPackage([](MainPackage* p) { p->files.pop_back(); }),
         "listed-missing", kStarts},
        {"packed CAB not listed", onPackage([](MainPackage* p) {
             p->files.push_back({"extra.CAB", "x", ""});
         }),
         "unlisted", kStarts},
        {"header names a missing member", onHeader([](InstallHeader* h) {
             h->files.push_back({50, 1, 50, 0, "ghost.cab"});
         }),
         "missing-member", kStarts},
        {"another %CEn%", onPackage([](MainPackage* p) { p->installDir = "%CE5%\\Docs"; }), "",
         "starts \\My Documents\\Docs\\Vorlund.exe"},
        {"launcher path too long",
         onPackage([](MainPackage* p) { p->installDir = "%CE1%\\" + std::string(240, 'v'); }),
         "path-too-long", kNoLauncher},
    };
    for (const auto& r : rows) {
        kit::Inspection in = kit::inspectCabinet(mainCab(r.change));
        ASSERT_TRUE(in.problems.empty()) << r.name;
        std::string codes;
        for (const kit::Finding& f : in.findings)
            codes += f.code + ": " + f.message + "\n";
        if (*r.code == 0)
            EXPECT_EQ(codes, "") << r.name;
        else
            EXPECT_NE(codes.find(std::string(r.code) + ":"), std::string::npos) << r.name << "\n"
                                                                                << codes;
        EXPECT_NE(in.hookOutcome.find(r.hook), std::string::npos)
            << r.name << ": " << in.hookOutcome;
        EXPECT_EQ(kit::exitStatus(in.findings), *r.code == 0 ? 0 : 1) << r.name;
    }
}
