// The simulated device's state, control interface and record (see
// SimDevice.h); the operations themselves are in SimDeviceServices.cpp.
#include "device/sim/SimDevice.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "tools/hosttext/HostText.h"

namespace sim {

const char* opName(Op op)
{
#define VORLUND_SIM_NAME(op, name, result, parameters, arguments) #name,
    static const char* const names[] = {VORLUND_SIM_OPERATIONS(VORLUND_SIM_NAME)};
#undef VORLUND_SIM_NAME
    return names[static_cast<int>(op)];
}

namespace {

Device* active = nullptr;  // set by a UseDevice

}  // namespace

Device& current()
{
    static Device instance;
    return active ? *active : instance;
}

UseDevice::UseDevice(Device& device) : previous_(active)
{
    active = &device;
}

UseDevice::~UseDevice()
{
    active = previous_;
}

void Device::reset()
{
    for (auto& a : allocations_)
        std::free(a.first);
    *this = Device();
}

// ---- storage ---------------------------------------------------------------------

std::wstring Device::canonical(const std::wstring& path) const
{
    // Rooted at "\": a path without a leading backslash is taken from the root,
    // as the device has no current directory. Repeated separators collapse.
    std::wstring out(path.size() + 1, L'\\');
    size_t n = 1;
    for (wchar_t c : path)
        if (c != L'\\' && c != L'/')
            out[n++] = hosttext::foldCase(c);
        else if (out[n - 1] != L'\\')
            out[n++] = L'\\';
    if (n > 1 && out[n - 1] == L'\\')
        --n;
    out.resize(n);
    return out;
}

std::wstring Device::parentOf(const std::wstring& canonicalPath) const
{
    if (canonicalPath == L"\\")
        return L"";
    size_t cut = canonicalPath.rfind(L'\\');
    return cut == 0 ? std::wstring(L"\\") : canonicalPath.substr(0, cut);
}

namespace {

std::wstring folderOf(const std::wstring& path)
{
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

}  // namespace

FileNode& Device::makeNode(const std::wstring& canonicalPath, const std::wstring& parent,
                           const std::wstring& path)
{
    FileNode& n = files_[canonicalPath];
    if (n.order == 0) {
        n.path = path;
        n.name = hosttext::lastComponent(path);
        n.order = ++clock_;
        directories_[parent].emplace(n.order, DirectoryEntry{canonicalPath, n.name});
    }
    return n;
}

void Device::eraseNode(std::unordered_map<std::wstring, FileNode>::iterator node)
{
    std::wstring parent = parentOf(node->first);
    if (searches_.empty()) {
        directories_[parent].erase(node->second.order);
    } else {
        directories_[parent][node->second.order].removedAt = ++clock_;
        removedDuringSearch_.emplace_back(parent, node->second.order);
    }
    files_.erase(node);
}

void Device::addDirectory(const std::wstring& path, uint32_t attributes)
{
    std::wstring c = canonical(path);
    if (c == L"\\")
        return;
    FileNode& n = makeNode(c, withParent(c, path), path);
    n.attributes |= device::kAttrDirectory | attributes;
}

void Device::addFile(const std::wstring& path, const std::string& content, uint32_t attributes)
{
    std::wstring c = canonical(path);
    FileNode& n = makeNode(c, withParent(c, path), path);
    n.content = content;
    n.attributes = attributes;
}

std::wstring Device::withParent(const std::wstring& canonicalPath, const std::wstring& path)
{
    std::wstring parent = parentOf(canonicalPath);
    if (parent != L"\\" && !files_.count(parent))
        addDirectory(folderOf(path));
    return parent;
}

bool Device::exists(const std::wstring& path) const
{
    return files_.count(canonical(path)) != 0;
}

const FileNode* Device::node(const std::wstring& path) const
{
    auto it = files_.find(canonical(path));
    return it == files_.end() ? nullptr : &it->second;
}

FileNode* Device::mutableNode(const std::wstring& path)
{
    auto it = files_.find(canonical(path));
    if (it == files_.end())
        throw std::runtime_error("no such entry on the simulated device");
    return &it->second;
}

bool Device::remove(const std::wstring& path)
{
    auto it = files_.find(canonical(path));
    if (it == files_.end())
        return false;
    eraseNode(it);
    return true;
}

void Device::setAttributes(const std::wstring& path, uint32_t attributes)
{
    mutableNode(path)->attributes = attributes;
}

void Device::setContent(const std::wstring& path, const std::string& content)
{
    mutableNode(path)->content = content;
}

void Device::setInUse(const std::wstring& path, bool inUse)
{
    mutableNode(path)->inUse = inUse;
}

void Device::setDeleteLeavesIt(const std::wstring& path)
{
    mutableNode(path)->deleteLeavesIt = true;
}

std::vector<const FileNode*> Device::childrenOf(const std::wstring& canonicalDir) const
{
    std::vector<const FileNode*> out;
    auto d = directories_.find(canonicalDir);
    if (d == directories_.end())
        return out;
    for (const auto& e : d->second)
        if (e.second.removedAt == 0)
            out.push_back(&files_.at(e.second.path));
    return out;
}

std::vector<std::wstring> Device::list(const std::wstring& directory) const
{
    std::vector<std::wstring> out;
    for (const FileNode* n : childrenOf(canonical(directory)))
        out.push_back(n->name);
    return out;
}

namespace {

// Iterative * and ? matching with one backtrack point, letter case folded.
bool wildcardMatch(const wchar_t* p, const wchar_t* s)
{
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*s) {
        if (*p == L'?' ||
            (*p != L'*' && *p != 0 && hosttext::foldCase(*p) == hosttext::foldCase(*s))) {
            ++p;
            ++s;
        } else if (*p == L'*') {
            star = p++;
            resume = s;
        } else if (star) {
            p = star + 1;
            s = ++resume;
        } else {
            return false;
        }
    }
    while (*p == L'*')
        ++p;
    return *p == 0;
}

}  // namespace

bool Device::nameMatches(const std::wstring& pattern, const std::wstring& name, bool aliases)
{
    if (wildcardMatch(pattern.c_str(), name.c_str()))
        return true;
    if (!aliases)
        return false;
    // The 8.3 alias keeps the first three characters of the extension.
    size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos || name.size() - dot - 1 <= 3)
        return false;
    return wildcardMatch(pattern.c_str(), name.substr(0, dot + 4).c_str());
}

