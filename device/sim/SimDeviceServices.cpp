// The DeviceServices operations on the simulated device: each fallible one
// asks the device whether this call is to fail (where in its work the real
// one would), then acts on its state and records what it did. The free
// functions at the end, one per line of the operation table, hand each call on.
#include <array>
#include <cstdlib>
#include <cstring>

#include "base/WideText.h"
#include "device/DeviceServices.h"
#include "device/sim/SimDevice.h"
#include "tools/hosttext/HostText.h"

namespace sim {

namespace {

template <typename T> T handleOf(uintptr_t id)
{
    return reinterpret_cast<T>(id);
}

uintptr_t idOf(const void* handle)
{
    return reinterpret_cast<uintptr_t>(handle);
}

void fillEntry(const FileNode& n, device::FoundEntry* entry)
{
    entry->attributes = n.attributes;
    // A bare name fills at most a device path; a longer one is cut.
    int i = 0;
    for (; i < device::kMaxDevicePath && i < static_cast<int>(n.name.size()) && n.name[i] != 0; ++i)
        entry->name[i] = n.name[i];
    entry->name[i] = 0;
}

}  // namespace

// ---- heap ----------------------------------------------------------------------------

// Each block is followed by guard bytes, checked when it is released, so that
// a write past its end shows in every run, not only under the sanitizers.
const size_t kGuardBytes = 16;
const unsigned char kGuard = 0xA5;

void* Device::allocateMemory(size_t bytes)
{
    if (shouldFail(Op::AllocateMemory))
        return nullptr;
    unsigned char* block = static_cast<unsigned char*>(std::malloc(bytes + kGuardBytes));
    if (block) {
        std::memset(block + bytes, kGuard, kGuardBytes);
        allocations_[block] = bytes;
    }
    return block;
}

void Device::releaseMemory(void* block)
{
    if (block == nullptr)
        return;
    auto it = allocations_.find(block);
    if (it == allocations_.end())
        std::abort();  // releasing a block that was never allocated
    const unsigned char* guard = static_cast<unsigned char*>(block) + it->second;
    for (size_t i = 0; i < kGuardBytes; ++i)
        if (guard[i] != kGuard)
            std::abort();  // something wrote past the end of the block
    allocations_.erase(it);
    std::free(block);
}

// ---- files and searches -----------------------------------------------------------

bool Device::findFirst(const wchar_t* pattern, device::FoundEntry* entry)
{
    if (shouldFail(Op::FindFirst))
        return false;
    Search s;
    if (!beginSearch(pattern, &s))
        return false;
    const FileNode* found = nullptr;
    if (!s.aliases && s.pattern.find_first_of(L"*?") == std::wstring::npos) {
        // A plain name can only be the entry at that very path.
        auto it = files_.find(canonical(pattern));
        if (it != files_.end() && nameMatches(s.pattern, it->second.name, false))
            found = &it->second;
    } else {
        found = nextMatch(&s);
    }
    if (found == nullptr)
        return false;
    fillEntry(*found, entry);
    return true;
}

device::SearchHandle Device::findOpen(const wchar_t* pattern, device::FoundEntry* entry)
{
    if (shouldFail(Op::FindOpen))
        return nullptr;
    Search s;
    if (!beginSearch(pattern, &s))
        return nullptr;
    s.openedAt = ++clock_;
    const FileNode* found = nextMatch(&s);
    if (found == nullptr)
        return nullptr;
    fillEntry(*found, entry);
    uintptr_t h = newHandle(Kind::Search, 0);
    searches_[h] = s;
    return handleOf<device::SearchHandle>(h);
}

bool Device::findNext(device::SearchHandle search, device::FoundEntry* entry)
{
    if (!handleIs(idOf(search), Kind::Search))
        std::abort();
    if (shouldFail(Op::FindNext))
        return false;
    // Entries deleted since the search began are no longer returned.
    const FileNode* found = nextMatch(&searches_[idOf(search)]);
    if (found == nullptr)
        return false;
    fillEntry(*found, entry);
    return true;
}

void Device::findClose(device::SearchHandle search)
{
    if (search == nullptr)
        return;
    releaseHandle(idOf(search), Kind::Search);
    searches_.erase(idOf(search));
    if (searches_.empty()) {
        for (const auto& removed : removedDuringSearch_)
            directories_[removed.first].erase(removed.second);
        removedDuringSearch_.clear();
    }
}

device::FileHandle Device::openForRead(const wchar_t* path)
{
    if (shouldFail(Op::OpenForRead))
        return nullptr;
    std::wstring c = canonical(path);
    auto it = files_.find(c);
    if (it == files_.end() || (it->second.attributes & device::kAttrDirectory) != 0)
        return nullptr;
    if (isOpen(c) || it->second.inUse)
        return nullptr;  // no sharing
    uintptr_t h = newHandle(Kind::File, 0);
    openFiles_[h] = OpenFile{c, 0};
    return handleOf<device::FileHandle>(h);
}

bool Device::readBytes(device::FileHandle file, char* buffer, uint32_t capacity,
                       uint32_t* bytesRead)
{
    if (!handleIs(idOf(file), Kind::File))
        std::abort();
    *bytesRead = 0;
    if (shouldFail(Op::ReadBytes))
        return false;
    OpenFile& f = openFiles_[idOf(file)];
    auto it = files_.find(f.path);
    if (it == files_.end())
        return false;
    const std::string& content = it->second.content;
    size_t n =
        f.offset >= content.size() ? 0 : std::min<size_t>(capacity, content.size() - f.offset);
    std::memcpy(buffer, content.data() + f.offset, n);
    f.offset += n;
    *bytesRead = static_cast<uint32_t>(n);
    return true;
}

bool Device::deleteFile(const wchar_t* path)
{
    if (shouldFail(Op::DeleteFile))
        return false;
    std::wstring c = canonical(path);
    auto it = files_.find(c);
    bool ok = it != files_.end() &&
              (it->second.attributes & (device::kAttrDirectory | device::kAttrReadOnly)) == 0 &&
              !it->second.inUse && !isOpen(c);
    record(event::Delete{ok ? it->second.path : std::wstring(path), ok});
    if (ok && !it->second.deleteLeavesIt)
        eraseNode(it);
    return ok;
}

bool Device::isOpen(const std::wstring& canonicalPath) const
{
    for (const auto& open : openFiles_)
        if (open.second.path == canonicalPath)
            return true;
    return false;
}

void Device::closeHandle(device::FileHandle file)
{
    if (file == nullptr)
        return;
    releaseHandle(idOf(file), Kind::File);
    openFiles_.erase(idOf(file));
}

void Device::closeHandle(device::ProcessHandle process)
{
    if (process != nullptr)
        releaseHandle(idOf(process), Kind::Process);
}

void Device::closeHandle(device::ThreadHandle thread)
{
    if (thread != nullptr)
        releaseHandle(idOf(thread), Kind::Thread);
}

// ---- processes --------------------------------------------------------------------

Process* Device::processOf(device::ProcessHandle process)
{
    uint64_t target = 0;
    if (!handleIs(idOf(process), Kind::Process, &target))
        return nullptr;
    auto it = processes_.find(static_cast<uint32_t>(target));
    return it == processes_.end() ? nullptr : &it->second;
}

bool Device::startProgram(const wchar_t* program, wchar_t* commandLine,
                          device::ProcessHandle* process, device::ThreadHandle* thread)
{
    if (shouldFail(Op::StartProgram))
        return false;
    auto prog = programs_.find(canonical(program));
    const FileNode* file = node(program);
    if (prog == programs_.end() || file == nullptr || (file->attributes & device::kAttrDirectory)) {
        record(event::StartFailed{program});
        return false;
    }
    std::wstring line = commandLine ? commandLine : L"";
    // The behaviour may register programs anew: keep copies of what it needs.
    ProgramBehaviour behaviour = prog->second.behaviour;
    std::wstring windowClass = prog->second.windowClass;
    size_t started = events_.size();
    record(event::Start{program, line, commandLine != nullptr,
                        process != nullptr || thread != nullptr, 0});
    ProgramRun run = behaviour ? behaviour(*this, line) : ProgramRun();
    uint32_t pid = spawnProcess(program, run, windowClass);
    processes_[pid].commandLine = line;
    std::get<event::Start>(events_[started].what).processId = pid;
    if (process)
        *process = handleOf<device::ProcessHandle>(newHandle(Kind::Process, pid));
    if (thread)
        *thread = handleOf<device::ThreadHandle>(newHandle(Kind::Thread, pid));
    return true;
}

void Device::waitProcess(device::ProcessHandle process, uint32_t milliseconds)
{
    wait(process, milliseconds, false);
}

void Device::waitProcessAnsweringSent(device::ProcessHandle process, uint32_t milliseconds)
{
    wait(process, milliseconds, true);
}

void Device::wait(device::ProcessHandle process, uint32_t milliseconds, bool answersSent)
{
    Process* p = processOf(process);
    if (p == nullptr)
        std::abort();  // waiting on something that is not an open process handle
    uint32_t pid = p->id;
    uint64_t start = nowMs_;
    if (shouldFail(answersSent ? Op::WaitProcessAnsweringSent : Op::WaitProcess)) {
        record(event::Wait{pid, milliseconds, 0, false, answersSent});
        return;
    }
    bool hung = false;
    if (!p->ended) {
        if (milliseconds == device::kWaitForever && p->endsNever) {
            hung = true;  // the device would hang here; the simulation goes on
        } else {
            uint64_t limit =
                milliseconds == device::kWaitForever ? UINT64_MAX : start + milliseconds;
            advanceTo(p->endsNever ? limit : std::min<uint64_t>(p->endMs, limit));
        }
    }
    events_.push_back(
        Event{start, event::Wait{pid, milliseconds, nowMs_ - start, hung, answersSent}});
}

bool Device::exitStatusReadable(device::ProcessHandle process)
{
    Process* p = processOf(process);
    if (p == nullptr)
        std::abort();
    if (shouldFail(Op::ExitStatusReadable))
        return false;
    return p->exitStatusReadable;
}

device::ProcessHandle Device::openProcessById(uint32_t processId)
{
    if (shouldFail(Op::OpenProcessById))
        return nullptr;
    auto it = processes_.find(processId);
    if (it == processes_.end() || it->second.ended || !it->second.openable)
        return nullptr;
    return handleOf<device::ProcessHandle>(newHandle(Kind::Process, processId));
}

void Device::pause(uint32_t milliseconds)
{
    record(event::Pause{milliseconds});
    advanceTo(nowMs_ + milliseconds);
}

bool Device::ownModulePath(wchar_t* buffer, int capacity)
{
    if (shouldFail(Op::OwnModulePath) || modulePath_.empty())
        return false;
    return vorlund::copyText(buffer, capacity, modulePath_.c_str());
}

// ---- windows ----------------------------------------------------------------------

Window* Device::liveWindow(device::WindowHandle window)
{
    auto it = windows_.find(idOf(window));
    if (it == windows_.end() || it->second.destroyed)
        return nullptr;
    return &it->second;
}

device::WindowHandle Device::lastTopLevelWindow()
{
    walk_.clear();
    if (shouldFail(Op::LastTopLevelWindow) || zOrder_.empty())
        return nullptr;
    walk_ = zOrder_;  // the walk goes over the list as it is now
    return handleOf<device::WindowHandle>(walk_.back());
}

device::WindowHandle Device::windowBefore(device::WindowHandle window)
{
    if (shouldFail(Op::WindowBefore))
        return nullptr;
    auto it = std::find(walk_.begin(), walk_.end(), idOf(window));
    if (it == walk_.end() || it == walk_.begin())
        return nullptr;
    return handleOf<device::WindowHandle>(*(it - 1));
}

bool Device::windowClassName(device::WindowHandle window, wchar_t* buffer, int capacity)
{
    if (shouldFail(Op::WindowClassName))
        return false;
    Window* w = liveWindow(window);
    if (w == nullptr || !w->classNameReadable)
        return false;
    return vorlund::copyText(buffer, std::min(capacity, device::kMaxPath), w->className.c_str());
}

uint32_t Device::windowProcessId(device::WindowHandle window)
{
    if (shouldFail(Op::WindowProcessId))
        return 0;
    Window* w = liveWindow(window);
    return w ? w->processId : 0;
}

device::WindowHandle Device::firstChild(device::WindowHandle window)
{
    if (shouldFail(Op::FirstChild))
        return nullptr;
    std::vector<const Window*> all = children(idOf(window));
    return all.empty() ? nullptr : handleOf<device::WindowHandle>(all.front()->id);
}

device::WindowHandle Device::nextSibling(device::WindowHandle window)
{
    if (shouldFail(Op::NextSibling))
        return nullptr;
    Window* me = liveWindow(window);
    if (me == nullptr)
        return nullptr;
    const std::vector<uintptr_t>& siblings = childWindows_[me->parent];
    for (auto it = std::upper_bound(siblings.begin(), siblings.end(), me->id); it != siblings.end();
         ++it) {
        if (!windows_.at(*it).destroyed)
            return handleOf<device::WindowHandle>(*it);
    }
    return nullptr;
}

bool Device::initProgressClass(const device::ControlClassRecord* record)
{
    this->record(event::InitProgressClass{record->size, record->classes});
    return !shouldFail(Op::InitProgressClass);
}

device::WindowHandle Device::createDialog(device::ModuleHandle module, int templateId,
                                          device::WindowHandle owner,
                                          device::DialogProcedure procedure, ptrdiff_t value)
{
    event::CreateDialog made{idOf(module), templateId, idOf(owner), value, 0};
    if (shouldFail(Op::CreateDialog) || templateId != kProgressTemplate) {
        record(made);
        return nullptr;
    }
    // The launcher's template (by default a status line above a progress bar;
    // see setDialogTemplate).
    uintptr_t id = createWindow(kDialogClass, 1, 0);
    windows_[id].text = L"Brannoch Software";
    windows_[id].visible = true;
    windows_[id].procedure = procedure;
    for (const DialogChild& c : template_) {
        Window& cw = windows_[createWindow(c.className, 1, id)];
        cw.classNameReadable = c.classNameReadable;
        cw.visible = true;
        if (c.className == L"msctls_progress32")
            cw.rangePacked = kNewBarRange;
    }
    made.window = id;
    size_t at = events_.size();
    record(made);
    if (procedure) {
        // A template with its own font gets kSetFont before kInitDialog.
        procedure(handleOf<device::WindowHandle>(id), message::kSetFont, 0, 0);
        bool focusDefault =
            procedure(handleOf<device::WindowHandle>(id), message::kInitDialog, 0, value) != 0;
        std::get<event::CreateDialog>(events_[at].what).focusDefault = focusDefault;
    }
    return handleOf<device::WindowHandle>(id);
}

void Device::showWindow(device::WindowHandle window, int command)
{
    record(event::ShowWindow{idOf(window), command});
    if (Window* w = liveWindow(window))
        w->visible = command != 0;
}

void Device::bringToFront(device::WindowHandle window)
{
    record(event::BringToFront{idOf(window)});
    auto it = std::find(zOrder_.begin(), zOrder_.end(), idOf(window));
    if (it != zOrder_.end()) {
        zOrder_.erase(it);
        zOrder_.insert(zOrder_.begin(), idOf(window));
    }
}

void Device::repaintNow(device::WindowHandle window, uint32_t flags)
{
    Window* w = liveWindow(window);
    event::Repaint r{idOf(window), flags, w != nullptr && w->visible, {}};
    if (w != nullptr)
        for (const Window* c : children(w->id))
            r.children.push_back(*c);
    // Painting now sends kPaint through the dialog's procedure.
    if (w != nullptr && w->procedure != nullptr)
        r.drawn = w->procedure(window, message::kPaint, 0, 0) == 0;
    record(r);
}

void Device::destroyWindow(device::WindowHandle window)
{
    record(event::DestroyWindow{idOf(window)});
    destroyWindowTree(idOf(window));
}

ptrdiff_t Device::sendMessage(device::WindowHandle window, uint32_t number, size_t first,
                              ptrdiff_t second)
{
    if (shouldFail(Op::SendMessage))
        return 0;
    event::Message m{idOf(window), number, first, second, L""};
    Window* w = liveWindow(window);
    if (number == message::kSetText && second != 0) {
        m.text = reinterpret_cast<const wchar_t*>(second);
        if (w)
            w->text = m.text;
    } else if (number == message::kSetRange && w) {
        w->rangePacked = static_cast<uint32_t>(second);
    } else if (number == message::kSetPosition && w) {
        w->position = static_cast<int32_t>(first);
    }
    record(m);
    return 0;
}

void Device::messageBox(device::WindowHandle owner, const wchar_t* text, const wchar_t* caption,
                        uint32_t style)
{
    record(event::MessageBox{idOf(owner), text, caption, style});
}

// ---- registry ---------------------------------------------------------------------

device::KeyHandle Device::openUserKey(const wchar_t* subKey, uint32_t access)
{
    if (shouldFail(Op::OpenUserKey))
        return nullptr;
    std::wstring c = canonical(subKey);
    bool found = registry_.count(c) != 0;
    record(event::OpenKey{subKey, access, found});
    if (!found)
        return nullptr;
    uintptr_t h = newHandle(Kind::Key, 0);
    keyHandles_[h] = c;
    return handleOf<device::KeyHandle>(h);
}

bool Device::queryValue(device::KeyHandle key, const wchar_t* name, uint32_t* type, void* buffer,
                        uint32_t* sizeBytes)
{
    if (!handleIs(idOf(key), Kind::Key))
        std::abort();
    record(event::QueryValue{name, *type, *sizeBytes, buffer != nullptr});
    if (shouldFail(Op::QueryValue))
        return false;
    auto k = registry_.find(keyHandles_[idOf(key)]);
    if (k == registry_.end())
        return false;
    auto v = k->second.find(canonical(name));
    if (v == k->second.end())
        return false;
    // The data is held in 16-bit units, as on the device; the logic reads it
    // as wide characters, which are 32 bits on the host. Each unit becomes one
    // host wide character and sizes count host bytes, so that size /
    // sizeof(wchar_t) is the character count on both. An odd last byte stays
    // one byte, so odd sizes reach the logic as they would on the device.
    const std::vector<uint8_t>& data = v->second.data;
    std::vector<uint8_t> host;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&c);
        host.insert(host.end(), bytes, bytes + sizeof(wchar_t));
    }
    if (data.size() % 2)
        host.push_back(data.back());
    uint32_t size = static_cast<uint32_t>(host.size());
    if (buffer != nullptr) {
        if (*sizeBytes < size) {
            *sizeBytes = size;
            return false;  // the buffer is too small
        }
        if (size)
            std::memcpy(buffer, host.data(), size);
    }
    *sizeBytes = size;
    *type = v->second.type;
    return true;
}

