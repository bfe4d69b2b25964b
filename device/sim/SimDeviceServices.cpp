// The DeviceServices operations over the simulated device. Each fallible
// operation first asks the device whether this call is to fail.
#include <cstdlib>
#include <cstring>

#include "device/DeviceServices.h"
#include "device/sim/SimDevice.h"

using sim::Device;
using sim::Op;
using sim::idOf;

namespace {

Device& dev()
{
    return sim::device();
}

template <typename T>
T handleOf(uintptr_t id)
{
    return reinterpret_cast<T>(id);
}

// Bounded copy of a wide string; false when it does not fit.
bool copyOut(const std::wstring& text, wchar_t* buffer, int capacity)
{
    if (capacity <= 0)
        return false;
    if (text.size() + 1 > static_cast<size_t>(capacity)) {
        buffer[0] = 0;
        return false;
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return true;
}

void fillEntry(const sim::FileNode& n, FoundEntry* entry)
{
    entry->attributes = n.attributes;
    // Names on the device are at most 255 characters; a longer one is cut.
    size_t length = std::min(n.name.size(), static_cast<size_t>(kMaxEntryName - 1));
    std::copy(n.name.begin(), n.name.begin() + length, entry->name);
    entry->name[length] = 0;
}

// The matches of a pattern in search order, as canonical paths.
std::vector<std::wstring> searchMatches(const wchar_t* pattern)
{
    std::wstring p(pattern);
    size_t cut = p.find_last_of(L"\\/");
    std::wstring dir = cut == std::wstring::npos ? std::wstring() : p.substr(0, cut);
    std::wstring last = cut == std::wstring::npos ? p : p.substr(cut + 1);
    std::vector<std::wstring> out;
    if (last.empty())
        return out;
    std::wstring cdir = dev().canonical(dir);
    if (cdir != L"\\") {
        const sim::FileNode* d = dev().node(dir);
        if (d == nullptr || (d->attributes & kAttrDirectory) == 0)
            return out;
    }
    for (sim::FileNode* n : dev().childrenOf(cdir)) {
        if (dev().matches(last, n->name))
            out.push_back(dev().canonical(n->path));
    }
    return out;
}

sim::Process* processOf(ProcessHandle process)
{
    uint64_t target = 0;
    if (!dev().handleIs(idOf(process), "process", &target))
        return nullptr;
    return dev().process(static_cast<uint32_t>(target));
}

sim::Window* liveWindow(WindowHandle w)
{
    auto it = dev().windows_.find(idOf(w));
    if (it == dev().windows_.end() || it->second.destroyed)
        return nullptr;
    return &it->second;
}

std::wstring hex(uintptr_t v)
{
    wchar_t buf[32];
    swprintf(buf, 32, L"%lx", static_cast<unsigned long>(v));
    return buf;
}

}  // namespace

// ---- heap ----------------------------------------------------------------------------

void* allocateMemory(size_t bytes)
{
    if (dev().shouldFail(Op::Allocate))
        return nullptr;
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block)
        dev().allocations_[block] = bytes;
    return block;
}

void releaseMemory(void* block)
{
    if (block == nullptr)
        return;
    auto it = dev().allocations_.find(block);
    if (it == dev().allocations_.end())
        std::abort();  // releasing a block that was never allocated
    dev().allocations_.erase(it);
    std::free(block);
}

// ---- files and searches -----------------------------------------------------------

bool findFirst(const wchar_t* pattern, FoundEntry* entry)
{
    if (dev().shouldFail(Op::FindFirst))
        return false;
    std::vector<std::wstring> found = searchMatches(pattern);
    if (found.empty())
        return false;
    fillEntry(dev().files_.at(found.front()), entry);
    return true;
}

SearchHandle findOpen(const wchar_t* pattern, FoundEntry* entry)
{
    if (dev().shouldFail(Op::FindOpen))
        return nullptr;
    std::vector<std::wstring> found = searchMatches(pattern);
    if (found.empty())
        return nullptr;
    fillEntry(dev().files_.at(found.front()), entry);
    uintptr_t h = dev().newHandle("search", 0);
    Device::Search s;
    s.names = found;
    s.next = 1;
    dev().searches_[h] = s;
    return handleOf<SearchHandle>(h);
}

