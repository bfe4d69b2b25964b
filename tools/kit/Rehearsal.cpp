// One rehearsal on a simulated device of its own: the layout loaded, the
// listed CABs checked, the shipped hook and launcher run, their record read
// back into events and findings; every decision is the shipped code's.
#include "tools/kit/Rehearsal.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "base/WideText.h"
#include "common/SharedTexts.h"
#include "launcher/CabList.h"
#include "launcher/LauncherSequence.h"
#include "setup/SetupHooks.h"
#include "tools/hosttext/HostText.h"
#include "tools/kit/Kit.h"
#include "tools/kit/MainPackage.h"
#include "tools/kit/RehearsalTimeline.h"

namespace kit {

namespace {

using device::kAttrDirectory;
using device::kAttrHidden;
using device::kAttrReadOnly;
using device::kAttrSystem;
using hosttext::utf8;
using vorlund::kCabExtension;
using vorlund::kCabListName;
using vorlund::kInstallerProgram;
using vorlund::kInstallerWindowClass;
using vorlund::kLauncherFileName;

// The main package's installer closes this long after it started, once the
// hook has returned; the launcher waits for it.
const uint64_t kMainInstallerCloseMs = 2000;
const uintptr_t kModule = 0x10000;
// A list larger than this is not a list.
const uint64_t kMaxListBytes = 64ull << 20;

std::wstring deviceRelative(const std::string& name)
{
    std::wstring text = hosttext::fromHost(name);
    std::replace(text.begin(), text.end(), L'/', L'\\');
    return text;
}

bool isCab(const std::wstring& path)
{
    return vorlund::endsWithIgnoringCase(path.c_str(), kCabExtension);
}

// One rehearsal: its device, the stand-in programs and what they saw.
class Run {
public:
    Run(const Options& o, const DeviceLayout& l)
        : o_(o), l_(l), dir_(l.directory), fromHook_(o.fromHook || l.package != nullptr),
          use_(device_)
    {}
    Result play();

private:
    void load(Findings* findings);
    void loadEntries(Findings* findings);
    void loadList();
    void installStandIns(Findings* findings);
    void rejectAsked(const std::vector<ListLine>& lines);
    void start(Result* r);
    void judge(Result* r);
    void judgeRunWide(Result* r, int failures, bool* swept);
    void judgeLines(Result* r, int failures);
    void judgeFiles(Result* r, bool swept);
    Finding hookFailure() const;
    // The device's form of a path, worked out once per path: the judgement
    // asks for the same paths again and again.
    const std::wstring& canonical(const std::wstring& path) const
    {
        auto known = canonical_.find(path);
        if (known == canonical_.end())
            known = canonical_.emplace(path, device_.canonical(path)).first;
        return known->second;
    }

