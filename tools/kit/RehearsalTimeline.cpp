// The device's record, in order, as the rehearsal's events. The progress
// window is followed control by control, so that what it shows between two
// repaints is known too.
#include "tools/kit/RehearsalTimeline.h"

#include <map>

#include "launcher/LauncherSequence.h"
#include "tools/hosttext/HostText.h"

namespace kit {

namespace {

void describeBar(const sim::Window& bar, Event* e)
{
    e->hasBar = true;
    e->lower = bar.rangePacked & 0xFFFFu;
    e->upper = bar.rangePacked >> 16;
    e->position = bar.position;
    e->fill = sim::barFill(bar);
}

// A control as the dialog creates it: no text, a bar over 0 to 100.
sim::Window fresh(const sim::Window& w)
{
    sim::Window c = w;
    c.text.clear();
    c.position = 0;
    c.rangePacked = w.className == L"msctls_progress32" ? sim::kNewBarRange : 0;
    return c;
}

// What the main package's installer did before it called the hook.
void installerEvents(const TimelineSource& s, std::vector<Event>* events)
{
    Event e;
    e.by = Actor::Installer;
    e.kind = EventKind::Copy;
    for (const Entry& entry : s.layout.entries) {
        e.text = entry.path;
        if (!entry.directory && s.loaded.count(entry.path))
            events->push_back(e);
    }
    e.kind = EventKind::Registry;
    for (const RegistryValue& v : s.layout.registry) {
        e.text = L"set " + v.key + L" " + (v.name.empty() ? L"(default)" : v.name);
        if (v.type == 1)
            e.text += L" = \"" + hosttext::fromUtf16le(v.data) + L"\"";
        events->push_back(e);
    }
}

class Reader {
public:
    Reader(const sim::Device& d, const TimelineSource& s)
        : d_(d), s_(s), hasWindow_(!d.dialogs().empty())
    {}
    std::vector<Event> read();

private:
    bool followWindow(const sim::Event& record);
    bool describe(const sim::Event& record, Event* e);
    // The window as the controls were last sent to, when it changed since
    // it was last drawn.
    void flushWindow(Actor by, uint64_t timeMs);

    const sim::Device& d_;
    const TimelineSource& s_;
    bool hasWindow_;
    std::map<uintptr_t, sim::Window> controls_;
    bool changed_ = false;
    size_t runs_ = 0;
    std::vector<Event> events_;
};

void Reader::flushWindow(Actor by, uint64_t timeMs)
{
    if (!changed_)
        return;
    changed_ = false;
    Event e;
    e.kind = EventKind::Window;
    e.by = by;
    e.timeMs = timeMs;
    for (const auto& c : controls_) {
        if (c.second.className == L"static" && !e.hasText) {
            e.hasText = true;
            e.text = c.second.text;
        } else if (c.second.className == L"msctls_progress32" && !e.hasBar) {
            describeBar(c.second, &e);
        }
    }
    events_.push_back(std::move(e));
}

// Creation and messages change the controls; true when the record was one.
bool Reader::followWindow(const sim::Event& record)
{
    if (auto* c = std::get_if<sim::event::CreateDialog>(&record.what)) {
        // The window shows as created until something changes it; without a
        // list nothing ever does.
        if (hasWindow_ && c->window != 0) {
            for (const sim::Window* w : d_.children(c->window))
                controls_[w->id] = fresh(*w);
            changed_ = true;
        }
        return true;
    }
    if (auto* m = std::get_if<sim::event::Message>(&record.what)) {
        const sim::Window* w = d_.window(m->window);
        if (!hasWindow_ || w == nullptr)
            return true;
        sim::Window& c = controls_.emplace(m->window, fresh(*w)).first->second;
        if (m->number == sim::message::kSetText)
            c.text = m->text;
        else if (m->number == sim::message::kSetRange)
            c.rangePacked = static_cast<uint32_t>(m->second);
        else if (m->number == sim::message::kSetPosition)
            c.position = static_cast<int32_t>(m->first);
        changed_ = true;
        return true;
    }
    return false;
}

// The event a record shows; false for set-up steps and faults.
bool Reader::describe(const sim::Event& record, Event* e)
{
    if (auto* w = std::get_if<sim::event::Wait>(&record.what)) {
        if (w->askedMs != vorlund::kInstallerWaitMs)
            return false;  // the launcher's own installer runs: shown with their start
        e->kind = EventKind::Wait;
        e->waitedMs = w->waitedMs;
        e->processId = w->processId;
    } else if (auto* b = std::get_if<sim::event::MessageBox>(&record.what)) {
        e->kind = EventKind::MessageBox;
        e->text = b->text;
        e->caption = b->caption;
    } else if (std::holds_alternative<sim::event::DestroyWindow>(record.what) && hasWindow_) {
        e->kind = EventKind::WindowClosed;
    } else if (auto* f = std::get_if<sim::event::StartFailed>(&record.what)) {
        e->program = f->program;
        e->kind = e->program == vorlund::kInstallerProgram ? EventKind::InstallFailed
                                                           : EventKind::StartFailed;
    } else if (auto* s = std::get_if<sim::event::Start>(&record.what)) {
        e->program = s->program;
        e->text = s->commandLine;
        e->kind = EventKind::Start;
        if (s->program == vorlund::kInstallerProgram && runs_ < s_.runs.size()) {
            e->kind = EventKind::Install;
            e->rejected = s_.runs[runs_++].rejected;
            e->exitCode = e->rejected ? 1 : 0;
        }
    } else if (auto* x = std::get_if<sim::event::Delete>(&record.what)) {
        e->kind = x->done ? EventKind::Delete : EventKind::DeleteFailed;
        e->text = x->path;
    } else if (std::holds_alternative<sim::event::DeleteKey>(record.what)) {
        e->kind = EventKind::Registry;
        e->text = sim::describe(record);
    } else {
        return false;
    }
    return true;
}

std::vector<Event> Reader::read()
{
    if (s_.layout.package)
        installerEvents(s_, &events_);
    const std::vector<sim::Event>& record = d_.events();
    for (size_t i = 0; i < record.size(); ++i) {
        Actor by = s_.fromHook && i < s_.hookEventsEnd ? Actor::Hook : Actor::Launcher;
        if (followWindow(record[i]))
            continue;
        if (auto* r = std::get_if<sim::event::Repaint>(&record[i].what)) {
            if (!hasWindow_)
                continue;
            Event e;
            e.by = by;
            e.timeMs = record[i].timeMs;
            e.kind = EventKind::Window;
            e.visible = r->visible;
            if (const sim::Window* text = r->child(L"static")) {
                e.hasText = true;
                e.text = text->text;
            }
            if (const sim::Window* bar = r->child(L"msctls_progress32"))
                describeBar(*bar, &e);
            changed_ = false;
            events_.push_back(std::move(e));
            continue;
        }
        Event e;
        e.by = by;
        e.timeMs = record[i].timeMs;
        if (!describe(record[i], &e))
            continue;
        flushWindow(by, record[i].timeMs);
        events_.push_back(std::move(e));
    }
    flushWindow(Actor::Launcher, d_.now());
    return std::move(events_);
}

}  // namespace

std::vector<Event> readTimeline(const sim::Device& device, const TimelineSource& source)
{
    return Reader(device, source).read();
}

}  // namespace kit