bool findNext(SearchHandle search, FoundEntry* entry)
{
    if (!dev().handleIs(idOf(search), "search", nullptr))
        std::abort();
    if (dev().shouldFail(Op::FindNext))
        return false;
    Device::Search& s = dev().searches_[idOf(search)];
    // Entries deleted since the search began are no longer returned.
    while (s.next < s.names.size()) {
        auto it = dev().files_.find(s.names[s.next++]);
        if (it != dev().files_.end()) {
            fillEntry(it->second, entry);
            return true;
        }
    }
    return false;
}

void findClose(SearchHandle search)
{
    if (search == nullptr)
        return;
    dev().releaseHandle(idOf(search), "search");
    dev().searches_.erase(idOf(search));
}

FileHandle openForRead(const wchar_t* path)
{
    if (dev().shouldFail(Op::OpenForRead))
        return nullptr;
    std::wstring c = dev().canonical(path);
    auto it = dev().files_.find(c);
    if (it == dev().files_.end() || (it->second.attributes & kAttrDirectory) != 0)
        return nullptr;
    if (dev().openFiles_.count(c) || it->second.inUse)
        return nullptr;  // no sharing
    dev().openFiles_.insert(c);
    uintptr_t h = dev().newHandle("file", 0);
    dev().files_open_[h] = Device::OpenFile{c, 0};
    return handleOf<FileHandle>(h);
}

bool readBytes(FileHandle file, char* buffer, UInt32 capacity, UInt32* bytesRead)
{
    if (!dev().handleIs(idOf(file), "file", nullptr))
        std::abort();
    *bytesRead = 0;
    if (dev().shouldFail(Op::ReadBytes))
        return false;
    Device::OpenFile& f = dev().files_open_[idOf(file)];
    auto it = dev().files_.find(f.path);
    if (it == dev().files_.end())
        return false;
    const std::string& content = it->second.content;
    size_t n = f.offset >= content.size() ? 0 : std::min<size_t>(capacity, content.size() - f.offset);
    std::memcpy(buffer, content.data() + f.offset, n);
    f.offset += n;
    *bytesRead = static_cast<UInt32>(n);
    return true;
}

bool deleteFile(const wchar_t* path)
{
    if (dev().shouldFail(Op::DeleteFile))
        return false;
    std::wstring c = dev().canonical(path);
    auto it = dev().files_.find(c);
    bool ok = it != dev().files_.end() &&
              (it->second.attributes & (kAttrDirectory | kAttrReadOnly)) == 0 &&
              !it->second.inUse && !dev().openFiles_.count(c);
    if (ok) {
        dev().deletions_.push_back(it->second.path);
        dev().note(L"delete " + it->second.path);
        dev().files_.erase(it);
    } else {
        dev().note(L"delete failed " + std::wstring(path));
    }
    return ok;
}

void closeHandle(FileHandle file)
{
    if (file == nullptr)
        return;
    dev().releaseHandle(idOf(file), "file");
    dev().openFiles_.erase(dev().files_open_[idOf(file)].path);
    dev().files_open_.erase(idOf(file));
}

void closeHandle(ProcessHandle process)
{
    if (process != nullptr)
        dev().releaseHandle(idOf(process), "process");
}

void closeHandle(ThreadHandle thread)
{
    if (thread != nullptr)
        dev().releaseHandle(idOf(thread), "thread");
}

// ---- processes --------------------------------------------------------------------

bool startProgram(const wchar_t* program, const wchar_t* commandLine,
                  ProcessHandle* process, ThreadHandle* thread)
{
    if (dev().shouldFail(Op::StartProgram))
        return false;
    sim::StartRecord rec{program, commandLine ? commandLine : L"", commandLine != nullptr,
                         process != nullptr || thread != nullptr, dev().now()};
    std::wstring c = dev().canonical(program);
    auto prog = dev().programs_.find(c);
    const sim::FileNode* file = dev().node(program);
    if (prog == dev().programs_.end() || file == nullptr || (file->attributes & kAttrDirectory)) {
        dev().note(L"start failed " + std::wstring(program));
        return false;
    }
    dev().starts_.push_back(rec);
    dev().note(L"start " + std::wstring(program) + L" [" + rec.commandLine + L"]");
    sim::ProgramBehaviour behaviour = prog->second.behaviour;  // may re-register programs
    std::wstring windowClass = prog->second.windowClass;
    sim::ProgramRun run = behaviour ? behaviour(dev(), rec.commandLine) : sim::ProgramRun();
    uint32_t pid = dev().spawnProcess(program, run, windowClass);
    dev().process(pid)->commandLine = rec.commandLine;
    if (process)
        *process = handleOf<ProcessHandle>(dev().newHandle("process", pid));
    if (thread)
        *thread = handleOf<ThreadHandle>(dev().newHandle("thread", pid));
    return true;
}