    const Options& o_;
    const DeviceLayout& l_;
    const std::wstring& dir_;
    bool fromHook_;
    sim::Device device_;
    sim::UseDevice use_;  // device_ behind the DeviceServices functions
    std::wstring launcherPath_;
    std::set<std::wstring> asked_;    // canonical paths the user has the installer reject
    std::set<std::wstring> refused_;  // canonical paths the target device refuses
    std::vector<InstallerRun> runs_;
    bool launcherStarted_ = false;
    size_t hookEventsEnd_ = 0;                 // the device's events before this one are the hook's
    int readsBefore_ = 0;                      // the list reads before the run
    std::unordered_set<std::wstring> loaded_;  // paths of the layout's entries on the device
    mutable std::unordered_map<std::wstring, std::wstring> canonical_;
};

// Loads the layout and the stand-ins into the rehearsal's device.
void Run::load(Findings* findings)
{
    device_.addDirectory(L"\\windows");
    device_.addDirectory(dir_);
    loadEntries(findings);
    loadList();
    for (const auto& a : o_.attributes) {
        std::wstring path = dir_ + deviceRelative(a.first);
        const sim::FileNode* n = device_.node(path);
        if (n == nullptr)
            throw UsageError("no entry " + hosttext::printable(a.first) + " in " + utf8(dir_));
        device_.setAttributes(path, n->attributes | a.second);
    }
    installStandIns(findings);
    for (const RegistryValue& v : l_.registry)
        device_.setRegistryValue(v.key, v.name, v.data, v.type);
    if (fromHook_ && !l_.package)
        device_.setRegistryString(vorlund::kRegistryKey, vorlund::kRegistryValueName,
                                  dir_.substr(0, dir_.size() - 1));
}

void Run::loadEntries(Findings* findings)
{
    loaded_.clear();
    for (const Entry& e : l_.entries) {
        if (device_.exists(e.path)) {
            // Two names here, one name on the device, where case does not count.
            if (!e.directory)
                findings->push_back(fileFinding(Code::NameClash, e.shown,
                                                "is the same name on the device as " +
                                                    inQuotes(device_.node(e.path)->name) +
                                                    ": only one of them can be there"));
            continue;
        }
        loaded_.insert(e.path);
        if (e.directory)
            device_.addDirectory(e.path);
        else
            device_.addFile(e.path, "");
    }
}

void Run::loadList()
{
    const std::wstring list = canonical(dir_ + kCabListName);
    auto entry = std::find_if(l_.entries.begin(), l_.entries.end(), [&](const Entry& e) {
        return !e.directory && loaded_.count(e.path) && canonical(e.path) == list;
    });
    if (entry == l_.entries.end())
        return;
    if (o_.noList) {
        device_.remove(dir_ + kCabListName);
        return;
    }
    device_.setContent(dir_ + kCabListName, l_.package && entry->member >= 0
                                                ? l_.package->read(entry->member, kMaxListBytes)
                                                : readFile(entry->file, kMaxListBytes));
}

void Run::installStandIns(Findings* findings)
{
    // The stand-in platform installer accepts every CAB but the rejected ones.
    if (!o_.noInstaller) {
        device_.installProgram(
            kInstallerProgram,
            [this](sim::Device&, const std::wstring& commandLine) {
                std::wstring key = canonical(sim::quotedPath(commandLine));
                runs_.push_back({sim::quotedPath(commandLine),
                                 asked_.count(key) != 0 || refused_.count(key) != 0});
                sim::ProgramRun run;
                run.durationMs = kInstallerRunMs;
                return run;
            },
            kInstallerWindowClass);
    }
    launcherPath_ = dir_ + kLauncherFileName;
    if (fromHook_ && o_.noLauncher) {
        device_.remove(launcherPath_);
    } else if (!device_.exists(launcherPath_) && !l_.package) {
        findings->push_back(
            fileFinding(Code::StandIn, utf8(kLauncherFileName),
                        "not in the directory: a stand-in takes its place in the rehearsal; "
                        "the main package must put the launcher here"));
        device_.addFile(launcherPath_, "launcher");
    }
    if (fromHook_ && device_.exists(launcherPath_)) {
        // Started by the hook; it runs once the hook has returned.
        device_.installProgram(launcherPath_, [this](sim::Device&, const std::wstring&) {
            launcherStarted_ = true;
            return sim::ProgramRun();
        });
    }
}

void Run::rejectAsked(const std::vector<ListLine>& lines)
{
    for (const std::string& name : o_.reject) {
        std::wstring key = canonical(dir_ + deviceRelative(name));
        bool installs = std::any_of(lines.begin(), lines.end(), [&](const ListLine& l) {
            return l.read && l.installable && canonical(l.path) == key;
        });
        if (!installs)
            throw UsageError("--reject " + hosttext::printable(name) +
                             ": the device installs no CAB of that name");
        asked_.insert(key);
    }
}

// The launcher alone, or the main package's installer calling the hook,
// which may start the launcher.
void Run::start(Result* r)
{
    device::ModuleHandle module = reinterpret_cast<device::ModuleHandle>(kModule);
    if (!fromHook_) {
        device_.setModulePath(launcherPath_);
        vorlund::runLauncher(module);
        r->launcherRan = true;
        return;
    }
    // The hook runs inside the main package's installer, whose window owns
    // its message boxes and is still open when the launcher starts.
    sim::ProgramRun mainRun;
    mainRun.durationMs = kMainInstallerCloseMs;
    uint32_t pid = device_.spawnProcess(kInstallerProgram, mainRun, kInstallerWindowClass);
    device::WindowHandle owner =
        reinterpret_cast<device::WindowHandle>(device_.process(pid)->windows.front());
    std::wstring installDir = l_.package ? l_.installDir : dir_.substr(0, dir_.size() - 1);
    if (!l_.package || l_.setupLibrary)
        Install_Exit(owner, installDir.c_str(), 0, 0, 0, 0, 0);
    hookEventsEnd_ = device_.events().size();
    // The launcher is its own process: it runs after the hook returned.
    if (launcherStarted_) {
        device_.setModulePath(launcherPath_);
        vorlund::runLauncher(module);
        r->launcherRan = true;
    }
}

Result Run::play()
{
    if (l_.package && o_.noLauncher)
        throw UsageError("--no-launcher: the main package decides whether there is a launcher");
    if (o_.noLauncher && !o_.fromHook)
        throw UsageError("--no-launcher rehearses the setup hook: use it with --from-hook");
    Result r;
    r.findings = l_.findings;
    r.name = l_.name;
    r.directory = dir_;
    r.start = l_.package ? "mainPackage" : fromHook_ ? "setupHook" : "launcher";
    r.listName = utf8(kCabListName);

    // The list as the device will read it, on a device as the layout leaves it.
    load(&r.findings);
    const sim::FileNode* list = device_.node(dir_ + kCabListName);
    r.listPresent = list != nullptr && !(list->attributes & kAttrDirectory);
    if (list != nullptr)
        r.listName = utf8(list->name);
    if (r.listPresent) {
        ListReport report = checkList(dir_);
        r.lines = report.lines;
        r.findings.insert(r.findings.end(), report.findings.begin(), report.findings.end());
        Findings checked = preflight(l_, o_.device, &r.lines);
        r.findings.insert(r.findings.end(), checked.begin(), checked.end());
        for (const ListLine& l : r.lines)
            if (l.rejected)
                refused_.insert(canonical(l.path));
    }
    rejectAsked(r.lines);

    // The run itself, on the same device: reading the list changed nothing
    // on it but the count of reads.
    readsBefore_ = device_.callCount(sim::Op::OpenForRead);
    start(&r);
    r.events = readTimeline(device_, {l_, loaded_, runs_, fromHook_, hookEventsEnd_});
    judge(&r);
    std::set<int> nameLines;
    for (const ListLine& l : r.lines)
        nameLines.insert(l.line);
    arrange(&r.findings, nameLines);
    return r;
}

// ---- what the run means ---------------------------------------------------------------

// Why the hook started no launcher, from the message it showed.
Finding Run::hookFailure() const
{
    std::wstring shown;
    for (const sim::event::MessageBox& b : device_.eventsOf<sim::event::MessageBox>())
        shown = shown.empty() ? b.text : shown;
    std::string key = "HKCU\\" + utf8(vorlund::kRegistryKey);
    if (l_.package && !l_.setupLibrary)
        return fileFinding(Code::NoSetupDll, kSetupDllName,
                           "the main package has no setup library: the installer calls no hook, "
                           "the launcher never starts and no CAB is installed or deleted");
    if (shown == vorlund::kNoKeyMessage)
        return fileFinding(Code::NoKey, key,
                           "the main package writes nothing there: the setup hook says it cannot "
                           "locate the registry path and starts nothing; the CABs stay");
    if (shown == vorlund::kNoValueMessage)
        return fileFinding(Code::NoValue, key,
                           "the main package writes no value " + kHookValue +
                               " there: the setup hook says so and starts nothing; the CABs stay");
    std::string where = "where the registry value points";
    for (const RegistryValue& v : l_.registry)
        if (canonical(v.key) == canonical(vorlund::kRegistryKey) &&
            canonical(v.name) == canonical(vorlund::kRegistryValueName) && v.type == 1)
            where = "in " + inQuotes(hosttext::fromUtf16le(v.data)) + ", where " + kHookValue +
                    " points";
    bool lands = std::any_of(l_.entries.begin(), l_.entries.end(), [&](const Entry& e) {
        return canonical(e.path) == canonical(launcherPath_);
    });
    std::string launcher = !l_.package ? "the directory holds none"
                           : lands     ? "the package puts it in " + inQuotes(dir_)
                                       : "the package installs none";
    size_t swept = device_.deletions().size();
    return fileFinding(Code::NoLauncher, utf8(kLauncherFileName),
                       "the setup hook finds no launcher " + where + " (" + launcher +
                           "): it says it cannot locate " + utf8(kLauncherFileName) +
                           (swept ? " and deletes the CABs there" : "") + ", installing none");
}

void Run::judge(Result* r)
{
    int failures = 0;
    for (const Event& e : r->events)
        failures += e.kind == EventKind::InstallFailed ? 1 : 0;
    r->installerRuns = static_cast<int>(runs_.size());
    r->rejectedRuns = static_cast<int>(std::count_if(
        runs_.begin(), runs_.end(), [](const InstallerRun& run) { return run.rejected; }));
    r->messageBoxes = static_cast<int>(device_.eventsOf<sim::event::MessageBox>().size());
    r->deleted = static_cast<int>(device_.deletions().size());
    r->deviceTimeMs = device_.now();
    bool swept = false;
    judgeRunWide(r, failures, &swept);
    judgeLines(r, failures);
    judgeFiles(r, swept);
}

void Run::judgeRunWide(Result* r, int failures, bool* swept)
{
    // Whether anything swept the directory: the launcher, or the hook that
    // found no launcher. Otherwise every CAB stays, which the cause says.
    *swept = r->launcherRan;
    if (fromHook_ && !r->launcherRan) {
        r->findings.push_back(hookFailure());
        *swept = r->findings.back().code == Code::NoLauncher;
    }
    if (r->launcherRan && !r->listPresent) {
        const sim::FileNode* n = device_.node(dir_ + kCabListName);
        std::string why = o_.noList ? "left out (--no-list)" : n ? "a directory" : "missing";
        r->findings.push_back(fileFinding(
            Code::NoList, r->listName,
            why + ": the launcher says it cannot locate "
                  "the CAB file list and deletes every CAB of the directory, installing none"));
    }
    // A launcher that never opened its list never knew its own directory.
    if (r->launcherRan && device_.callCount(sim::Op::OpenForRead) == readsBefore_)
        r->findings.push_back(
            fileFinding(Code::PathTooLong, utf8(kLauncherFileName),
                        "its path on the device has " + std::to_string(launcherPath_.size()) +
                            " characters, more than the launcher can read back: it ends without "
                            "installing or deleting anything"));
    if (failures > 0)
        r->findings.push_back(
            fileFinding(Code::InstallerFailed, utf8(kInstallerProgram),
                        "could not be started (" + std::to_string(failures) +
                            (failures == 1 ? " time" : " times") +
                            "): each time the launcher says it cannot unpack all CAB files and "
                            "passes over the rest of that 4096-byte block of the list"));
}

// Each name of the list: rejected by the installer (as asked), or never
// reaching it. A CAB the target device refuses has its own finding.
void Run::judgeLines(Result* r, int failures)
{
    std::set<std::wstring> installed, rejected, reported;
    for (const InstallerRun& run : runs_) {
        installed.insert(canonical(run.path));
        if (run.rejected)
            rejected.insert(canonical(run.path));
    }
    bool listUsed = r->launcherRan && r->listPresent;
    for (ListLine& l : r->lines) {
        if (!l.read || !l.installable)
            continue;
        std::wstring key = canonical(l.path);
        l.installed = installed.count(key) != 0;
        l.rejected = rejected.count(key) != 0;
        if (l.rejected && asked_.count(key) && reported.insert(key).second)
            r->findings.push_back(lineFinding(
                Code::Rejected, l.line,
                inQuotes(l.name) + ": the installer rejected it (exit code 1); the launcher says "
                                   "nothing, counts it as done, and the sweep deletes it"));
        else if (!l.installed && listUsed)
            r->findings.push_back(
                lineFinding(Code::NotInstalled, l.line,
                            failures > 0 ? "never installed: the installer failed in this "
                                           "4096-byte block, and the launcher passed over the "
                                           "rest of it"
                                         : "never installed"));
    }
}

// Each CAB the layout put on the device: left behind by the sweep, never
// named, installed but out of the sweep's reach, or out of the launcher's.
void Run::judgeFiles(Result* r, bool swept)
{
    std::set<std::wstring> installed, named;
    for (const InstallerRun& run : runs_)
        installed.insert(canonical(run.path));
    for (const ListLine& l : r->lines)
        if (l.read && !l.path.empty())
            named.insert(canonical(l.path));
    bool listUsed = r->launcherRan && r->listPresent;
    const sim::FileNode* stopper = nullptr;  // the first hidden or system CAB: the sweep ends there
    for (const std::wstring& name : device_.list(dir_)) {
        const sim::FileNode* n = isCab(name) ? device_.node(dir_ + name) : nullptr;
        if (!stopper && n && (n->attributes & (kAttrHidden | kAttrSystem)))
            stopper = n;
    }
    const std::wstring inside = canonical(dir_) + L"\\";
    for (const Entry& e : l_.entries) {
        if (e.directory || !isCab(e.path) || !loaded_.count(e.path))
            continue;
        std::wstring key = canonical(e.path);
        const sim::FileNode* left = device_.node(e.path);
        bool wasInstalled = installed.count(key) != 0;
        if (key.compare(0, inside.size(), inside) != 0) {
            if (!wasInstalled && left)
                r->findings.push_back(fileFinding(Code::CabElsewhere, e.shown,
                                                  "not beside the launcher: never installed by "
                                                  "it, never swept"));
            continue;
        }
        std::wstring name = e.path.substr(dir_.size());
        bool top = name.find(L'\\') == std::wstring::npos;
        // A list is Windows-1252 text: a name with other characters cannot be listed.
        auto foreign = std::find_if(name.begin(), name.end(),
                                    [](wchar_t c) { return !hosttext::inWindows1252(c); });
        std::string unlistable = foreign == name.end() ? ""
                                                       : "; no list can name it, as " +
                                                             inQuotes(std::wstring(1, *foreign)) +
                                                             " has no Windows-1252 form";
        if (top && left != nullptr && swept) {
            std::string why = "the sweep did not delete it";
            if (left->attributes & kAttrReadOnly)
                why = "it is read-only, and the sweep passes over it";
            else if (left->attributes & (kAttrHidden | kAttrSystem))
                why = std::string("it is ") +
                      (left->attributes & kAttrHidden ? "hidden" : "system") +
                      ", and the sweep ends at it";
            else if (stopper != nullptr && stopper->order < left->order)
                why = "the sweep ends at " + inQuotes(stopper->name) + " before it";
            r->findings.push_back(
                fileFinding(Code::LeftBehind, e.shown,
                            std::string(wasInstalled ? "installed, but" : "never installed, and") +
                                " stays on the device: " + why));
        } else if (!wasInstalled && !named.count(key) && listUsed) {
            r->findings.push_back(
                fileFinding(Code::Unlisted, e.shown,
                            "not named in " + r->listName +
                                (top ? ": the sweep deletes it without installing it"
                                     : ": never installed (it stays on the device)") +
                                unlistable));
        } else if (!top && wasInstalled && left != nullptr) {
            r->findings.push_back(fileFinding(Code::Stays, e.shown,
                                              "installed, and stays on the device: the sweep "
                                              "deletes only the CABs of the install directory "
                                              "itself"));
        }
    }
}

}  // namespace

Result rehearse(const Options& options, const DeviceLayout& layout)
{
    return Run(options, layout).play();
}

}  // namespace kit
