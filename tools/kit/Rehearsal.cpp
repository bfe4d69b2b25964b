// One rehearsal on the simulated device: the shipped hook and launcher run,
// their record read back into events and findings; every decision is theirs.
#include "tools/kit/Rehearsal.h"

#include <algorithm>
#include <map>
#include <set>

#include "common/SharedTexts.h"
#include "common/WideText.h"
#include "device/sim/SimDevice.h"
#include "launcher/CabList.h"
#include "launcher/LauncherSequence.h"
#include "setup/SetupHooks.h"
#include "tools/cecab/MainPackage.h"
#include "tools/hosttext/HostText.h"
#include "tools/kit/Kit.h"

namespace kit::rehearsal {

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

struct InstallerRun {
    std::wstring path;  // the CAB path the installer was handed
    bool rejected;
};

// Everything the run shares with the stand-in programs.
struct Stage {
    Stage(const Options& o, const Layout& l)
        : options(o), layout(l), dir(l.directory), fromHook(o.fromHook || l.mainPackage)
    {}
    const Options& options;
    const Layout& layout;
    const std::wstring& dir;
    bool fromHook;
    std::wstring launcherPath;
    std::string listBytes;
    bool listBytesRead = false;
    std::set<std::wstring> rejectPaths;  // canonical
    std::vector<InstallerRun> runs;
    bool launcherStarted = false;
    size_t hookEventsEnd = 0;       // the device's events before this one are the hook's
    std::set<std::wstring> loaded;  // paths of the layout's entries on the device
};

sim::Device& dev()
{
    return sim::current();
}

std::wstring canonical(const std::wstring& path)
{
    return dev().canonical(path);
}

std::wstring deviceRelative(const std::string& name)
{
    std::wstring text = hosttext::fromHost(name);
    std::replace(text.begin(), text.end(), L'/', L'\\');
    return text;
}

// Loads the layout and the stand-ins into a fresh device. Findings about the
// loading go to `findings` when it is not null (the first of two loads).
void loadDevice(Stage& stage, std::vector<Finding>* findings)
{
    const Options& o = stage.options;
    const std::wstring& dir = stage.dir;
    dev().reset();
    dev().addDirectory(L"\\windows");
    dev().addDirectory(dir);
    stage.loaded.clear();

    const Entry* listEntry = nullptr;
    for (const Entry& e : stage.layout.entries) {
        if (dev().exists(e.path)) {
            // Two names here, one name on the device, where case does not count.
            if (findings && !e.directory)
                findings->push_back(fileFinding("name-clash", e.shown,
                                                "is the same name on the device as " +
                                                    inQuotes(dev().node(e.path)->name) +
                                                    ": only one of them can be there"));
            continue;
        }
        stage.loaded.insert(e.path);
        if (e.directory)
            dev().addDirectory(e.path);
        else
            dev().addFile(e.path, "");
        if (!e.directory && canonical(e.path) == canonical(dir + kCabListName))
            listEntry = &e;
    }
    if (listEntry != nullptr && !o.noList) {
        if (!stage.listBytesRead)
            stage.listBytes = listEntry->source.empty()
                                  ? listEntry->bytes
                                  : readFile(listEntry->source.string(), kMaxListBytes);
        stage.listBytesRead = true;
        dev().setContent(dir + kCabListName, stage.listBytes);
    } else if (listEntry != nullptr) {
        dev().remove(dir + kCabListName);
    }

    for (const auto& a : o.attributes) {
        std::wstring path = dir + deviceRelative(a.first);
        const sim::FileNode* n = dev().node(path);
        if (n == nullptr)
            throw UsageError("no entry " + a.first + " in " + utf8(dir));
        dev().setAttributes(path, n->attributes | a.second);
    }

    // The stand-in platform installer accepts every CAB but the rejected ones.
    if (!o.noInstaller) {
        Stage* s = &stage;
        dev().installProgram(
            kInstallerProgram,
            [s](sim::Device&, const std::wstring& commandLine) {
                std::wstring path = sim::quotedPath(commandLine);
                bool rejected = s->rejectPaths.count(canonical(path)) != 0;
                s->runs.push_back({path, rejected});
                sim::ProgramRun run;
                run.durationMs = kInstallerRunMs;
                return run;
            },
            kInstallerWindowClass);
    }

    stage.launcherPath = dir + kLauncherFileName;
    bool hasLauncher = dev().exists(stage.launcherPath);
    if (stage.fromHook && o.noLauncher) {
        dev().remove(stage.launcherPath);
    } else if (!hasLauncher && !stage.layout.mainPackage) {
        if (findings)
            findings->push_back(
                fileFinding("stand-in", utf8(kLauncherFileName),
                            "not in the directory: a stand-in takes its place in the rehearsal; "
                            "the main package must put the launcher here",
                            false));
        dev().addFile(stage.launcherPath, "launcher");
    }
    if (stage.fromHook && dev().exists(stage.launcherPath)) {
        // Started by the hook; it runs once the hook has returned.
        Stage* s = &stage;
        dev().installProgram(stage.launcherPath, [s](sim::Device&, const std::wstring&) {
            s->launcherStarted = true;
            return sim::ProgramRun();
        });
    }
    for (const RegistryValue& v : stage.layout.registry)
        dev().setRegistryValue(v.key, v.name, v.data, v.type);
    if (stage.fromHook && !stage.layout.mainPackage)
        dev().setRegistryString(vorlund::kRegistryKey, vorlund::kRegistryValueName,
                                dir.substr(0, dir.size() - 1));
}

// ---- reading the run back ---------------------------------------------------------

void describeBar(const sim::Window& bar, Event* e)
{
    e->hasBar = true;
    e->lower = bar.rangePacked & 0xFFFFu;
    e->upper = bar.rangePacked >> 16;
    e->position = bar.position;
    e->fill = sim::barFill(bar);
}

// The window state as the run shows it: the text of the status line and the
// bar, from the controls as last sent to.
struct WindowState {
    std::map<uintptr_t, sim::Window> controls;
    bool changed = false;