void Device::closeKey(device::KeyHandle key)
{
    if (key == nullptr)
        return;
    releaseHandle(idOf(key), Kind::Key);
    keyHandles_.erase(idOf(key));
}

bool Device::deleteUserKey(const wchar_t* subKey)
{
    if (shouldFail(Op::DeleteUserKey))
        return false;
    std::wstring c = canonical(subKey);
    bool found = false;
    for (auto it = registry_.begin(); it != registry_.end();) {
        if (it->first == c || it->first.rfind(c + L"\\", 0) == 0) {
            it = registry_.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    record(event::DeleteKey{subKey, found});
    return found;
}

// ---- text -------------------------------------------------------------------------

bool Device::ansiToWide(const char* source, int sourceBytes, wchar_t* wide, int capacity)
{
    if (capacity <= 0)
        return false;
    wide[0] = 0;
    if (shouldFail(Op::AnsiToWide) || sourceBytes > capacity)
        return false;
    // Straight into the caller's buffer, one table look-up a byte: the
    // device's conversion takes no heap, and the list reader's figures are
    // to be its own.
    static const std::array<wchar_t, 256> kTable = [] {
        std::array<wchar_t, 256> table{};
        for (int b = 0; b < 256; ++b)
            table[b] = hosttext::fromAnsi(static_cast<unsigned char>(b));
        return table;
    }();
    for (int i = 0; i < sourceBytes; ++i)
        wide[i] = kTable[static_cast<unsigned char>(source[i])];
    // Terminated after the text, as the platform's conversion leaves it when
    // the source carries no terminator.
    wide[sourceBytes < capacity ? sourceBytes : capacity - 1] = 0;
    return true;
}

}  // namespace sim

// ---- the DeviceServices functions: each hands its call to the device --------------------

namespace device {

#define VORLUND_SIM_FORWARD(op, name, result, parameters, arguments)                               \
    result name parameters                                                                         \
    {                                                                                              \
        return sim::current().name arguments;                                                      \
    }
VORLUND_SIM_OPERATIONS(VORLUND_SIM_FORWARD)
#undef VORLUND_SIM_FORWARD

}  // namespace device