bool Device::beginSearch(const wchar_t* pattern, Search* search) const
{
    std::wstring p(pattern);
    search->pattern = hosttext::lastComponent(p);
    search->directory = canonical(folderOf(p));
    search->aliases = desktopAliasMatching_;
    search->openedAt = clock_ + 1;  // every entry there now
    search->position = 0;
    if (search->pattern.empty())
        return false;
    if (search->directory != L"\\") {
        auto d = files_.find(search->directory);
        if (d == files_.end() || (d->second.attributes & device::kAttrDirectory) == 0)
            return false;
    }
    return true;
}

const FileNode* Device::nextMatch(Search* search) const
{
    auto d = directories_.find(search->directory);
    if (d == directories_.end())
        return nullptr;
    for (auto it = d->second.upper_bound(search->position);
         it != d->second.end() && it->first < search->openedAt; ++it) {
        search->position = it->first;
        const DirectoryEntry& e = it->second;
        if ((e.removedAt != 0 && e.removedAt < search->openedAt) ||
            !nameMatches(search->pattern, e.name, search->aliases))
            continue;
        // Deleted since the search began: passed over, unless it is back.
        auto f = files_.find(e.path);
        if (f != files_.end())
            return &f->second;
    }
    return nullptr;
}

// ---- processes and windows ----------------------------------------------------------

void Device::installProgram(const std::wstring& path, ProgramBehaviour behaviour,
                            const std::wstring& windowClass)
{
    programs_[canonical(path)] = Program{std::move(behaviour), windowClass};
    if (!exists(path))
        addFile(path, "program");
}

uintptr_t Device::createWindow(const std::wstring& className, uint32_t processId, uintptr_t parent)
{
    Window w;
    w.id = nextWindowId_;
    nextWindowId_ += 4;
    w.className = className;
    w.processId = processId;
    w.parent = parent;
    windows_[w.id] = w;
    childWindows_[parent].push_back(w.id);
    if (parent == 0)
        zOrder_.insert(zOrder_.begin(), w.id);  // a new top-level window comes to the front
    return w.id;
}

void Device::destroyWindowTree(uintptr_t id)
{
    auto it = windows_.find(id);
    if (it == windows_.end() || it->second.destroyed)
        return;
    it->second.destroyed = true;
    it->second.visible = false;
    zOrder_.erase(std::remove(zOrder_.begin(), zOrder_.end(), id), zOrder_.end());
    auto kids = childWindows_.find(id);
    if (kids != childWindows_.end())
        for (uintptr_t child : kids->second)
            destroyWindowTree(child);
}

