// The bundle directory read and planned into a main package: one directory
// (the install directory, string 1 and directory [1]) holds every file; one
// value carries the directory the installer chose to the setup hook.
#include "tools/kit/MainPackage.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "common/SharedTexts.h"
#include "device/DeviceServices.h"
#include "launcher/CabList.h"
#include "setup/SetupHooks.h"
#include "tools/hosttext/HostText.h"
#include "tools/kit/Kit.h"

namespace fs = std::filesystem;

namespace kit {

// The system's names, as the shipped code spells them.
const std::string kHookKey = hosttext::utf8(vorlund::kRegistryKey);
const std::string kHookValue = hosttext::utf8(vorlund::kRegistryValueName);
const std::string kLauncherName = hosttext::utf8(vorlund::kLauncherFileName);
const std::string kListName = hosttext::utf8(vorlund::kCabListName);
const char kSetupDllName[] = "VorlundSetup.dll";

namespace {

// One cabinet folder holds at most this many bytes.
const uint64_t kMaxFolderBytes = 0x7FFF8000;
const size_t kMaxAppName = 40;
const size_t kMaxProvider = 32;

int64_t secondsOf(fs::file_time_type time)
{
    // file_time_type's clock is not the system clock before C++20.
    auto system = std::chrono::system_clock::now() + (time - fs::file_time_type::clock::now());
    return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

// The files the package carries: the three Vorlund files (any letter case)
// and the CABs of the directory, in packing order.
struct Chosen {
    const BundleEntry* launcher = nullptr;
    const BundleEntry* setup = nullptr;
    const BundleEntry* list = nullptr;
    std::vector<const BundleEntry*> installed;  // the launcher, the list, the CABs by name
};

Chosen choose(const BundleDir& bundle, Findings* found)
{
    Chosen c;
    for (const BundleEntry& e : bundle.entries) {
        const BundleEntry** slot = e.directory                                    ? nullptr
                                   : cecab::sameDeviceName(e.name, kLauncherName) ? &c.launcher
                                   : cecab::sameDeviceName(e.name, kSetupDllName) ? &c.setup
                                   : cecab::sameDeviceName(e.name, kListName)     ? &c.list
                                                                                  : nullptr;
        if (slot && !*slot)
            *slot = &e;
    }
    if (!c.launcher)
        found->push_back(blocker(Code::NoLauncher, kLauncherName,
                                 "missing: the hook would find no launcher and delete the CABs"));
    if (!c.setup)
        found->push_back(blocker(Code::NoSetupDll, kSetupDllName,
                                 "missing: nothing would start the launcher after the install"));
    if (!c.list)
        found->push_back(blocker(Code::NoList, kListName,
                                 "missing: the launcher would find no list and delete every CAB"));
    for (const BundleEntry* e : {c.launcher, c.list})
        if (e)
            c.installed.push_back(e);
    for (const BundleEntry& e : bundle.entries)
        if (!e.directory && hosttext::endsWithCab(hosttext::fromHost(e.name)))
            c.installed.push_back(&e);
        else if (&e != c.launcher && &e != c.setup && &e != c.list)
            found->push_back(fileFinding(
                Code::NotPacked, hosttext::printable(e.name),
                e.directory ? "a subdirectory: not packed (a CAB the list names in it "
                              "is missing on the device)"
                            : "neither a CAB nor one of the three Vorlund files: not packed"));
    return c;
}

// Names the device cannot hold, two names that are one there, paths too long.
void checkNames(const Chosen& c, const std::string& installPath, Findings* found)
{
    std::map<std::string, std::string> seen;  // folded name -> name
    for (const BundleEntry* e : c.installed) {
        std::string problem = cecab::nameProblem(e->name);
        std::string key = hosttext::folded(e->name);
        if (!problem.empty())
            found->push_back(blocker(Code::BadFileName, hosttext::printable(e->name), problem));
        else if (!seen.emplace(key, e->name).second)
            found->push_back(blocker(Code::NameClash, e->name,
                                     "the same name as " + seen[key] +
                                         " on the device, where letter case does not count"));
        else if (installPath.size() + 1 + e->name.size() > device::kMaxDevicePath)
            found->push_back(blocker(Code::PathTooLong, e->name,
                                     installPath + "\\" + e->name + " is longer than the " +
                                         std::to_string(device::kMaxDevicePath) +
                                         " characters of a device path"));
    }
}

void checkSize(const Chosen& c, const std::string& bundle, Findings* found)
{
    uint64_t total = c.setup ? c.setup->size : 0;
    for (const BundleEntry* e : c.installed)
        total += e->size;
    if (c.installed.size() > static_cast<size_t>(cecab::kMaxFileNumber))
        found->push_back(
            blocker(Code::TooManyFiles, bundle,
                    std::to_string(c.installed.size()) + " files to install, more than the " +
                        std::to_string(cecab::kMaxFileNumber) + " one package can number"));
    else if (total > kMaxFolderBytes)
        found->push_back(blocker(Code::TooLarge, bundle,
                                 std::to_string(total) +
                                     " bytes, more than one cabinet folder holds (" +
                                     std::to_string(kMaxFolderBytes) + ")"));
}

// The package in the Wizard's layout, the member of each file beside it.
void layOut(const PackageSettings& s, const Chosen& c, PackPlan* plan)
{
    cecab::Layout& l = plan->layout;
    l.processor = s.processor;
    l.min = s.min;
    l.max = s.max;
    l.appName = s.appName;
    l.provider = s.provider;
    l.installDir = s.installDir;
    l.installDirId = 1;
    l.dirs.push_back({1, cecab::kInstallDirMacro, "", false});
    l.members.push_back(
        {cecab::memberName(s.appName, cecab::kHeaderNumber), 0, cecab::kHeaderNumber});
    if (c.setup) {
        l.members.push_back({cecab::memberName(kSetupDllName, cecab::kSetupDllNumber),
                             c.setup->size, cecab::kSetupDllNumber});
        plan->files[cecab::kSetupDllNumber] = c.setup->path;
        plan->newest = c.setup->modified;
    }
    // The .inf lists the setup library last, so that each file's position
    // there, which the Wizard writes as its third field, is its number.
    for (size_t i = 0; i < c.installed.size(); ++i) {
        const BundleEntry* e = c.installed[i];
        uint16_t number = static_cast<uint16_t>(i + 1);
        l.files.push_back({number, 1, number, kPackageFileFlags, e->name, ""});
        l.members.push_back({cecab::memberName(e->name, number), e->size, number});
        plan->files[number] = e->path;
        plan->newest = std::max(plan->newest, e->modified);
    }
    // .000, .999, then the others by descending number, as the installer wants.
    std::reverse(l.members.begin() + (c.setup ? 2 : 1), l.members.end());
    l.values.push_back({cecab::kHkcu, kHookKey, kHookValue, cecab::kRegString, true,
                        std::string(cecab::kInstallDirMacro) + '\0'});
    cecab::resolvePaths(&l);
}

}  // namespace

std::string defaultInstallDir(const std::string& appName)
{
    return "%CE1%\\" + appName;
}

std::string installDirProblem(const std::string& dir)
{
    size_t cut = dir.find('\\');
    std::string first = dir.substr(0, cut);
    std::string number = first.size() > 4 ? first.substr(3, first.size() - 4) : "";
    bool macro = first.size() > 4 && first.front() == '%' && first.back() == '%' &&
                 hosttext::folded(first.substr(1, 2)) == "ce" && !number.empty() &&
                 number[0] != '0' && number.find_first_not_of("0123456789") == number.npos &&
                 cecab::ceDirectory(std::atoi(number.c_str())) != nullptr;
    if (!macro)
        return "it must start with %CEn%, n from 1 to 17 (%CE1% is \\Program Files)";
    if (cut == std::string::npos)
        return "a directory of its own is needed below " + first;
    for (size_t at = cut + 1;;) {
        size_t next = dir.find('\\', at);
        std::string part = dir.substr(at, next == std::string::npos ? next : next - at);
        std::string problem = cecab::nameProblem(part);
        if (problem.empty() && part.find('%') != std::string::npos)
            problem = "a '%', which the installer reads as the start of a macro";
        if (!problem.empty())
            return "\"" + hosttext::printable(part) + "\": " + problem;
        if (next == std::string::npos)
            return "";
        at = next + 1;
    }
}

BundleDir readBundleDir(const std::string& path, const std::vector<std::string>& outputs)
{
    BundleDir bundle;
    bundle.path = path;
    std::error_code ec;
    if (!fs::is_directory(path, ec))
        throw InputError(path, "not a directory");
    // The outputs that exist, by identity: an entry that is one of them is the
    // same file under any name.
    std::vector<std::pair<dev_t, ino_t>> outputIds;
    for (const std::string& o : outputs) {
        struct stat s;
        if (::stat(o.c_str(), &s) == 0)
            outputIds.emplace_back(s.st_dev, s.st_ino);
    }
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        BundleEntry e;
        e.name = it->path().filename().string();
        e.path = it->path().string();
        e.directory = it->is_directory(ec);
        if (!e.directory) {
            e.size = it->file_size(ec);
            e.modified = secondsOf(it->last_write_time(ec));
        }
        if (ec)
            throw InputError(e.path, "cannot be read: " + ec.message());
        struct stat s;
        bool output =
            !outputIds.empty() && ::stat(e.path.c_str(), &s) == 0 &&
            std::count(outputIds.begin(), outputIds.end(), std::make_pair(s.st_dev, s.st_ino)) != 0;
        if (output)
            bundle.findings.push_back(fileFinding(Code::NotPacked, hosttext::printable(e.name),
                                                  "what this pack writes: never packed into "
                                                  "itself"));
        else
            bundle.entries.push_back(e);
    }
    if (ec)
        throw InputError(path, "cannot be read: " + ec.message());
    std::sort(bundle.entries.begin(), bundle.entries.end(),
              [](const BundleEntry& a, const BundleEntry& b) { return a.name < b.name; });
    return bundle;
}

PackPlan planPackage(const BundleDir& bundle, const PackageSettings& s)
{
    PackPlan plan;
    Findings& found = plan.findings;
    found = bundle.findings;
    if (s.appName.size() > kMaxAppName)
        found.push_back(fileFinding(Code::AppNameLong, "--app-name",
                                    "over " + std::to_string(kMaxAppName) +
                                        " characters: the device cuts it short"));
    if (s.provider.size() > kMaxProvider)
        found.push_back(fileFinding(Code::ProviderLong, "--provider",
                                    "over " + std::to_string(kMaxProvider) +
                                        " characters: the device cuts it short"));
    Chosen chosen = choose(bundle, &found);
    layOut(s, chosen, &plan);
    checkNames(chosen, plan.layout.installPath, &found);
    checkSize(chosen, hosttext::printable(bundle.path), &found);
    std::string header, error;
    if (!cecab::encodeLayout(plan.layout, &header, &error))
        found.push_back(blocker(Code::HeaderLimit, "install header", error));
    plan.layout.members.front().size = header.size();
    return plan;
}

}  // namespace kit