    Event shown(Actor by, uint64_t timeMs)
    {
        changed = false;
        Event e;
        e.kind = EventKind::Window;
        e.by = by;
        e.timeMs = timeMs;
        for (const auto& c : controls) {
            if (c.second.className == L"static" && !e.hasText) {
                e.hasText = true;
                e.text = c.second.text;
            } else if (c.second.className == L"msctls_progress32" && !e.hasBar) {
                describeBar(c.second, &e);
            }
        }
        return e;
    }
};

// The device's record, in order, as the rehearsal's events.
std::vector<Event> readTimeline(const Stage& stage)
{
    const sim::Device& d = dev();
    std::vector<Event> events;
    size_t runs = 0;
    bool hasWindow = !d.dialogs().empty();
    WindowState window;
    // A control as the dialog creates it: no text, a bar over 0 to 100.
    auto fresh = [](const sim::Window& w) {
        sim::Window c = w;
        c.text.clear();
        c.position = 0;
        c.rangePacked = w.className == L"msctls_progress32" ? 100u << 16 : 0;
        return c;
    };
    auto flushWindow = [&](Actor by, uint64_t timeMs) {
        if (window.changed)
            events.push_back(window.shown(by, timeMs));
    };

    // What the main package's installer did before it called the hook.
    if (stage.layout.mainPackage) {
        Event e;
        e.by = Actor::Installer;
        e.kind = EventKind::Copy;
        for (const Entry& entry : stage.layout.entries) {
            e.text = entry.path;
            if (!entry.directory && stage.loaded.count(entry.path))
                events.push_back(e);
        }
        e.kind = EventKind::Registry;
        for (const RegistryValue& v : stage.layout.registry) {
            e.text = L"set " + v.key + L" " + (v.name.empty() ? L"(default)" : v.name);
            if (v.type == 1)
                e.text += L" = \"" + hosttext::fromUtf16le(v.data) + L"\"";
            events.push_back(e);
        }
    }

    for (size_t i = 0; i < d.events().size(); ++i) {
        const sim::Event& record = d.events()[i];
        Actor by = stage.fromHook && i < stage.hookEventsEnd ? Actor::Hook : Actor::Launcher;
        Event e;
        e.by = by;
        e.timeMs = record.timeMs;
        if (auto* c = std::get_if<sim::event::CreateDialog>(&record.what)) {
            // The window shows as created until something changes it; without
            // a list nothing ever does.
            if (hasWindow && c->window != 0) {
                for (const sim::Window* w : d.children(c->window))
                    window.controls[w->id] = fresh(*w);
                window.changed = true;
            }
            continue;
        }
        if (auto* w = std::get_if<sim::event::Wait>(&record.what)) {
            if (w->askedMs != vorlund::kInstallerWaitMs)
                continue;  // the launcher's own installer runs: shown with their start
            flushWindow(by, record.timeMs);
            e.kind = EventKind::Wait;
            e.waitedMs = w->waitedMs;
            e.processId = w->processId;
        } else if (auto* b = std::get_if<sim::event::MessageBox>(&record.what)) {
            e.kind = EventKind::MessageBox;
            e.text = b->text;
            e.caption = b->caption;
        } else if (auto* m = std::get_if<sim::event::Message>(&record.what)) {
            const sim::Window* w = d.window(m->window);
            if (!hasWindow || w == nullptr)
                continue;
            sim::Window& c = window.controls.emplace(m->window, fresh(*w)).first->second;
            if (m->number == 12)
                c.text = m->text;
            else if (m->number == 1025)
                c.rangePacked = static_cast<uint32_t>(m->second);
            else if (m->number == 1026)
                c.position = static_cast<int32_t>(m->first);
            window.changed = true;
            continue;
        } else if (auto* r = std::get_if<sim::event::Repaint>(&record.what)) {
            if (!hasWindow)
                continue;
            e.kind = EventKind::Window;
            e.visible = r->visible;
            if (const sim::Window* text = r->child(L"static")) {
                e.hasText = true;
                e.text = text->text;
            }
            if (const sim::Window* bar = r->child(L"msctls_progress32"))
                describeBar(*bar, &e);
            window.changed = false;
            events.push_back(e);
            continue;
        } else if (std::holds_alternative<sim::event::DestroyWindow>(record.what) && hasWindow) {
            e.kind = EventKind::WindowClosed;
        } else if (auto* f = std::get_if<sim::event::StartFailed>(&record.what)) {
            e.program = f->program;
            e.kind =
                e.program == kInstallerProgram ? EventKind::InstallFailed : EventKind::StartFailed;
        } else if (auto* s = std::get_if<sim::event::Start>(&record.what)) {
            e.program = s->program;
            e.text = s->commandLine;
            e.kind = EventKind::Start;
            if (s->program == kInstallerProgram && runs < stage.runs.size()) {
                e.kind = EventKind::Install;
                e.rejected = stage.runs[runs++].rejected;
                e.exitCode = e.rejected ? 1 : 0;
            }
        } else if (auto* x = std::get_if<sim::event::Delete>(&record.what)) {
            e.kind = x->done ? EventKind::Delete : EventKind::DeleteFailed;
            e.text = x->path;
        } else if (std::holds_alternative<sim::event::DeleteKey>(record.what)) {
            e.kind = EventKind::Registry;
            e.text = sim::describe(record);
        } else {
            continue;  // set-up steps of the window, faults: not shown
        }
        flushWindow(by, record.timeMs);
        events.push_back(e);
    }
    flushWindow(Actor::Launcher, d.now());
    return events;
}

// ---- what the run means ---------------------------------------------------------------

// The first hidden or system CAB of the directory, where the sweep ends.
const sim::FileNode* sweepStopper(const std::wstring& dir)
{
    for (const std::wstring& name : dev().list(dir)) {
        const sim::FileNode* n = dev().node(dir + name);
        if (vorlund::endsWithIgnoringCase(name.c_str(), kCabExtension) &&
            (n->attributes & (kAttrHidden | kAttrSystem)))
            return n;
    }
    return nullptr;
}

// Why the hook started no launcher, from the message it showed.
Finding hookFailure(const Stage& stage)
{
    std::wstring shown;
    for (const sim::event::MessageBox& b : dev().eventsOf<sim::event::MessageBox>())
        shown = shown.empty() ? b.text : shown;
    std::string key = "HKCU\\" + utf8(vorlund::kRegistryKey);
    if (stage.layout.mainPackage && !stage.layout.setupLibrary)
        return fileFinding("no-setup-dll", cecab::kSetupDllName,
                           "the main package has no setup library: the installer calls no hook, "
                           "the launcher never starts and no CAB is installed or deleted");
    if (shown == vorlund::kNoKeyMessage)
        return fileFinding("no-key", key,
                           "the main package writes nothing there: the setup hook says it cannot "
                           "locate the registry path and starts nothing; the CABs stay");
    if (shown == vorlund::kNoValueMessage)
        return fileFinding("no-value", key,
                           "the main package writes no value " + utf8(vorlund::kRegistryValueName) +
                               " there: the setup hook says so and starts nothing; the CABs stay");
    return fileFinding("no-launcher", utf8(kLauncherFileName),
                       "the setup hook finds no launcher where the registry says: it says it "
                       "cannot locate " +
                           utf8(kLauncherFileName) +
                           " and deletes every CAB of that directory, installing none");
}

void judgeRun(const Stage& stage, Result* r)
{
    const Options& o = stage.options;
    const std::wstring& dir = stage.dir;
    std::set<std::wstring> installed, rejected, named;
    for (const InstallerRun& run : stage.runs) {
        installed.insert(canonical(run.path));
        if (run.rejected)
            rejected.insert(canonical(run.path));
    }
    int failures = 0;
    for (const Event& e : r->events)
        failures += e.kind == EventKind::InstallFailed ? 1 : 0;
    r->installerRuns = static_cast<int>(stage.runs.size());
    r->rejectedRuns =
        static_cast<int>(std::count_if(stage.runs.begin(), stage.runs.end(),
                                       [](const InstallerRun& run) { return run.rejected; }));
    r->messageBoxes = static_cast<int>(dev().eventsOf<sim::event::MessageBox>().size());
    r->deleted = static_cast<int>(dev().deletions().size());
    r->deviceTimeMs = dev().now();

    // The run as a whole.
    bool listUsed = r->launcherRan && r->listPresent;
    // Whether anything swept the directory: the launcher, or the hook that
    // found no launcher. Otherwise every CAB stays, which the cause says.
    bool swept = r->launcherRan;
    if (stage.fromHook && !r->launcherRan) {
        r->findings.push_back(hookFailure(stage));
        swept = r->findings.back().code == "no-launcher";
    }
    if (r->launcherRan && !r->listPresent) {
        const sim::FileNode* n = dev().node(dir + kCabListName);
        std::string why = o.noList ? "left out (--no-list)" : n ? "a directory" : "missing";
        r->findings.push_back(fileFinding(
            "no-list", r->listName,
            why + ": the launcher says it cannot locate "
                  "the CAB file list and deletes every CAB of the directory, installing none"));
    }
    if (r->launcherRan && stage.launcherPath.size() + 1 > static_cast<size_t>(device::kMaxPath))
        r->findings.push_back(
            fileFinding("path-too-long", utf8(kLauncherFileName),
                        "its path on the device has " + std::to_string(stage.launcherPath.size()) +
                            " characters, more than the " + std::to_string(device::kMaxPath - 1) +
                            " the launcher can read back: it "
                            "ends without installing or deleting anything"));
    if (failures > 0)
        r->findings.push_back(
            fileFinding("installer-failed", utf8(kInstallerProgram),
                        "could not be started (" + std::to_string(failures) +
                            (failures == 1 ? " time" : " times") +
                            "): each time the launcher says it cannot unpack all CAB files and "
                            "passes over the rest of that 4096-byte block of the list"));

    // Each name of the list.
    std::set<std::wstring> reported;
    for (ListLine& l : r->lines) {
        if (!l.read || !l.installable)
            continue;
        std::wstring key = canonical(l.path);
        named.insert(key);
        l.installed = installed.count(key) != 0;
        l.rejected = rejected.count(key) != 0;
        Finding f;
        f.line = f.lastLine = l.line;
        if (l.rejected && reported.insert(key).second) {
            f.code = "rejected";
            f.message = inQuotes(l.name) +
                        ": the installer rejected it (exit code 1); the launcher says nothing, "
                        "counts it as done, and the sweep deletes it";
            r->findings.push_back(f);
        } else if (!l.installed && listUsed) {
            f.code = "not-installed";
            f.message =
                failures > 0
                    ? "never installed: the installer failed in this 4096-byte block, and the "
                      "launcher passed over the rest of it"
                    : "never installed";
            r->findings.push_back(f);
        }
    }
    for (const ListLine& l : r->lines) {
        if (l.read && !l.path.empty())
            named.insert(canonical(l.path));
    }

    // Each CAB of the directory.
    const sim::FileNode* stopper = sweepStopper(dir);
    const std::wstring inside = canonical(dir) + L"\\";
    for (const Entry& e : stage.layout.entries) {
        std::wstring key = canonical(e.path);
        if (e.directory || !vorlund::endsWithIgnoringCase(e.path.c_str(), kCabExtension) ||
            !stage.loaded.count(e.path) || key.compare(0, inside.size(), inside) != 0)
            continue;
        std::wstring name = e.path.substr(std::min(dir.size(), e.path.size()));
        bool top = name.find(L'\\') == std::wstring::npos;
        bool wasInstalled = installed.count(key) != 0;
        const sim::FileNode* left = dev().node(e.path);
        const std::string& file = e.shown;
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
                fileFinding("left-behind", file,
                            std::string(wasInstalled ? "installed, but" : "never installed, and") +
                                " stays on the device: " + why));
        } else if (top && !wasInstalled && !named.count(key) && listUsed) {
            r->findings.push_back(fileFinding("unlisted", file,
                                              "not named in " + r->listName +
                                                  ": the sweep "
                                                  "deletes it without installing it" +
                                                  unlistable));
        } else if (!top && wasInstalled && left != nullptr) {
            r->findings.push_back(
                fileFinding("stays", file,
                            "installed, and stays on the device: the sweep "
                            "deletes only the CABs of the install directory itself",
                            false));
        } else if (!top && !wasInstalled && !named.count(key) && listUsed) {
            r->findings.push_back(fileFinding("unlisted", file,
                                              "not named in " + r->listName +
                                                  ": never installed (it stays on the device)" +
                                                  unlistable));
        }
    }
}

