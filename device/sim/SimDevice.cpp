// The simulated device's state and control interface (see SimDevice.h).
#include "device/sim/SimDevice.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace sim {

const char* opName(Op op)
{
    static const char* const names[] = {
        "findFirst", "findOpen", "findNext", "openForRead", "readBytes", "deleteFile",
        "startProgram", "waitProcess", "exitStatusReadable", "openProcessById",
        "ownModulePath", "lastTopLevelWindow", "windowBefore", "windowClassName",
        "windowProcessId", "firstChild", "nextSibling", "initProgressClass", "createDialog",
        "sendMessage", "openUserKey", "queryValue", "deleteUserKey", "ansiToWide", "allocate"};
    static_assert(sizeof(names) / sizeof(names[0]) == kOpCount, "one name per operation");
    return names[static_cast<int>(op)];
}

Device& device()
{
    static Device instance;
    return instance;
}

void Device::reset()
{
    for (auto& a : allocations_)
        std::free(a.first);
    *this = Device();
}

// ---- paths and storage ------------------------------------------------------------

static wchar_t fold(wchar_t c)
{
    if (c >= L'A' && c <= L'Z')
        return static_cast<wchar_t>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<wchar_t>(c + 32);
    return c;
}

std::wstring Device::canonical(const std::wstring& path) const
{
    // Rooted at "\": a path without a leading backslash is taken from the root,
    // as the device has no current directory. Repeated separators collapse.
    std::wstring out = L"\\";
    for (wchar_t c : path) {
        if (c == L'\\' || c == L'/') {
            if (out.back() != L'\\')
                out.push_back(L'\\');
        } else {
            out.push_back(fold(c));
        }
    }
    if (out.size() > 1 && out.back() == L'\\')
        out.pop_back();
    return out;
}

std::wstring Device::parentOf(const std::wstring& canonicalPath) const
{
    if (canonicalPath == L"\\")
        return L"";
    size_t cut = canonicalPath.rfind(L'\\');
    return cut == 0 ? std::wstring(L"\\") : canonicalPath.substr(0, cut);
}

