// Inspection of a main CAB: the header decoded and resolved, then the setup
// hook's contract followed step by step as Install_Exit takes it. The list
// is read by the launcher's own reader on the simulated device.
#include "tools/kit/Inspect.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "device/sim/SimDevice.h"
#include "launcher/CabList.h"
#include "launcher/LauncherSequence.h"
#include "setup/SetupHooks.h"
#include "tools/cecab/Cabinet.h"
#include "tools/cecab/CeFiles.h"
#include "tools/cecab/MainPackage.h"
#include "tools/hosttext/HostText.h"
#include "tools/kit/PeChecks.h"

namespace kit {

namespace {

// Header, setup library, launcher and list are small; the CABs are only listed.
const uint64_t kMaxReadBytes = 16ull << 20;
const size_t kMaxDevicePath = 259;

// The messages the device shows, in quotes for running text.
std::string quoted(const wchar_t* message)
{
    return "\"" + hosttext::utf8(message) + "\"";
}
const std::string kNoKeyMessage = quoted(vorlund::kNoKeyMessage);
const std::string kNoValueMessage = quoted(vorlund::kNoValueMessage);
const std::string kNoLauncherMessage = quoted(vorlund::kNoLauncherMessage);
const std::string kNoListMessage = quoted(vorlund::kNoListMessage);

bool containsInstallDir(const std::string& text)
{
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("%installdir%") != std::string::npos;
}

bool endsWithCab(const std::string& name)
{
    return name.size() > 4 && cecab::sameDeviceName(name.substr(name.size() - 4), ".cab");
}

std::string parentOf(const std::string& path)
{
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string typeName(uint32_t flags)
{
    switch (flags & cecab::kRegTypeMask) {
    case cecab::kRegString:
        return "string";
    case cecab::kRegMultiString:
        return "multi-string";
    case cecab::kRegDword:
        return "dword";
    }
    return "binary";
}

std::string shownData(const cecab::HeaderRegValue& v)
{
    uint32_t type = v.typeFlags & cecab::kRegTypeMask;
    if (type == cecab::kRegDword && v.data.size() == 4) {
        uint32_t n = 0;
        for (int i = 3; i >= 0; --i)
            n = n << 8 | static_cast<unsigned char>(v.data[i]);
        return std::to_string(n);
    }
    if (type == cecab::kRegString || type == cecab::kRegMultiString) {
        std::string out;
        for (const std::string& s : cecab::splitStrings(v.data))
            out += (out.empty() ? "\"" : ", \"") + s + "\"";
        return out.empty() ? "\"\"" : out;
    }
    std::string hex;
    char byte[4];
    for (unsigned char c : v.data) {
        std::snprintf(byte, sizeof byte, "%02X", c);
        hex += byte;
    }
    return hex;
}

// The launcher's view of its list: the names its reader hands out, and
// whether its installable-file test finds each beside it. Every file of the
// package is laid out on the simulated device where it lands.
std::vector<std::pair<std::string, bool>> readList(const std::vector<InspectedFile>& files,
                                                   const std::string& listPath,
                                                   const std::string& list,
                                                   const std::string& directory)
{
    sim::Device& dev = sim::current();
    dev.reset();
    for (const InspectedFile& f : files)
        dev.addFile(hosttext::fromAnsi(f.path), f.path == listPath ? list : std::string());
    std::wstring dir = hosttext::fromAnsi(directory + "\\");
    std::vector<std::pair<std::string, bool>> names;
    vorlund::CabListReader reader;
    if (!vorlund::openList(&reader, hosttext::fromAnsi(listPath).c_str()))
        return names;
    wchar_t cabPath[device::kMaxLongPath];
    while (vorlund::nextBlock(&reader)) {
        for (const wchar_t* name = vorlund::nextName(&reader); name;
             name = vorlund::nextName(&reader)) {
            bool installable = vorlund::buildCabPath(cabPath, dir.c_str(), name) &&
                               vorlund::isInstallableFile(cabPath);
            names.emplace_back(hosttext::utf8(name), installable);
        }
        if (!vorlund::blockWasFull(&reader))
            break;
    }
    vorlund::closeList(&reader);
    return names;
}

}  // namespace

Inspection inspectCabinet(const std::string& cabinet)
{
    Inspection in;
    Findings& found = in.findings;
    std::vector<cecab::CabinetEntry> entries;
    std::string error;
    auto headerOrSetup = [](const std::string& name) {
        int n = cecab::memberNumber(name);
        return n == cecab::kHeaderNumber || n == cecab::kSetupDllNumber;
    };
    if (!cecab::readCabinet(cabinet, headerOrSetup, kMaxReadBytes, &entries, &error))
        throw InputError(error);
    std::map<int, const cecab::CabinetEntry*> byNumber;
    for (const cecab::CabinetEntry& e : entries)
        byNumber.emplace(cecab::memberNumber(e.name), &e);
    if (!byNumber.count(cecab::kHeaderNumber))
        throw InputError("no install header (a .000 member): not a CE package");
    const std::string& head = byNumber[cecab::kHeaderNumber]->data;
    in.header = cecab::decodeHeader(reinterpret_cast<const uint8_t*>(head.data()), head.size(),
                                    &in.problems);
    if (!in.problems.empty())
        return in;
    const cecab::InstallHeader& h = in.header;

    // Directories: %CEn% as on a handheld PC; the first is %InstallDir%.
    std::map<uint16_t, std::string> dirPaths;
    for (const cecab::HeaderDir& d : h.dirs) {
        InspectedDir dir{d.id, cecab::joinParts(h, d.parts), ""};
        int unresolved = 0;
        dir.path = dir.written.rfind('%', 0) == 0
                       ? cecab::expandMacros(dir.written, "", &unresolved)
                       : "\\" + dir.written;
        if (unresolved)
            found.push_back(warn(
                "unknown-macro", "DIRS id " + std::to_string(d.id),
                dir.written + " starts with a %CEn% outside 1..17: where it lands is unknown"));
        dirPaths[d.id] = dir.path;
        in.dirs.push_back(dir);
    }
    in.installPath = in.dirs.empty() ? "" : in.dirs.front().path;

    for (const cecab::HeaderFile& f : h.files) {
        InspectedFile file{f.id, "", 0, f.flags, f.name, dirPaths[f.dirId] + "\\" + f.name};
        if (byNumber.count(f.id)) {
            file.member = byNumber[f.id]->name;
            file.size = byNumber[f.id]->size;
        } else {
            found.push_back(warn("missing-member", f.name,
                                 "the header installs file " + std::to_string(f.id) +
                                     ", but the cabinet has no member with that number"));
        }
        in.files.push_back(file);
    }
    for (const auto& [number, entry] : byNumber) {
        bool used = number == cecab::kHeaderNumber || number == cecab::kSetupDllNumber ||
                    std::any_of(h.files.begin(), h.files.end(),
                                [&](const auto& f) { return f.id == number; });
        if (!used)
            found.push_back(
                note("unused-member", entry->name, "a member the header never installs"));
    }
    for (const cecab::HeaderRegValue& v : h.regValues) {
        const cecab::HeaderHive* hive = cecab::findHive(h, v.hiveId);
        const char* roots[] = {"?", "HKCR", "HKCU", "HKLM", "HKU"};
        InspectedValue value{std::string(roots[hive->root <= 4 ? hive->root : 0]) + "\\" +
                                 cecab::joinParts(h, hive->parts),
                             v.name,
                             typeName(v.typeFlags),
                             shownData(v),
                             v.substitute,
                             ""};
        std::vector<std::string> strings = cecab::splitStrings(v.data);
        std::string first = strings.empty() ? "" : strings.front();
        value.resolved = v.substitute ? cecab::expandMacros(first, in.installPath) : first;
        in.values.push_back(value);
    }

    // The launcher and the list: found by name, read for the checks below.
    const InspectedFile* launcher = nullptr;
    for (const InspectedFile& f : in.files) {
        if (cecab::sameDeviceName(f.name, cecab::kLauncherName) && !launcher)
            launcher = &f;
    }
    std::string launcherDir = launcher ? parentOf(launcher->path) : "";
    // Without a launcher, the list of the install directory is read all the
    // same, for the rehearsal's display of it.
    const InspectedFile* list = nullptr;
    const InspectedFile* shownList = nullptr;
    for (const InspectedFile& f : in.files) {
        std::string dir = launcher ? launcherDir : in.installPath;
        if (cecab::sameDeviceName(f.path, dir + "\\" + cecab::kListName))
            (launcher ? list : shownList) = &f;
    }
    std::vector<cecab::CabinetEntry> programs;
    auto launcherOrList = [&](const std::string& name) {
        return (launcher && name == launcher->member) || (list && name == list->member) ||
               (shownList && name == shownList->member);
    };
    if (!cecab::readCabinet(cabinet, launcherOrList, kMaxReadBytes, &programs, &error))
        throw InputError(error);
    auto bytesOf = [&](const InspectedFile* f) {
        for (const cecab::CabinetEntry& e : programs) {
            if (f && e.extracted && e.name == f->member)
                return e.data;
        }
        return std::string();
    };

    // The setup library and what Install_Exit does with the registry.
    if (!byNumber.count(cecab::kSetupDllNumber)) {
        found.push_back(
            warn("no-setup-dll", "setup library",
                 "no .999 member: the installer calls no hook, the launcher never starts and "
                 "the CABs stay uninstalled"));
        in.hookOutcome = "never runs: there is no setup library";
    } else {
        const cecab::CabinetEntry* setup = byNumber[cecab::kSetupDllNumber];
        in.setupMember = setup->name;
        checkSetupLibrary(setup->data, setup->name, &found, &in.hookExports);
    }
    const cecab::HeaderRegValue* keyed = nullptr;
    const cecab::HeaderRegValue* value = nullptr;
    for (const cecab::HeaderRegValue& v : h.regValues) {
        const cecab::HeaderHive* hive = cecab::findHive(h, v.hiveId);
        if (hive->root == cecab::kHkcu &&
            cecab::sameDeviceName(cecab::joinParts(h, hive->parts), cecab::kHookKey)) {
            keyed = &v;
            if (cecab::sameDeviceName(v.name, cecab::kHookValue))
                value = &v;
        }
    }
    const std::string where = std::string("HKCU\\") + cecab::kHookKey;
    std::string hookSays;
    if (!keyed) {
        found.push_back(
            warn("no-key", where,
                 std::string("the package writes nothing there: the hook shows ") + kNoKeyMessage));
        hookSays = std::string("shows ") + kNoKeyMessage;
    } else if (!value) {
        found.push_back(warn("no-value", where,
                             std::string("the package writes no value Default: the hook shows ") +
                                 kNoValueMessage));
        hookSays = std::string("shows ") + kNoValueMessage;
    } else {
        uint32_t type = value->typeFlags & cecab::kRegTypeMask;
        bool text = type == cecab::kRegString || type == cecab::kRegMultiString;
        std::vector<std::string> strings = cecab::splitStrings(value->data);
        std::string raw = strings.empty() ? "" : strings.front();
        std::string dir = value->substitute ? cecab::expandMacros(raw, in.installPath) : raw;
        if (type == cecab::kRegMultiString)
            found.push_back(warn("value-type", where,
                                 "Default is a multi-string: the hook takes its first string"));
        else if (!text)
            found.push_back(
                warn("value-type", where,
                     "Default is a " + typeName(value->typeFlags) +
                         " value: the hook reads its bytes as a path and finds no launcher"));
        if (!value->substitute && containsInstallDir(raw))
            found.push_back(
                warn("no-substitution", where,
                     "Default holds %InstallDir%, but the header does not ask the installer to "
                     "substitute it: the hook reads it literally"));
        std::string trimmed =
            !dir.empty() && dir.back() == '\\' ? dir.substr(0, dir.size() - 1) : dir;
        std::string launcherPath = trimmed + "\\" + cecab::kLauncherName;
        bool fits = launcherPath.size() <= kMaxDevicePath;
        if (text && launcher && fits && cecab::sameDeviceName(launcherPath, launcher->path)) {
            hookSays = "shows its notice and starts " + launcher->path;
            if (!(value->substitute && containsInstallDir(raw)))
                found.push_back(
                    warn("hard-coded-dir", where,
                         "Default is the literal path " + raw +
                             ": installed to a storage card, the launcher lands elsewhere and the "
                             "hook shows " +
                             kNoLauncherMessage));
        } else {
            std::string sweep =
                trimmed.empty() || !text ? "" : ", then deletes the CABs in " + trimmed;
            hookSays = std::string("shows ") + kNoLauncherMessage + sweep;
            if (!launcher)
                found.push_back(warn("no-launcher", cecab::kLauncherName,
                                     "the package installs no launcher: the hook " + hookSays));
            else if (text && !fits)
                found.push_back(warn("path-too-long", where,
                                     launcherPath + " is longer than " +
                                         std::to_string(kMaxDevicePath) + " characters: the hook " +
                                         hookSays));
            else if (text)
                found.push_back(warn(
                    "wrong-dir", where,
                    "Default names " + (dir.empty() ? std::string("no directory") : dir) +
                        ", but the launcher lands in " + launcherDir + ": the hook " + hookSays));
        }
    }
    if (in.hookOutcome.empty())
        in.hookOutcome = hookSays;

    // The launcher, its list and the CABs beside it.
    if (launcher && !launcher->member.empty()) {
        Findings programFindings;
        checkLauncher(bytesOf(launcher), launcher->member, &programFindings);
        for (Finding& f : programFindings)
            f.blocking = false;
        found.insert(found.end(), programFindings.begin(), programFindings.end());
    }
    in.listBytes = bytesOf(list ? list : shownList);
    std::vector<std::string> listedPaths;
    if (launcher && !list) {
        found.push_back(warn("no-list", cecab::kListName,
                             "none beside the launcher: it shows " + std::string(kNoListMessage) +
                                 " and deletes every CAB of " + launcherDir));
    } else if (list) {
        for (const auto& [name, installable] :
             readList(in.files, list->path, in.listBytes, launcherDir)) {
            in.listed.push_back(name);
            if (installable)
                listedPaths.push_back(launcherDir + "\\" + name);
            else
                found.push_back(warn("listed-missing", cecab::kListName,
                                     "names " + name +
                                         ", which the package does not install beside the "
                                         "launcher: the launcher skips it without a word"));
        }
    }
    for (const InspectedFile& f : in.files) {
        if (!endsWithCab(f.name) || !launcher)
            continue;
        bool listed =
            std::any_of(listedPaths.begin(), listedPaths.end(),
                        [&](const std::string& p) { return cecab::sameDeviceName(p, f.path); });
        if (!cecab::sameDeviceName(parentOf(f.path), launcherDir))
            found.push_back(note("cab-elsewhere", f.name,
                                 "lands in " + parentOf(f.path) +
                                     ", not beside the launcher: never installed "
                                     "by it, never swept"));
        else if (!listed && list)
            found.push_back(
                warn("unlisted", f.name,
                     "not named in Vorlund.ini: the launcher's sweep deletes it without "
                     "installing it"));
    }
    for (Finding& f : found)
        f.blocking = false;
    return in;
}

}  // namespace kit