uintptr_t Device::addTopLevelWindow(const std::wstring& className, uint32_t processId)
{
    return createWindow(className, processId, 0);
}

void Device::setClassNameReadable(uintptr_t window, bool readable)
{
    windows_.at(window).classNameReadable = readable;
}

uint32_t Device::spawnProcess(const std::wstring& program, const ProgramRun& run,
                              const std::wstring& windowClass)
{
    Process p;
    p.id = nextProcessId_;
    nextProcessId_ += 4;
    p.program = program;
    p.endMs = nowMs_ + run.durationMs;
    p.endsNever = run.endsNever;
    p.exitStatusReadable = run.exitStatusReadable;
    if (!windowClass.empty())
        p.windows.push_back(createWindow(windowClass, p.id, 0));
    processes_[p.id] = p;
    if (!p.endsNever)
        running_.emplace(p.endMs, p.id);
    return p.id;
}

void Device::setProcessOpenable(uint32_t processId, bool openable)
{
    processes_.at(processId).openable = openable;
}

const Process* Device::process(uint32_t id) const
{
    auto it = processes_.find(id);
    return it == processes_.end() ? nullptr : &it->second;
}

void Device::advanceTo(uint64_t timeMs)
{
    if (timeMs < nowMs_)
        return;
    // Processes end in the order of their end times (the first started
    // first among equals); each takes its windows.
    while (!running_.empty() && running_.begin()->first <= timeMs) {
        Process& next = processes_.at(running_.begin()->second);
        running_.erase(running_.begin());
        nowMs_ = std::max(nowMs_, next.endMs);
        next.ended = true;
        for (uintptr_t w : next.windows)
            destroyWindowTree(w);
    }
    nowMs_ = timeMs;
}

const Window* Device::window(uintptr_t id) const
{
    auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : &it->second;
}

std::vector<const Window*> Device::children(uintptr_t parent) const
{
    std::vector<const Window*> out;
    auto kids = childWindows_.find(parent);
    if (kids == childWindows_.end())
        return out;
    for (uintptr_t id : kids->second) {
        const Window& w = windows_.at(id);
        if (!w.destroyed)
            out.push_back(&w);
    }
    return out;
}

std::vector<const Window*> Device::dialogs() const
{
    std::vector<const Window*> out;
    for (auto& w : windows_)
        if (w.second.className == kDialogClass)
            out.push_back(&w.second);
    return out;
}

double barFill(const Window& bar)
{
    int lower = static_cast<int>(bar.rangePacked & 0xFFFFu);
    int upper = static_cast<int>(bar.rangePacked >> 16);
    if (upper <= lower)
        return 0.0;
    int shown = std::min(std::max(static_cast<int>(bar.position), lower), upper);
    return static_cast<double>(shown - lower) / (upper - lower);
}

// ---- registry ---------------------------------------------------------------------

void Device::addRegistryKey(const std::wstring& key)
{
    registry_[canonical(key)];
}

void Device::setRegistryValue(const std::wstring& key, const std::wstring& name,
                              const std::vector<uint8_t>& data, uint32_t type)
{
    registry_[canonical(key)][canonical(name)] = RegistryValue{type, data};
}

void Device::setRegistryString(const std::wstring& key, const std::wstring& name,
                               const std::wstring& text)
{
    // Stored as the device stores it: UTF-16 little-endian with a terminator.
    setRegistryValue(key, name, hosttext::utf16le(text + L'\0'), 1);
}

bool Device::registryKeyExists(const std::wstring& key) const
{
    return registry_.count(canonical(key)) != 0;
}

// ---- faults, handles and the record --------------------------------------------------

void Device::failCall(Op op, int nth)
{
    rules_.push_back(Rule{op, callCounts_[static_cast<int>(op)] + nth, false});
}

void Device::failFrom(Op op, int nth)
{
    rules_.push_back(Rule{op, callCounts_[static_cast<int>(op)] + nth, true});
}

bool Device::shouldFail(Op op)
{
    int count = ++callCounts_[static_cast<int>(op)];
    ++overallCalls_;
    bool fail = overallFailAt_ > 0 && overallCalls_ == overallFailAt_;
    for (const Rule& r : rules_)
        if (r.op == op && (r.persistent ? count >= r.nth : count == r.nth))
            fail = true;
    if (fail) {
        ++injectedFaults_;
        record(event::Fault{op});
    }
    return fail;
}

