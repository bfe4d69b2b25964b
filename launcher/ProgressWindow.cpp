// ProgressWindow: the launcher's progress window. A dialog
// from template 101 with a status line above a progress bar; the launcher has
// no message loop, so every point that changes the window repaints it at once.
// When `create` returns no window, every later point does nothing.
#include "launcher/ProgressWindow.h"
#include "base/WideText.h"

namespace vorlund {
namespace progress {

namespace {

// Common-controls registration record: size 8, progress-bar class selector.
const UInt32 kRecordSize = 8;
const UInt32 kProgressClassSelector = 0x20;

const int kTemplateId = 101;
const int kShowNormal = 5;
// Invalidate, update now, and the children too: every window on the device
// clips its children, and a repaint without RDW_ALLCHILDREN (0x80) would leave
// the status text and the bar as they were.
const UInt32 kRepaintFlags = 0x181;

const UInt32 kMessageInitDialog = 0x110;
const UInt32 kMessageSetText = 12;     // WM_SETTEXT
const UInt32 kMessageSetRange = 1025;  // PBM_SETRANGE
const UInt32 kMessageSetPos = 1026;    // PBM_SETPOS

const wchar_t kStatusPattern[] = L"Installing CAB file %ld... Please Wait...";
const wchar_t kDoneText[] = L"Installing CAB files ... Done...";

const wchar_t kProgressClass[] = L"msctls_progress32";
const wchar_t kTextClass[] = L"static";

// The two controls, recorded by the message procedure; each may be absent.
// Process-wide because the procedure, not `create`, finds them.
device::WindowHandle gTextControl = 0;
device::WindowHandle gProgressBar = 0;

// Class names compare without regard to ASCII letter case: the platform's own
// spelling of a control class ("Static" on desktop Windows and under Wine,
// "static" on the device) differs between platforms.
bool sameClass(const wchar_t* name, const wchar_t* wanted)
{
    return textLength(name) == textLength(wanted) && endsWithIgnoringCase(name, wanted);
}

// 10 * count + 5, computed without signed overflow (wraps modulo 2^32 like
// the device's 32-bit arithmetic).
UInt32 tenTimesPlusFive(Int32 count)
{
    return 10u * static_cast<UInt32>(count) + 5u;
}

void setPosition(UInt32 position)
{
    // Sent unchanged, even outside the range; the control clamps it.
    device::sendMessage(gProgressBar, kMessageSetPos,
                        static_cast<size_t>(static_cast<Int32>(position)), 0);
}

void setStatusText(const wchar_t* text)
{
    device::sendMessage(gTextControl, kMessageSetText, 0, reinterpret_cast<ptrdiff_t>(text));
}

ptrdiff_t progressProcedure(device::WindowHandle window, UInt32 message, size_t, ptrdiff_t)
{
    if (message != kMessageInitDialog)
        return 0;
    wchar_t* className =
        static_cast<wchar_t*>(device::allocateMemory(device::kMaxPath * sizeof(wchar_t)));
    if (className != 0) {
        for (device::WindowHandle child = device::firstChild(window); child != 0;
             child = device::nextSibling(child)) {
            if (!device::windowClassName(child, className, device::kMaxPath))
                continue;  // passed over
            // The first child of each class is recorded.
            if (gProgressBar == 0 && sameClass(className, kProgressClass))
                gProgressBar = child;
            else if (gTextControl == 0 && sameClass(className, kTextClass))
                gTextControl = child;
            if (gProgressBar != 0 && gTextControl != 0)
                break;
        }
        device::releaseMemory(className);
    }
    return 1;
}

}  // namespace

device::WindowHandle create(device::ModuleHandle module)
{
    device::ControlClassRecord record;
    record.size = kRecordSize;
    record.classes = kProgressClassSelector;
    device::initProgressClass(&record);

    gTextControl = 0;
    gProgressBar = 0;
    return device::createDialog(module, kTemplateId, 0, progressProcedure, 0);
}

void begin(device::WindowHandle window, Int32 total)
{
    if (window == 0)
        return;
    device::showWindow(window, kShowNormal);
    device::bringToFront(window);
    if (gProgressBar == 0)
        return;
    // Lower bound 0 in the low 16 bits, upper bound in the high 16 bits: the
    // upper bound is carried modulo 65536.
    UInt32 packedRange = (tenTimesPlusFive(total) & 0xFFFFu) << 16;
    device::sendMessage(gProgressBar, kMessageSetRange, 0, static_cast<ptrdiff_t>(packedRange));
    setPosition(5);
    wchar_t status[device::kMaxPath];
    formatCount(status, device::kMaxPath, kStatusPattern, total);
    if (gTextControl != 0)
        setStatusText(status);
    device::repaintNow(window, kRepaintFlags);
}

void advance(device::WindowHandle window, Int32 installed, Int32 remaining)
{
    if (window == 0)
        return;
    wchar_t status[device::kMaxPath];
    formatCount(status, device::kMaxPath, kStatusPattern, remaining);
    if (gTextControl != 0)
        setStatusText(status);
    if (gProgressBar != 0)
        setPosition(tenTimesPlusFive(installed));
    device::repaintNow(window, kRepaintFlags);
}

void finish(device::WindowHandle window, Int32 total)
{
    if (window == 0 || gProgressBar == 0)
        return;
    wchar_t status[device::kMaxPath];
    copyText(status, device::kMaxPath, kDoneText);
    if (gTextControl != 0)
        setStatusText(status);
    setPosition(tenTimesPlusFive(total));
    device::repaintNow(window, kRepaintFlags);
}

void destroy(device::WindowHandle window)
{
    if (window == 0)
        return;
    device::destroyWindow(window);
}

}  // namespace progress
}  // namespace vorlund
