// The record of what the logic did on the simulated device: one struct per
// kind of event, in the order they happened, with the windows as a repaint
// shows them and the message numbers the device acts on; describe() gives the
// one-line text trace of an event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "device/sim/SimOperations.h"

namespace sim {

// The platform's message numbers that the simulated device acts on.
namespace message {
const uint32_t kPaint = 0x0F;        // WM_PAINT
const uint32_t kSetText = 12;        // WM_SETTEXT
const uint32_t kSetFont = 0x30;      // WM_SETFONT
const uint32_t kInitDialog = 0x110;  // WM_INITDIALOG
const uint32_t kSetRange = 1025;     // PBM_SETRANGE
const uint32_t kSetPosition = 1026;  // PBM_SETPOS
}  // namespace message

// The launcher's dialog template, the class of a dialog's window, and the
// range a new progress bar has (0 to 100, packed as kSetRange carries it).
const int kProgressTemplate = 101;
const wchar_t kDialogClass[] = L"#32770";
const uint32_t kNewBarRange = 100u << 16;

struct Window {
    uintptr_t id = 0;
    std::wstring className;
    std::wstring text;
    uint32_t processId = 0;
    uintptr_t parent = 0;
    bool visible = false;
    bool destroyed = false;
    bool classNameReadable = true;  // false: windowClassName fails for it
    // Progress-bar state (message::kSetRange and kSetPosition), as last sent.
    uint32_t rangePacked = 0;
    int32_t position = 0;
    device::DialogProcedure procedure = nullptr;
};

// The share of a progress bar that the control draws filled, 0 to 1: the
// range is read as two unsigned 16-bit bounds (low: lower, high: upper) and
// the position is clamped into it, as the common control does.
double barFill(const Window& bar);

namespace event {
struct Pause {
    uint32_t ms;
};
struct Start {
    std::wstring program;
    std::wstring commandLine;  // empty with hasCommandLine false: none given
    bool hasCommandLine;
    bool keptHandles;  // process or thread handle asked for
    uint32_t processId;
};
struct StartFailed {
    std::wstring program;
};
struct Wait {
    uint32_t processId;
    uint32_t askedMs;  // device::kWaitForever: no limit
    uint64_t waitedMs;
    bool hung;         // no limit on a process that never ends: the device would hang
    bool answersSent;  // messages sent to the waiting thread's windows are answered
};
struct Delete {
    std::wstring path;  // as the entry was created
    bool done;          // false: the entry could not be deleted
};
struct InitProgressClass {
    uint32_t size;
    uint32_t classes;
};
struct CreateDialog {
    uintptr_t module;
    int templateId;
    uintptr_t owner;
    ptrdiff_t value;
    uintptr_t window;  // 0: it could not be created
    // The procedure answered kInitDialog with non-zero: the system gives the
    // focus to the first control, as a dialog expects.
    bool focusDefault = false;
};
struct ShowWindow {
    uintptr_t window;
    int command;
};
struct BringToFront {
    uintptr_t window;
};
struct Message {
    uintptr_t window;
    uint32_t number;
    size_t first;
    ptrdiff_t second;
    std::wstring text;  // the text of a message::kSetText
};
// A synchronous repaint, with what the window and its children showed then.
struct Repaint {
    uintptr_t window;
    uint32_t flags;
    bool visible;
    std::vector<Window> children;  // in child order
    // The dialog's procedure answered kPaint with 0, so the default painting
    // ran; one that answers non-zero leaves the window unpainted.
    bool drawn = true;
    // The first child of a class (exact name), or null.
    const Window* child(const std::wstring& className) const;
};
struct DestroyWindow {
    uintptr_t window;
};
struct MessageBox {
    uintptr_t owner;  // window id, 0 for none
    std::wstring text;
    std::wstring caption;
    uint32_t style;
};
struct OpenKey {
    std::wstring key;
    uint32_t access;
    bool done;
};
struct DeleteKey {
    std::wstring key;
    bool done;
};
// A query of a registry value, with *type and *sizeBytes as they came in.
struct QueryValue {
    std::wstring name;
    uint32_t type;
    uint32_t sizeBytes;
    bool withBuffer;  // false: only the size was asked
};
struct Fault {
    Op op;
};
}  // namespace event

using EventData = std::variant<event::Pause, event::Start, event::StartFailed, event::Wait,
                               event::Delete, event::InitProgressClass, event::CreateDialog,
                               event::ShowWindow, event::BringToFront, event::Message,
                               event::Repaint, event::DestroyWindow, event::MessageBox,
                               event::OpenKey, event::DeleteKey, event::QueryValue, event::Fault>;

struct Event {
    uint64_t timeMs;
    EventData what;
};

// The event as one line of text: "start \windows\wceload.exe [ /noui ...]".
std::wstring describe(const Event& e);

}  // namespace sim