static std::wstring lastComponent(const std::wstring& path)
{
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

void Device::addDirectory(const std::wstring& path, uint32_t attributes)
{
    std::wstring c = canonical(path);
    if (c == L"\\")
        return;
    std::wstring parent = parentOf(c);
    if (parent != L"\\" && !files_.count(parent)) {
        size_t cut = path.find_last_of(L"\\/");
        addDirectory(cut == std::wstring::npos ? std::wstring() : path.substr(0, cut));
    }
    auto it = files_.find(c);
    if (it != files_.end()) {
        it->second.attributes |= kAttrDirectory | attributes;
        return;
    }
    FileNode n;
    n.path = path;
    n.name = lastComponent(path);
    n.attributes = kAttrDirectory | attributes;
    n.order = nextOrder_++;
    files_[c] = n;
}

void Device::addFile(const std::wstring& path, const std::string& content, uint32_t attributes)
{
    std::wstring c = canonical(path);
    std::wstring parent = parentOf(c);
    if (parent != L"\\" && !files_.count(parent)) {
        size_t cut = path.find_last_of(L"\\/");
        addDirectory(path.substr(0, cut));
    }
    auto it = files_.find(c);
    if (it != files_.end()) {
        it->second.content = content;
        it->second.attributes = attributes;
        return;
    }
    FileNode n;
    n.path = path;
    n.name = lastComponent(path);
    n.attributes = attributes;
    n.content = content;
    n.order = nextOrder_++;
    files_[c] = n;
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

FileNode* Device::node(const std::wstring& path)
{
    auto it = files_.find(canonical(path));
    return it == files_.end() ? nullptr : &it->second;
}

bool Device::remove(const std::wstring& path)
{
    return files_.erase(canonical(path)) != 0;
}

void Device::setAttributes(const std::wstring& path, uint32_t attributes)
{
    FileNode* n = node(path);
    if (n == nullptr)
        throw std::runtime_error("setAttributes: no such entry");
    n->attributes = attributes;
}

std::vector<FileNode*> Device::childrenOf(const std::wstring& canonicalDir)
{
    std::vector<FileNode*> out;
    for (auto& f : files_) {
        if (parentOf(f.first) == canonicalDir)
            out.push_back(&f.second);
    }
    std::sort(out.begin(), out.end(),
              [](const FileNode* a, const FileNode* b) { return a->order < b->order; });
    return out;
}

std::vector<std::wstring> Device::list(const std::wstring& directory) const
{
    std::vector<std::wstring> out;
    for (FileNode* n : const_cast<Device*>(this)->childrenOf(canonical(directory)))
        out.push_back(n->name);
    return out;
}

static bool wildcardMatch(const wchar_t* p, const wchar_t* s)
{
    // Iterative * and ? matching with one backtrack point.
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*s) {
        if (*p == L'?' || (*p != L'*' && *p != 0 && fold(*p) == fold(*s))) {
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

bool Device::matches(const std::wstring& pattern, const std::wstring& name) const
{
    if (wildcardMatch(pattern.c_str(), name.c_str()))
        return true;
    if (!desktopAliasMatching)
        return false;
    // The 8.3 alias keeps the first three characters of the extension.
    size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos || name.size() - dot - 1 <= 3)
        return false;
    std::wstring alias = name.substr(0, dot + 4);
    return wildcardMatch(pattern.c_str(), alias.c_str());
}

// ---- processes and windows ---------------------------------------------------------

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
    for (auto& w : windows_) {
        if (w.second.parent == id)
            destroyWindowTree(w.first);
    }
}

uintptr_t Device::addTopLevelWindow(const std::wstring& className, uint32_t processId)
{
    return createWindow(className, processId, 0);
}

uint32_t Device::spawnProcess(const std::wstring& program, const ProgramRun& run,
                              const std::wstring& windowClass)
{
    Process p;
    p.id = nextProcessId_;
    nextProcessId_ += 4;
    p.program = program;
    p.startMs = nowMs_;
    p.endMs = nowMs_ + run.durationMs;
    p.endsNever = run.endsNever;
    p.exitCode = run.exitCode;
    p.exitStatusReadable = run.exitStatusReadable;
    if (!windowClass.empty())
        p.windows.push_back(createWindow(windowClass, p.id, 0));
    processes_[p.id] = p;
    return p.id;
}

Process* Device::process(uint32_t id)
{
    auto it = processes_.find(id);
    return it == processes_.end() ? nullptr : &it->second;
}

void Device::endProcess(Process& p)
{
    p.ended = true;
    for (uintptr_t w : p.windows)
        destroyWindowTree(w);
}

void Device::advanceTo(uint64_t timeMs)
{
    if (timeMs < nowMs_)
        return;
    for (;;) {
        Process* next = nullptr;
        for (auto& p : processes_) {
            Process& q = p.second;
            if (!q.ended && !q.endsNever && q.endMs <= timeMs && (!next || q.endMs < next->endMs))
                next = &q;
        }
        if (!next)
            break;
        nowMs_ = std::max(nowMs_, next->endMs);
        endProcess(*next);
    }
    nowMs_ = timeMs;
}

const Window* Device::window(uintptr_t id) const
{
    auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : &it->second;
}

std::vector<const Window*> Device::dialogs() const
{
    std::vector<const Window*> out;
    for (auto& w : windows_) {
        if (w.second.className == L"#32770")
            out.push_back(&w.second);
    }
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

const Window* RepaintRecord::child(const std::wstring& className) const
{
    for (const Window& w : children) {
        if (w.className == className)
            return &w;
    }
    return nullptr;
}

std::wstring RepaintRecord::statusText() const
{
    const Window* text = child(L"static");
    return text ? text->text : std::wstring();
}

// ---- registry --------------------------------------------------------------------

void Device::addRegistryKey(const std::wstring& key)
{
    registry_[canonical(key)];
}

void Device::setRegistryValue(const std::wstring& key, const std::wstring& name,
                              const std::vector<uint8_t>& data, uint32_t type)
{
    RegistryValue v;
    v.type = type;
    v.data = data;
    registry_[canonical(key)][canonical(name)] = v;
}

void Device::setRegistryString(const std::wstring& key, const std::wstring& name,
                               const std::wstring& text)
{
    // Stored as the device stores it: UTF-16 little-endian with a terminator.
    std::vector<uint8_t> data;
    for (wchar_t c : text) {
        data.push_back(static_cast<uint8_t>(c & 0xFF));
        data.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    data.push_back(0);
    data.push_back(0);
    setRegistryValue(key, name, data, 1);
}

bool Device::registryKeyExists(const std::wstring& key) const
{
    return registry_.count(canonical(key)) != 0;
}

// ---- faults and handles -----------------------------------------------------------

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
    for (const Rule& r : rules_) {
        if (r.op == op && (r.persistent ? count >= r.nth : count == r.nth))
            fail = true;
    }
    if (fail) {
        ++injectedFaults_;
        std::string name = opName(op);
        trace_.push_back(L"fault " + std::wstring(name.begin(), name.end()));
    }
    return fail;
}

uintptr_t Device::newHandle(const std::string& kind, uint64_t target)
{
    uintptr_t h = nextHandle_;
    nextHandle_ += 4;
    handles_[h] = HandleRecord{kind, target};
    return h;
}

bool Device::handleIs(uintptr_t handle, const std::string& kind, uint64_t* target) const
{
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.kind != kind)
        return false;
    if (target)
        *target = it->second.target;
    return true;
}

void Device::releaseHandle(uintptr_t handle, const std::string& kind)
{
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.kind != kind)
        throw std::logic_error("closing a handle that is not an open " + kind);
    handles_.erase(it);
}

std::map<std::string, int> Device::openHandles() const
{
    std::map<std::string, int> out;
    for (auto& h : handles_)
        ++out[h.second.kind];
    return out;
}

// ---- text ------------------------------------------------------------------------

// Windows-1252 bytes 0x80-0x9F; the five bytes it leaves undefined map to the
// C1 control of the same value, as the platform's conversion does.
static const wchar_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::wstring fromAnsi(const std::string& text)
{
    std::wstring out;
    for (unsigned char c : text)
        out.push_back(c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<wchar_t>(c));
    return out;
}

std::string toAnsi(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        char mapped = '?';
        for (int i = 0; i < 32; ++i) {
            if (kCp1252High[i] == c)
                mapped = static_cast<char>(0x80 + i);
        }
        out.push_back(mapped);
    }
    return out;
}

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t wc : text) {
        uint32_t c = static_cast<uint32_t>(wc);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

}  // namespace sim