// Run-wide findings first, then the list's lines in order, then the files;
// runs of lines with the same finding become one.
void arrange(Result* r)
{
    auto group = [](const Finding& f) {
        if (f.line > 0)
            return 1;
        bool runWide = f.code == "no-launcher" || f.code == "no-list" || f.code == "no-key" ||
                       f.code == "no-value" || f.code == "no-setup-dll" ||
                       f.code == "installer-failed" || f.code == "empty-list" ||
                       (f.code == "path-too-long" && f.line == 0);
        return runWide ? 0 : 2;
    };
    std::stable_sort(r->findings.begin(), r->findings.end(),
                     [&](const Finding& a, const Finding& b) {
                         if (group(a) != group(b))
                             return group(a) < group(b);
                         return group(a) == 1 && a.line < b.line;
                     });
    std::set<int> nameLines;
    for (const ListLine& l : r->lines)
        nameLines.insert(l.line);
    std::vector<Finding> merged;
    for (const Finding& f : r->findings) {
        if (!merged.empty()) {
            Finding& last = merged.back();
            auto between = nameLines.upper_bound(last.lastLine);
            if (f.line > 0 && last.line > 0 && f.code == last.code && f.message == last.message &&
                f.warning == last.warning && between != nameLines.end() && *between == f.line) {
                last.lastLine = f.line;
                continue;
            }
        }
        merged.push_back(f);
    }
    r->findings = merged;
}

}  // namespace