void waitProcess(ProcessHandle process, UInt32 milliseconds)
{
    sim::Process* p = processOf(process);
    if (p == nullptr)
        std::abort();  // waiting on something that is not an open process handle
    uint32_t pid = p->id;
    uint64_t start = dev().now();
    if (dev().shouldFail(Op::WaitProcess)) {
        dev().waits_.push_back({pid, milliseconds, 0});
        return;
    }
    if (!p->ended) {
        if (milliseconds == kWaitForever && p->endsNever) {
            // The device would hang here; the simulation notes it and goes on.
            dev().hungForever_ = true;
            dev().note(L"hang waiting for process " + std::to_wstring(pid));
        } else {
            uint64_t limit = milliseconds == kWaitForever ? UINT64_MAX : start + milliseconds;
            uint64_t until = p->endsNever ? limit : std::min<uint64_t>(p->endMs, limit);
            dev().advanceTo(until);
        }
    }
    dev().waits_.push_back({pid, milliseconds, dev().now() - start});
    dev().note(L"wait " + std::to_wstring(pid) + L" " + std::to_wstring(dev().now() - start) + L"ms");
}

bool exitStatusReadable(ProcessHandle process)
{
    sim::Process* p = processOf(process);
    if (p == nullptr)
        std::abort();
    if (dev().shouldFail(Op::ExitStatusReadable))
        return false;
    return p->exitStatusReadable;
}

ProcessHandle openProcessById(UInt32 processId)
{
    if (dev().shouldFail(Op::OpenProcessById))
        return nullptr;
    sim::Process* p = dev().process(processId);
    if (p == nullptr || p->ended || !p->openable)
        return nullptr;
    return handleOf<ProcessHandle>(dev().newHandle("process", processId));
}

void pause(UInt32 milliseconds)
{
    dev().pauses_.push_back(milliseconds);
    dev().note(L"pause " + std::to_wstring(milliseconds) + L"ms");
    dev().advanceTo(dev().now() + milliseconds);
}

bool ownModulePath(wchar_t* buffer, int capacity)
{
    if (dev().shouldFail(Op::OwnModulePath) || !dev().hasModulePath_)
        return false;
    return copyOut(dev().modulePath_, buffer, capacity);
}

// ---- windows ----------------------------------------------------------------------

WindowHandle lastTopLevelWindow()
{
    if (dev().shouldFail(Op::LastTopLevelWindow) || dev().zOrder_.empty())
        return nullptr;
    return handleOf<WindowHandle>(dev().zOrder_.back());
}

WindowHandle windowBefore(WindowHandle window)
{
    if (dev().shouldFail(Op::WindowBefore))
        return nullptr;
    // A window that closed meanwhile has no place in the Z-order: the walk ends.
    auto& z = dev().zOrder_;
    auto it = std::find(z.begin(), z.end(), idOf(window));
    if (it == z.end() || it == z.begin())
        return nullptr;
    return handleOf<WindowHandle>(*(it - 1));
}

bool windowClassName(WindowHandle window, wchar_t* buffer, int capacity)
{
    if (dev().shouldFail(Op::WindowClassName))
        return false;
    sim::Window* w = liveWindow(window);
    if (w == nullptr || !w->classNameReadable)
        return false;
    return copyOut(w->className, buffer, std::min(capacity, static_cast<int>(kMaxPath)));
}

UInt32 windowProcessId(WindowHandle window)
{
    if (dev().shouldFail(Op::WindowProcessId))
        return 0;
    sim::Window* w = liveWindow(window);
    return w ? w->processId : 0;
}

WindowHandle firstChild(WindowHandle window)
{
    if (dev().shouldFail(Op::FirstChild))
        return nullptr;
    for (auto& w : dev().windows_) {
        if (w.second.parent == idOf(window) && !w.second.destroyed)
            return handleOf<WindowHandle>(w.first);
    }
    return nullptr;
}

