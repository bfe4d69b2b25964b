// Reading the bundle directory and linting it into a main package.
#include "tools/kit/Bundle.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <map>
#include <system_error>

#include "tools/hosttext/HostText.h"
#include "tools/kit/PeChecks.h"
#include "tools/kit/Rehearsal.h"

namespace fs = std::filesystem;

namespace kit {

namespace {

// The programs are small; anything larger is not what we think it is.
const uint64_t kMaxProgramBytes = 64ull << 20;
// One cabinet folder holds at most this many bytes.
const uint64_t kMaxFolderBytes = 0x7FFF8000;
// MAX_PATH less the terminator.
const size_t kMaxDevicePath = 259;
const size_t kMaxAppName = 40;
const size_t kMaxProvider = 32;

bool endsWithCab(const std::string& name)
{
    return name.size() > 4 && cecab::sameDeviceName(name.substr(name.size() - 4), ".cab");
}

int64_t secondsOf(fs::file_time_type time)
{
    // file_time_type's clock is not the system clock before C++20.
    auto system = std::chrono::system_clock::now() + (time - fs::file_time_type::clock::now());
    return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

}  // namespace

BundleDir readBundleDir(const std::string& path)
{
    BundleDir bundle;
    bundle.path = path;
    std::error_code ec;
    if (!fs::is_directory(path, ec))
        throw InputError(path + " is not a directory");
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
            throw InputError("cannot read " + e.path + ": " + ec.message());
        bundle.entries.push_back(e);
    }
    if (ec)
        throw InputError("cannot read directory " + path + ": " + ec.message());
    std::sort(bundle.entries.begin(), bundle.entries.end(),
              [](const BundleEntry& a, const BundleEntry& b) { return a.name < b.name; });
    return bundle;
}

std::string resolveInstallDir(const std::string& installDir)
{
    return cecab::expandMacros(installDir, "");
}

void appendRehearsalFindings(const BundleDir& bundle, const std::string& installPath,
                             Findings* findings)
{
    // The device as the package leaves it: what pack packs, in the install directory.
    rehearsal::Layout layout;
    layout.name = bundle.path;
    layout.directory = hosttext::fromAnsi(installPath + "\\");
    for (const BundleEntry& e : bundle.entries) {
        bool packed = !e.directory &&
                      (endsWithCab(e.name) || cecab::sameDeviceName(e.name, cecab::kLauncherName) ||
                       cecab::sameDeviceName(e.name, cecab::kListName));
        if (!packed || !cecab::nameProblem(e.name).empty())
            continue;
        rehearsal::Entry entry;
        entry.shown = e.name;
        entry.path = layout.directory + hosttext::fromAnsi(e.name);
        entry.source = e.path;
        layout.entries.push_back(entry);
    }
    rehearsal::Result r = rehearsal::rehearse(rehearsal::Options(), layout);
    for (const rehearsal::Finding& f : r.findings) {
        bool said = f.code == "stand-in" || f.code == "no-list" || f.code == "name-clash" ||
                    (f.code == "path-too-long" && f.line == 0);
        if (!said)
            findings->push_back(f.warning ? warn(f.code, rehearsal::where(r, f), f.message)
                                          : note(f.code, rehearsal::where(r, f), f.message));
    }
}

PackPlan planPackage(const BundleDir& bundle, const PackageSettings& s)
{
    PackPlan plan;
    Findings& found = plan.findings;
    cecab::MainPackage& p = plan.package;
    p.appName = s.appName;
    p.provider = s.provider;
    p.processor = s.processor;
    p.min = s.min;
    p.max = s.max;
    p.installDir = s.installDir;
    if (s.appName.size() > kMaxAppName)
        found.push_back(
            warn("app-name-long", "--app-name",
                 "over " + std::to_string(kMaxAppName) + " characters: the device cuts it short"));
    if (s.provider.size() > kMaxProvider)
        found.push_back(
            warn("provider-long", "--provider",
                 "over " + std::to_string(kMaxProvider) + " characters: the device cuts it short"));

    // The three named files, in whatever letter case the bundle has them.
    auto named = [&](const std::string& name) -> const BundleEntry* {
        for (const BundleEntry& e : bundle.entries) {
            if (!e.directory && cecab::sameDeviceName(e.name, name))
                return &e;
        }
        return nullptr;
    };
    const BundleEntry* launcher = named(cecab::kLauncherName);
    const BundleEntry* setup = named(cecab::kSetupDllName);
    const BundleEntry* list = named(cecab::kListName);
    if (!launcher)
        found.push_back(
            blocker("no-launcher", cecab::kLauncherName,
                    "missing: the hook would show \"Installation Failed. Error: Cannot locate "
                    "registry launcher: Vorlund.exe.\" and delete the CABs"));
    else
        checkLauncher(readFile(launcher->path, kMaxProgramBytes), launcher->name, &found);
    if (!setup)
        found.push_back(blocker("no-setup-dll", cecab::kSetupDllName,
                                "missing: nothing would start the launcher after the install"));
    else
        checkSetupLibrary(readFile(setup->path, kMaxProgramBytes), setup->name, &found);
    if (!list)
        found.push_back(
            blocker("no-list", cecab::kListName,
                    "missing: the launcher would show \"Installation Failed. Error: Cannot "
                    "locate CAB file list: Vorlund.ini.\" and delete every CAB"));
    if (setup)
        p.setupDll = {cecab::kSetupDllName, "", setup->path};

    // Installed files: the launcher, the list, then the CABs by name.
    std::vector<const BundleEntry*> files;
    for (const BundleEntry* e : {launcher, list}) {
        if (e)
            files.push_back(e);
    }
    for (const BundleEntry& e : bundle.entries) {
        if (!e.directory && endsWithCab(e.name)) {
            files.push_back(&e);
        } else if (&e != launcher && &e != setup && &e != list) {
            found.push_back(
                note("not-packed", e.name,
                     e.directory ? "a subdirectory: not packed (a CAB the list names in it "
                                   "is missing on the device)"
                                 : "neither a CAB nor one of the three Vorlund files: not packed"));
        }
    }

    std::string directory = resolveInstallDir(s.installDir);
    std::map<std::string, std::string> seen;  // lower-case name -> name
    uint64_t total = 0;
    for (const BundleEntry* e : files) {
        total += e->size;
        plan.newest = std::max(plan.newest, e->modified);
        p.files.push_back({e->name, "", e->path});
        std::string problem = cecab::nameProblem(e->name);
        std::string key = e->name;
        for (char& c : key)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!problem.empty())
            found.push_back(blocker("bad-file-name", e->name, problem));
        else if (!seen.emplace(key, e->name).second)
            found.push_back(blocker("name-clash", e->name,
                                    "the same name as " + seen[key] +
                                        " on the device, where letter case "
                                        "does not count"));
        else if (directory.size() + 1 + e->name.size() > kMaxDevicePath)
            found.push_back(blocker("path-too-long", e->name,
                                    directory + "\\" + e->name + " is longer than the " +
                                        std::to_string(kMaxDevicePath) +
                                        " characters of a device path"));
    }
    if (setup) {
        total += setup->size;
        plan.newest = std::max(plan.newest, setup->modified);
    }
    if (p.files.size() > static_cast<size_t>(cecab::kMaxFileNumber))
        found.push_back(
            blocker("too-many-files", bundle.path,
                    std::to_string(p.files.size()) + " files to install, more than the " +
                        std::to_string(cecab::kMaxFileNumber) + " one package can number"));
    else if (total > kMaxFolderBytes)
        found.push_back(blocker("too-large", bundle.path,
                                std::to_string(total) +
                                    " bytes, more than one cabinet folder holds (" +
                                    std::to_string(kMaxFolderBytes) + ")"));
    else {
        cecab::InstallHeader header;
        std::vector<cecab::Member> members;
        std::string error;
        if (!cecab::buildFileSet(p, &header, &members, &error))
            found.push_back(blocker("header-limit", "install header", error));
    }
    if (list)
        appendRehearsalFindings(bundle, directory, &found);
    return plan;
}

}  // namespace kit