int Result::count(bool warnings) const
{
    return static_cast<int>(std::count_if(findings.begin(), findings.end(),
                                          [&](const Finding& f) { return f.warning == warnings; }));
}

Result rehearse(const Options& options, const Layout& layout)
{
    if (layout.mainPackage && options.noLauncher)
        throw UsageError("--no-launcher: the main package decides whether there is a launcher");
    if (options.noLauncher && !options.fromHook)
        throw UsageError("--no-launcher rehearses the setup hook: use it with --from-hook");
    Result r;
    r.findings = layout.findings;
    Stage stage(options, layout);
    const std::wstring& dir = stage.dir;
    r.name = layout.name;
    r.directory = dir;
    r.start = layout.mainPackage ? "mainPackage" : stage.fromHook ? "setupHook" : "launcher";
    r.listName = utf8(kCabListName);

    // The list as the device will read it, on a device as the layout leaves it.
    loadDevice(stage, &r.findings);
    const sim::FileNode* list = dev().node(dir + kCabListName);
    r.listPresent = list != nullptr && !(list->attributes & kAttrDirectory);
    if (list != nullptr)
        r.listName = utf8(list->name);
    if (r.listPresent) {
        ListReport report = checkList(dir);
        r.lines = report.lines;
        r.findings.insert(r.findings.end(), report.findings.begin(), report.findings.end());
    }
    for (const std::string& name : options.reject) {
        std::wstring key = canonical(dir + deviceRelative(name));
        bool installs = std::any_of(r.lines.begin(), r.lines.end(), [&](const ListLine& l) {
            return l.read && l.installable && canonical(l.path) == key;
        });
        if (!installs)
            throw UsageError("--reject " + name + ": the device installs no CAB of that name");
        stage.rejectPaths.insert(key);
    }

    // The run itself, on a fresh device.
    loadDevice(stage, nullptr);
    device::ModuleHandle module = reinterpret_cast<device::ModuleHandle>(kModule);
    if (!stage.fromHook) {
        dev().setModulePath(stage.launcherPath);
        vorlund::runLauncher(module);
        r.launcherRan = true;
    } else {
        // The hook runs inside the main package's installer, whose window
        // owns its message boxes and is still open when the launcher starts.
        sim::ProgramRun mainRun;
        mainRun.durationMs = kMainInstallerCloseMs;
        uint32_t pid = dev().spawnProcess(kInstallerProgram, mainRun, kInstallerWindowClass);
        device::WindowHandle owner =
            reinterpret_cast<device::WindowHandle>(dev().process(pid)->windows.front());
        std::wstring installDir =
            layout.mainPackage ? layout.installDir : dir.substr(0, dir.size() - 1);
        if (!layout.mainPackage || layout.setupLibrary)
            Install_Exit(owner, installDir.c_str(), 0, 0, 0, 0, 0);
        stage.hookEventsEnd = dev().events().size();
        // The launcher is its own process: it runs after the hook returned.
        if (stage.launcherStarted) {
            dev().setModulePath(stage.launcherPath);
            vorlund::runLauncher(module);
            r.launcherRan = true;
        }
    }

    r.events = readTimeline(stage);
    judgeRun(stage, &r);
    arrange(&r);
    return r;
}

}  // namespace kit::rehearsal