WindowHandle nextSibling(WindowHandle window)
{
    if (dev().shouldFail(Op::NextSibling))
        return nullptr;
    sim::Window* me = liveWindow(window);
    if (me == nullptr)
        return nullptr;
    auto it = dev().windows_.upper_bound(me->id);
    for (; it != dev().windows_.end(); ++it) {
        if (it->second.parent == me->parent && !it->second.destroyed)
            return handleOf<WindowHandle>(it->first);
    }
    return nullptr;
}

bool initProgressClass(const ControlClassRecord* record)
{
    dev().note(L"initProgressClass size=" + std::to_wstring(record->size) +
               L" classes=0x" + hex(record->classes));
    return !dev().shouldFail(Op::InitProgressClass);
}

WindowHandle createDialog(ModuleHandle module, int templateId, WindowHandle owner,
                          DialogProcedure procedure, ptrdiff_t value)
{
    dev().note(L"createDialog module=" + hex(idOf(module)) + L" template=" +
               std::to_wstring(templateId) + L" owner=" + hex(idOf(owner)) +
               L" value=" + std::to_wstring(value));
    if (dev().shouldFail(Op::CreateDialog) || dev().dialogCreationFails || templateId != 101)
        return nullptr;
    // The launcher's template 101 (by default a status line above a progress
    // bar; see Device::dialogTemplate).
    uintptr_t id = dev().createWindow(L"#32770", 1, 0);
    sim::Window& w = dev().windows_[id];
    w.text = L"Brannoch Software";
    w.style = 0x90C00A40;
    w.visible = true;
    w.procedure = procedure;
    for (const sim::DialogChild& c : dev().dialogTemplate) {
        uintptr_t child = dev().createWindow(c.className, 1, id);
        sim::Window& cw = dev().windows_[child];
        cw.classNameReadable = c.classNameReadable;
        cw.visible = true;
        if (c.className == L"static") {
            cw.controlId = -1;
            cw.style = 0x50020001;
        } else if (c.className == L"msctls_progress32") {
            cw.controlId = 1002;
            cw.style = 0x50800001;
            cw.rangePacked = 100u << 16;  // a new bar's range: 0 to 100
        }
    }
    if (procedure) {
        // A template with its own font gets WM_SETFONT before WM_INITDIALOG.
        procedure(handleOf<WindowHandle>(id), 0x30, 0, 0);
        procedure(handleOf<WindowHandle>(id), 0x110, 0, value);
    }
    return handleOf<WindowHandle>(id);
}

void showWindow(WindowHandle window, int command)
{
    dev().note(L"showWindow " + hex(idOf(window)) + L" " + std::to_wstring(command));
    if (sim::Window* w = liveWindow(window))
        w->visible = command != 0;
}

void bringToFront(WindowHandle window)
{
    dev().note(L"bringToFront " + hex(idOf(window)));
    auto& z = dev().zOrder_;
    auto it = std::find(z.begin(), z.end(), idOf(window));
    if (it != z.end()) {
        z.erase(it);
        z.insert(z.begin(), idOf(window));
    }
}

void repaintNow(WindowHandle window, UInt32 flags)
{
    dev().note(L"repaint " + hex(idOf(window)) + L" flags=0x" + hex(flags));
    sim::Window* w = liveWindow(window);
    sim::RepaintRecord rec{idOf(window), flags, dev().now(), w != nullptr && w->visible, {}};
    for (auto& c : dev().windows_) {
        if (w != nullptr && c.second.parent == w->id && !c.second.destroyed)
            rec.children.push_back(c.second);
    }
    dev().repaints_.push_back(rec);
    // Painting now sends WM_PAINT through the dialog's procedure.
    if (w != nullptr && w->procedure != nullptr)
        w->procedure(window, 0x0F, 0, 0);
}

void destroyWindow(WindowHandle window)
{
    dev().note(L"destroyWindow " + hex(idOf(window)));
    dev().destroyWindowTree(idOf(window));
}

ptrdiff_t sendMessage(WindowHandle window, UInt32 message, size_t first, ptrdiff_t second)
{
    if (dev().shouldFail(Op::SendMessage))
        return 0;
    sim::MessageRecord rec{idOf(window), message, first, L"", second};
    sim::Window* w = liveWindow(window);
    if (message == 12 && second != 0) {
        rec.text = reinterpret_cast<const wchar_t*>(second);
        if (w)
            w->text = rec.text;
    } else if (message == 1025 && w) {
        w->rangePacked = static_cast<uint32_t>(second);
    } else if (message == 1026 && w) {
        w->position = static_cast<int32_t>(first);
    }
    dev().sent_.push_back(rec);
    dev().note(L"message " + hex(idOf(window)) + L" " + std::to_wstring(message) + L" " +
               std::to_wstring(first) + L" " + (message == 12 ? rec.text : std::to_wstring(second)));
    return 0;
}

