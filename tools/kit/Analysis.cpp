// The analysis, and the findings of a package's shape: the install directory
// entry, refusals, members, copy flags, the two programs, the hook's value.
#include "tools/kit/Analysis.h"

#include <algorithm>
#include <map>

#include "tools/hosttext/HostText.h"
#include "tools/kit/MainPackage.h"
#include "tools/kit/PeChecks.h"

namespace kit {

namespace {

// The programs are small; anything larger is not what we think it is.
const uint64_t kMaxProgramBytes = 64ull << 20;
const char kHeaderWhere[] = "install header";

void add(Findings* to, const Findings& from)
{
    to->insert(to->end(), from.begin(), from.end());
}

std::string memberText(const Package& p, int number)
{
    const cecab::LayoutMember* m = cecab::memberOf(p.layout(), number);
    return m ? headerText(m->name) : "." + std::to_string(number);
}

// String 1 names the install directory; the Wizard always has a directory
// entry of exactly [1] for it.
void installDirFindings(const cecab::Layout& l, Findings* found)
{
    if (l.installDirId != 0)
        return;
    found->push_back(fileFinding(
        Code::InstallDir, kHeaderWhere,
        l.installDir.empty()
            ? "the header has no string 1, where the Wizard keeps the install directory: "
              "%InstallDir% names nothing known"
            : "string 1 is " + headerText(l.installDir) +
                  ", but no directory entry is exactly [1], as the Wizard writes the install "
                  "directory: whether the device takes %InstallDir% from string 1 is not "
                  "settled, so the hook may be pointed elsewhere"));
}

void memberFindings(const Package& p, Findings* found)
{
    const cecab::Layout& l = p.layout();
    if (!l.members.empty() && l.members.front().number != cecab::kHeaderNumber)
        found->push_back(fileFinding(Code::HeaderNotFirst, headerText(l.members.front().name),
                                     "the first member, not the install header (.000): the "
                                     "device's installer expects the header first"));
    std::map<int, std::string> first;
    std::map<int, bool> installed = {{cecab::kHeaderNumber, true}, {cecab::kSetupDllNumber, true}};
    for (const cecab::LayoutFile& f : l.files)
        installed[f.number] = true;
    for (const cecab::LayoutMember& m : l.members) {
        if (m.number < 0)
            continue;  // a newer Wizard's _setup.xml, which CE 5's installer does not read
        if (!first.emplace(m.number, m.name).second)
            found->push_back(fileFinding(Code::DuplicateMember, headerText(m.name),
                                         "has the number of " + headerText(first[m.number]) +
                                             ": which of the two the device takes is not known"));
        else if (!installed.count(m.number))
            found->push_back(fileFinding(Code::UnusedMember, headerText(m.name),
                                         "the header never installs it"));
    }
    for (const cecab::LayoutFile& f : l.files)
        if (!p.has(f.number))
            found->push_back(fileFinding(Code::MissingMember, headerText(f.name),
                                         "the header installs file " + std::to_string(f.number) +
                                             ", but the cabinet has no member with that number: "
                                             "the installer has nothing to copy"));
}

void fileFindings(const cecab::Layout& l, Findings* found)
{
    for (const cecab::LayoutDir& d : l.dirs)
        if (!d.known)
            found->push_back(fileFinding(Code::UnknownMacro, "directory " + std::to_string(d.id),
                                         headerText(d.written) +
                                             " starts with a %CEn% outside 1..17: where it "
                                             "lands is unknown, and nothing is put there"));
    for (const cecab::LayoutFile& f : l.files) {
        bool launcher = cecab::sameDeviceName(f.name, kLauncherName);
        bool ours = launcher || cecab::sameDeviceName(f.name, kListName);
        std::string name = headerText(f.name);
        if (f.flags & cecab::kFileOnlyIfExists)
            found->push_back(fileFinding(Code::OnlyIfExists, name,
                                         "copied only over an existing file (flag 0x400): a "
                                         "first install does not copy it"));
        if (ours && (f.flags & cecab::kFileNoOverwrite))
            found->push_back(fileFinding(Code::NoOverwrite, name,
                                         "never overwritten (flag 0x10): installed again, the "
                                         "device keeps the old one"));
        if (launcher && (f.flags & cecab::kFileSelfRegister))
            found->push_back(fileFinding(Code::SelfRegister, name,
                                         "marked for self-registration: the installer loads the "
                                         "program as a DLL to register it, which fails"));
    }
}

void programFindings(const Package& p, Findings* found)
{
    if (p.has(cecab::kSetupDllNumber))
        checkSetupLibrary(p.read(cecab::kSetupDllNumber, kMaxProgramBytes),
                          memberText(p, cecab::kSetupDllNumber), found);
    for (const cecab::LayoutFile& f : p.layout().files) {
        if (cecab::sameDeviceName(f.name, kLauncherName) && p.has(f.number)) {
            checkLauncher(p.read(f.number, kMaxProgramBytes), memberText(p, f.number), found);
            return;
        }
    }
}

// The value the hook reads, as the header writes it.
void valueFindings(const cecab::Layout& l, const Result& r, Findings* found)
{
    const std::string where = "HKCU\\" + kHookKey;
    for (const cecab::LayoutValue& v : l.values) {
        if (v.root != cecab::kHkcu || !cecab::sameDeviceName(v.key, kHookKey) ||
            !cecab::sameDeviceName(v.name, kHookValue))
            continue;
        uint32_t type = v.typeFlags & cecab::kRegTypeMask;
        std::vector<std::string> strings = cecab::splitStrings(v.data);
        std::string raw = strings.empty() ? "" : strings.front();
        bool installDir = hosttext::folded(raw).find("%installdir%") != std::string::npos;
        if (type == cecab::kRegMultiString)
            found->push_back(
                fileFinding(Code::ValueType, where,
                            kHookValue + " is a multi-string: the hook takes its first string"));
        else if (type != cecab::kRegString)
            found->push_back(fileFinding(Code::ValueType, where,
                                         kHookValue + " is a " +
                                             (type == cecab::kRegDword ? "DWORD" : "binary") +
                                             " value: the hook reads its bytes as a path"));
        if (installDir && !v.substitute)
            found->push_back(fileFinding(Code::NoSubstitution, where,
                                         kHookValue +
                                             " holds %InstallDir%, but the header does not ask "
                                             "the installer to substitute it: the hook reads "
                                             "it literally"));
        if (!installDir && r.launcherRan)
            found->push_back(fileFinding(Code::HardCodedDir, where,
                                         kHookValue + " is the literal path " + headerText(raw) +
                                             ": installed to a storage card, the launcher lands "
                                             "elsewhere and the hook does not find it"));
        if (v.typeFlags & cecab::kRegNoClobber)
            found->push_back(fileFinding(Code::ValueKept, where,
                                         kHookValue +
                                             " is not overwritten (flag 0x2): installed again "
                                             "elsewhere, the hook reads the old directory"));
    }
}

}  // namespace

std::string headerText(const std::string& ansi)
{
    // Printable ASCII, not empty and without white space at either end, is
    // shown as it is: the common case, in headers of many thousand entries.
    auto plain = [](char c) { return c > 0x20 && c < 0x7F; };
    if (!ansi.empty() && plain(ansi.front()) && plain(ansi.back()) &&
        std::all_of(ansi.begin(), ansi.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
        return ansi;
    return shown(hosttext::fromAnsi(ansi));
}

Findings shapeFindings(const Package& p, const Result& r, const Target& target)
{
    const cecab::Layout& l = p.layout();
    Findings found;
    installDirFindings(l, &found);
    for (Finding f : refusals(l, target, kHeaderWhere)) {
        f.message += ": the main package is not installed at all";
        found.push_back(f);
    }
    memberFindings(p, &found);
    fileFindings(l, &found);
    programFindings(p, &found);
    valueFindings(l, r, &found);
    return found;
}

Analysis analysePackage(const Package& package, const Options& options, const Findings& planned)
{
    Analysis a;
    a.layout = layoutOfPackage(package);
    a.result = rehearse(options, a.layout);
    Findings all = planned;
    add(&all, shapeFindings(package, a.result, options.device));
    add(&all, a.result.findings);
    std::set<int> nameLines;
    for (const ListLine& l : a.result.lines)
        nameLines.insert(l.line);
    arrange(&all, nameLines);
    a.result.findings = all;
    return a;
}

Analysis analyseDirectory(const std::string& directory, const std::wstring& deviceDirectory,
                          const Options& options)
{
    Analysis a;
    a.layout = layoutOfDirectory(directory, deviceDirectory);
    a.result = rehearse(options, a.layout);
    return a;
}

}  // namespace kit