uintptr_t Device::newHandle(Kind kind, uint64_t target)
{
    uintptr_t h = nextHandle_;
    nextHandle_ += 4;
    handles_[h] = Handle{kind, target};
    return h;
}

bool Device::handleIs(uintptr_t handle, Kind kind, uint64_t* target) const
{
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.kind != kind)
        return false;
    if (target)
        *target = it->second.target;
    return true;
}

void Device::releaseHandle(uintptr_t handle, Kind kind)
{
    if (!handleIs(handle, kind))
        throw std::logic_error("closing a handle that is not open, or not of its kind");
    handles_.erase(handle);
}

std::vector<std::wstring> Device::deletions() const
{
    std::vector<std::wstring> out;
    for (const event::Delete& d : eventsOf<event::Delete>())
        if (d.done)
            out.push_back(d.path);
    return out;
}

bool Device::hungForever() const
{
    for (const event::Wait& w : eventsOf<event::Wait>())
        if (w.hung)
            return true;
    return false;
}

const Window* event::Repaint::child(const std::wstring& className) const
{
    for (const Window& w : children)
        if (w.className == className)
            return &w;
    return nullptr;
}

namespace {

std::wstring hex(uintptr_t v)
{
    wchar_t buf[32];
    swprintf(buf, 32, L"%lx", static_cast<unsigned long>(v));
    return buf;
}

std::wstring num(uint64_t v)
{
    return std::to_wstring(v);
}

// Overloads for std::visit, one per kind of event.
template <class... F> struct Overload : F... {
    using F::operator()...;
};
template <class... F> Overload(F...) -> Overload<F...>;

}  // namespace

std::wstring quotedPath(const std::wstring& commandLine)
{
    size_t open = commandLine.find(L'"');
    size_t close = commandLine.rfind(L'"');
    if (open == std::wstring::npos || close == open)
        return L"";
    return commandLine.substr(open + 1, close - open - 1);
}

std::wstring describe(const Event& e)
{
    return std::visit(
        Overload{
            [](const event::Pause& p) { return L"pause " + num(p.ms) + L"ms"; },
            [](const event::Start& s) {
                return L"start " + s.program + L" [" + s.commandLine + L"]";
            },
            [](const event::StartFailed& s) { return L"start failed " + s.program; },
            [](const event::Wait& w) {
                return std::wstring(w.hung ? L"hang waiting for process " : L"wait ") +
                       num(w.processId) + (w.hung ? L"" : L" " + num(w.waitedMs) + L"ms") +
                       (w.answersSent ? L" answering sent messages" : L"");
            },
            [](const event::Delete& d) {
                return std::wstring(d.done ? L"delete " : L"delete failed ") + d.path;
            },
            [](const event::InitProgressClass& i) {
                return L"initProgressClass size=" + num(i.size) + L" classes=0x" + hex(i.classes);
            },
            [](const event::CreateDialog& c) {
                return L"createDialog template=" + num(c.templateId) + L" owner=" + hex(c.owner) +
                       L" -> " + hex(c.window);
            },
            [](const event::ShowWindow& s) {
                return L"showWindow " + hex(s.window) + L" " + num(s.command);
            },
            [](const event::BringToFront& b) { return L"bringToFront " + hex(b.window); },
            [](const event::Message& m) {
                return L"message " + hex(m.window) + L" " + num(m.number) + L" " + num(m.first) +
                       L" " + (m.number == message::kSetText ? m.text : std::to_wstring(m.second));
            },
            [](const event::Repaint& r) {
                return L"repaint " + hex(r.window) + L" flags=0x" + hex(r.flags);
            },
            [](const event::DestroyWindow& d) { return L"destroyWindow " + hex(d.window); },
            [](const event::MessageBox& m) {
                return L"message box [" + m.caption + L"] " + m.text;
            },
            [](const event::OpenKey& k) {
                return std::wstring(k.done ? L"open key " : L"open key failed ") + k.key +
                       L" access=0x" + hex(k.access);
            },
            [](const event::DeleteKey& k) {
                return std::wstring(k.done ? L"delete key " : L"delete key failed ") + k.key;
            },
            [](const event::QueryValue& q) {
                return L"query value " + q.name + L" type=" + num(q.type) + L" size=" +
                       num(q.sizeBytes) + (q.withBuffer ? L"" : L" (size only)");
            },
            [](const event::Fault& f) {
                std::string name = opName(f.op);
                return L"fault " + std::wstring(name.begin(), name.end());
            },
        },
        e.what);
}

}  // namespace sim