void messageBox(WindowHandle owner, const wchar_t* text, const wchar_t* caption, UInt32 style)
{
    dev().messageBoxes_.push_back({idOf(owner), text, caption, style, dev().now()});
    dev().note(L"message box [" + std::wstring(caption) + L"] " + text);
}

// ---- registry ---------------------------------------------------------------------

KeyHandle openUserKey(const wchar_t* subKey, UInt32 access)
{
    if (dev().shouldFail(Op::OpenUserKey))
        return nullptr;
    std::wstring c = dev().canonical(subKey);
    if (!dev().registry_.count(c))
        return nullptr;
    dev().note(L"open key " + std::wstring(subKey) + L" access=0x" + hex(access));
    uintptr_t h = dev().newHandle("key", 0);
    dev().keyHandles_[h] = c;
    return handleOf<KeyHandle>(h);
}

// Registry data in 16-bit little-endian units, re-laid as host wide characters.
static std::vector<uint8_t> hostWideBytes(const std::vector<uint8_t>& deviceData)
{
    std::vector<uint8_t> out;
    size_t units = deviceData.size() / 2;
    out.reserve(units * sizeof(wchar_t) + deviceData.size() % 2);
    for (size_t i = 0; i < units; ++i) {
        wchar_t c = static_cast<wchar_t>(deviceData[2 * i] | (deviceData[2 * i + 1] << 8));
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&c);
        out.insert(out.end(), bytes, bytes + sizeof(wchar_t));
    }
    if (deviceData.size() % 2)
        out.push_back(deviceData.back());
    return out;
}

bool queryValue(KeyHandle key, const wchar_t* name, UInt32* type, void* buffer, UInt32* sizeBytes)
{
    if (!dev().handleIs(idOf(key), "key", nullptr))
        std::abort();
    if (dev().shouldFail(Op::QueryValue))
        return false;
    auto k = dev().registry_.find(dev().keyHandles_[idOf(key)]);
    if (k == dev().registry_.end())
        return false;
    auto v = k->second.find(dev().canonical(name));
    if (v == k->second.end())
        return false;
    // The data is stored as the device holds it, in 16-bit units; the logic
    // reads it as wide characters, which are 32 bits on the host. Each unit
    // becomes one host wide character and sizes count host bytes, so that
    // size / sizeof(wchar_t) is the character count on both. An odd last byte
    // stays one byte, so odd sizes reach the logic as they would on the device.
    std::vector<uint8_t> hostData = hostWideBytes(v->second.data);
    UInt32 size = static_cast<UInt32>(hostData.size());
    if (buffer != nullptr) {
        if (*sizeBytes < size) {
            *sizeBytes = size;
            return false;  // the buffer is too small
        }
        if (size)
            std::memcpy(buffer, hostData.data(), size);
    }
    *sizeBytes = size;
    if (type)
        *type = v->second.type;
    return true;
}

void closeKey(KeyHandle key)
{
    if (key == nullptr)
        return;
    dev().releaseHandle(idOf(key), "key");
    dev().keyHandles_.erase(idOf(key));
}

bool deleteUserKey(const wchar_t* subKey)
{
    if (dev().shouldFail(Op::DeleteUserKey))
        return false;
    std::wstring c = dev().canonical(subKey);
    bool found = false;
    for (auto it = dev().registry_.begin(); it != dev().registry_.end();) {
        if (it->first == c || it->first.rfind(c + L"\\", 0) == 0) {
            it = dev().registry_.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    dev().note(std::wstring(found ? L"delete key " : L"delete key failed ") + subKey);
    return found;
}

// ---- text -------------------------------------------------------------------------

bool ansiToWide(const char* source, int sourceBytes, wchar_t* wide, int capacity)
{
    if (capacity <= 0)
        return false;
    wide[0] = 0;
    if (dev().shouldFail(Op::AnsiToWide))
        return false;
    if (sourceBytes > capacity)
        return false;
    std::wstring w = sim::fromAnsi(std::string(source, source + sourceBytes));
    std::copy(w.begin(), w.end(), wide);
    wide[capacity - 1] = 0;
    return true;
}
