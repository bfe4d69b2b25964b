// The progress window on the simulated device: the five
// progress points driven by the whole launcher run, the message procedure
// that finds the controls, and the window's state at each synchronous repaint.
#include "tests/SimTestSupport.h"

#include <cstdlib>
#include <cwchar>

#include "launcher/LauncherSequence.h"
#include "launcher/ProgressWindow.h"

namespace {

using test::kInstallDir;
using test::kInstaller;

const std::wstring kUnpackFailed = L"Installation Failed. Error: Cannot unpack all CAB file.";
const std::wstring kNoList = L"Installation Failed. Error: Cannot locate CAB file list: Vorlund.ini.";
const std::wstring kDone = L"Installing CAB files ... Done...";
const std::wstring kBarClass = L"msctls_progress32";
const std::wstring kTextClass = L"static";
const ModuleHandle kModule = reinterpret_cast<ModuleHandle>(static_cast<uintptr_t>(0x400000));

std::wstring status(long remaining)
{
    return L"Installing CAB file " + std::to_wstring(remaining) + L"... Please Wait...";
}

std::wstring range(uint32_t upper)
{
    return L"bar range 0.." + std::to_wstring(upper);
}

std::wstring pos(long position)
{
    return L"bar pos " + std::to_wstring(position);
}

std::wstring text(const std::wstring& t)
{
    return L"text set " + t;
}

const std::wstring kShow = L"show dialog 5";
const std::wstring kFront = L"front dialog";
const std::wstring kRepaint = L"repaint dialog 0x101";
const std::wstring kDestroy = L"destroy dialog";

std::wstring start(const std::wstring& cab)
{
    return L"start " + cab;
}

std::wstring box(const std::wstring& t)
{
    return L"box " + t;
}

// What the window showed at one repaint.
struct Frame {
    std::wstring text;
    uint32_t upper;
    int32_t position;
    double fill;
};

bool operator==(const Frame& a, const Frame& b)
{
    return a.text == b.text && a.upper == b.upper && a.position == b.position && a.fill == b.fill;
}

std::ostream& operator<<(std::ostream& out, const Frame& f)
{
    return out << "{" << sim::narrow(f.text) << ", 0.." << f.upper << ", pos " << f.position
               << ", fill " << f.fill << "}";
}

class ProgressWindow : public test::DeviceTest {
protected:
    // The one dialog the run created.
    const sim::Window* dialog()
    {
        std::vector<const sim::Window*> all = dev().dialogs();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? nullptr : all.front();
    }

    // Children of a window in child order.
    std::vector<const sim::Window*> children(uintptr_t parent)
    {
        std::vector<const sim::Window*> out;
        for (const auto& w : dev().windows_) {
            if (w.second.parent == parent)
                out.push_back(&w.second);
        }
        return out;
    }

    std::wstring nameOf(const std::wstring& hexId)
    {
        uintptr_t id = std::wcstoul(hexId.c_str(), nullptr, 16);
        const sim::Window* w = dev().window(id);
        if (w == nullptr)
            return L"window?" + hexId;
        if (w->className == L"#32770")
            return L"dialog";
        if (w->className == kBarClass)
            return L"bar";
        if (w->className == kTextClass)
            return L"text";
        return L"window:" + w->className;
    }

    // The trace reduced to the progress window's updates, installer starts,
    // message boxes and window destruction, window ids replaced by names:
    // "show dialog 5", "front dialog", "bar range 0..35", "bar pos 5",
    // "text set ...", "repaint dialog 0x101", "start a.cab", "start failed", "box ...",
    // "destroy dialog". Messages sent elsewhere or with unexpected
    // parameters come out raw, so that they fail the comparison.
    std::vector<std::wstring> events()
    {
        std::vector<std::wstring> out;
        for (const std::wstring& line : dev().trace()) {
            std::vector<std::wstring> f;
            size_t at = 0;
            for (int i = 0; i < 4 && at != std::wstring::npos; ++i) {
                size_t space = line.find(L' ', at);
                f.push_back(line.substr(at, space == std::wstring::npos ? space : space - at));
                at = space == std::wstring::npos ? space : space + 1;
            }
            std::wstring rest = at == std::wstring::npos ? L"" : line.substr(at);
            if (f[0] == L"showWindow") {
                out.push_back(L"show " + nameOf(f[1]) + L" " + f[2]);
            } else if (f[0] == L"bringToFront") {
                out.push_back(L"front " + nameOf(f[1]));
            } else if (f[0] == L"repaint") {
                out.push_back(L"repaint " + nameOf(f[1]) + L" " + f[2].substr(6));
            } else if (f[0] == L"destroyWindow") {
                out.push_back(L"destroy " + nameOf(f[1]));
            } else if (f[0] == L"start" && f[1] == L"failed") {
                out.push_back(L"start failed");
            } else if (f[0] == L"start") {
                out.push_back(L"start " + test::quotedPath(line).substr(kInstallDir.size()));
            } else if (f[0] == L"message" && f[1] == L"box") {
                out.push_back(L"box " + line.substr(line.find(L"] ") + 2));
            } else if (f[0] == L"message") {
                std::wstring target = nameOf(f[1]);
                const std::wstring& number = f[2];
                const std::wstring& first = f[3];
                if (target == L"bar" && number == L"1025" && first == L"0") {
                    uint64_t packed = std::stoull(rest);
                    std::wstring lower = std::to_wstring(packed & 0xFFFF);
                    out.push_back(L"bar range " + lower + L".." + std::to_wstring(packed >> 16));
                } else if (target == L"bar" && number == L"1026" && rest == L"0") {
                    out.push_back(L"bar pos " + std::to_wstring(static_cast<int32_t>(std::stoull(first))));
                } else if (target == L"text" && number == L"12" && first == L"0") {
                    out.push_back(L"text set " + rest);
                } else {
                    out.push_back(L"message " + target + L" " + number + L" " + first + L" " + rest);
                }
            }
        }
        return out;
    }

    // The window's state at each repaint.
    std::vector<Frame> frames()
    {
        std::vector<Frame> out;
        for (const sim::RepaintRecord& r : dev().repaints()) {
            EXPECT_EQ(r.flags, 0x101u);
            EXPECT_TRUE(r.visible);
            const sim::Window* bar = r.child(kBarClass);
            out.push_back(Frame{r.statusText(), bar ? bar->rangePacked >> 16 : 0,
                                bar ? bar->position : 0, bar ? sim::barFill(*bar) : 0.0});
        }
        return out;
    }

    // Events of a run of `n` installed CABs with everything in place.
    static std::vector<std::wstring> fullRun(const std::vector<std::wstring>& cabs)
    {
        long n = static_cast<long>(cabs.size());
        std::vector<std::wstring> out = {kShow, kFront, range(10 * n + 5), pos(5), text(status(n)), kRepaint};
        for (long k = 1; k <= n; ++k) {
            out.push_back(start(cabs[k - 1]));
            out.push_back(text(status(n - k)));
            out.push_back(pos(10 * k + 5));
            out.push_back(kRepaint);
        }
        out.insert(out.end(), {text(kDone), pos(10 * n + 5), kRepaint, kDestroy});
        return out;
    }

    std::vector<uint32_t> sentNumbers()
    {
        std::vector<uint32_t> out;
        for (const auto& m : dev().sentMessages())
            out.push_back(m.message);
        return out;
    }

    void threeCabs()
    {
        installInstaller();
        addCab(L"a.cab");
        addCab(L"b.cab");
        addCab(L"c.cab");
        writeList("a.cab\r\nb.cab\r\nc.cab\r\n");
    }
};

// ---- the whole run ----------------------------------------------------------------

TEST_F(ProgressWindow, ThreeCabsCountDownWhileTheBarAdvancesByTen)
{
    threeCabs();
    EXPECT_EQ(runLauncherNow(), 0);

    EXPECT_EQ(events(), fullRun({L"a.cab", L"b.cab", L"c.cab"}));
    EXPECT_EQ(frames(), (std::vector<Frame>{
        {status(3), 35, 5, 5.0 / 35}, {status(2), 35, 15, 15.0 / 35},
        {status(1), 35, 25, 25.0 / 35}, {status(0), 35, 35, 1.0}, {kDone, 35, 35, 1.0}}));
    const sim::Window* d = dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->destroyed);
    for (const sim::Window* c : children(d->id))
        EXPECT_TRUE(c->destroyed);
    EXPECT_TRUE(dev().messageBoxes().empty());
    expectNoLeaks();
}

TEST_F(ProgressWindow, WindowIsCreatedAfterTheInstallerWaitAndBeforeTheList)
{
    threeCabs();
    sim::ProgramRun running;
    running.durationMs = 5000;
    dev().spawnProcess(kInstaller, running, L"MSWCELOAD");
    runLauncherNow();
    const std::vector<std::wstring>& trace = dev().trace();
    auto find = [&](const std::wstring& prefix) {
        for (size_t i = 0; i < trace.size(); ++i) {
            if (trace[i].rfind(prefix, 0) == 0)
                return static_cast<long>(i);
        }
        return -1L;
    };
    long waited = find(L"wait ");
    long registered = find(L"initProgressClass ");
    long created = find(L"createDialog ");
    long shown = find(L"showWindow ");
    ASSERT_GE(waited, 0);
    EXPECT_LT(waited, registered);
    EXPECT_EQ(trace[registered], L"initProgressClass size=8 classes=0x20");
    EXPECT_EQ(registered + 1, created);
    EXPECT_EQ(trace[created], L"createDialog module=400000 template=101 owner=0 value=0");
    EXPECT_LT(created, shown);
    EXPECT_EQ(dev().waits().front().waitedMs, 5000u - 250u);
    expectNoLeaks();
}

TEST_F(ProgressWindow, MessagesCarryTheExactParameters)
{
    threeCabs();
    runLauncherNow();
    const sim::Window* d = dialog();
    ASSERT_NE(d, nullptr);
    std::vector<const sim::Window*> c = children(d->id);
    ASSERT_EQ(c.size(), 2u);
    uintptr_t textId = c[0]->id;
    uintptr_t barId = c[1]->id;
    ASSERT_EQ(sentNumbers(), (std::vector<uint32_t>{1025, 1026, 12, 12, 1026, 12, 1026, 12, 1026, 12, 1026}));
    for (const sim::MessageRecord& m : dev().sentMessages()) {
        if (m.message == 1025) {
            EXPECT_EQ(m.window, barId);
            EXPECT_EQ(m.first, 0u);
            EXPECT_EQ(m.second, static_cast<ptrdiff_t>(35u << 16)) << "lower 0 low, upper 35 high";
        } else if (m.message == 1026) {
            EXPECT_EQ(m.window, barId);
            EXPECT_EQ(m.second, 0);
        } else {
            EXPECT_EQ(m.window, textId);
            EXPECT_EQ(m.first, 0u);
            EXPECT_NE(m.second, 0) << "the text goes by pointer";
        }
    }
    // The template's controls keep their identity: a centred static without
    // identifier and a smooth bar 1002.
    EXPECT_EQ(c[0]->controlId, -1);
    EXPECT_EQ(c[1]->controlId, 1002);
}

TEST_F(ProgressWindow, NoInstallableCabShowsAFullBarAtOnce)
{
    installInstaller();
    addCab(L"stray.cab");
    writeList("nothing.cab\r\nnone.cab\r\n");
    runLauncherNow();
    EXPECT_EQ(events(), (std::vector<std::wstring>{
        kShow, kFront, range(5), pos(5), text(status(0)), kRepaint,
        text(kDone), pos(5), kRepaint, kDestroy}));
    EXPECT_EQ(frames(), (std::vector<Frame>{{status(0), 5, 5, 1.0}, {kDone, 5, 5, 1.0}}));
    ASSERT_EQ(dev().sentMessages().size(), 5u);
    EXPECT_EQ(dev().sentMessages()[0].second, static_cast<ptrdiff_t>(0x00050000));
    expectNoLeaks();
}

TEST_F(ProgressWindow, FailedInstallerRunGetsNoAdvanceButFinishFillsTheBar)
{
    installInstaller();
    script.unreadable = {L"a.cab"};
    addCab(L"a.cab");
    addCab(L"b.cab");
    writeList("a.cab\r\nb.cab\r\n");
    runLauncherNow();
    EXPECT_EQ(events(), (std::vector<std::wstring>{
        kShow, kFront, range(25), pos(5), text(status(2)), kRepaint,
        start(L"a.cab"), box(kUnpackFailed),
        text(kDone), pos(25), kRepaint, kDestroy}));
    EXPECT_EQ(frames().back(), (Frame{kDone, 25, 25, 1.0}));
    expectNoLeaks();
}

TEST_F(ProgressWindow, MoreCabsInTheInstallPassThanCountedGoNegative)
{
    // Installing a.cab creates b.cab, and b.cab creates c.cab: the counting
    // pass found one installable CAB, the install pass finds three.
    dev().installProgram(kInstaller, [](sim::Device& d, const std::wstring& commandLine) {
        std::wstring path = test::quotedPath(commandLine);
        if (path == kInstallDir + L"a.cab")
            d.addFile(kInstallDir + L"b.cab", "MSCF");
        if (path == kInstallDir + L"b.cab")
            d.addFile(kInstallDir + L"c.cab", "MSCF");
        return sim::ProgramRun();
    }, L"MSWCELOAD");
    addCab(L"a.cab");
    writeList("a.cab\r\nb.cab\r\nc.cab\r\n");
    runLauncherNow();
    EXPECT_EQ(events(), (std::vector<std::wstring>{
        kShow, kFront, range(15), pos(5), text(status(1)), kRepaint,
        start(L"a.cab"), text(status(0)), pos(15), kRepaint,
        start(L"b.cab"), text(status(-1)), pos(25), kRepaint,
        start(L"c.cab"), text(status(-2)), pos(35), kRepaint,
        text(kDone), pos(15), kRepaint, kDestroy}));
    EXPECT_EQ(status(-1), L"Installing CAB file -1... Please Wait...");
    // Positions beyond the range are sent unchanged; the control draws a full bar.
    EXPECT_EQ(frames(), (std::vector<Frame>{
        {status(1), 15, 5, 5.0 / 15}, {status(0), 15, 15, 1.0}, {status(-1), 15, 25, 1.0},
        {status(-2), 15, 35, 1.0}, {kDone, 15, 15, 1.0}}));
    expectNoLeaks();
}

TEST_F(ProgressWindow, CountBeyondSixteenBitsWrapsTheRange)
{
    // 6554 CABs: 10 * 6554 + 5 = 65545 is carried modulo 65536, so the range
    // is 0..9. One CAB named 6554 times stands in for 6554 CABs.
    const long n = 6554;
    installInstaller();
    script.durationMs = 1;
    addCab(L"a.cab");
    std::string list;
    for (long i = 0; i < n; ++i)
        list += "a.cab\r\n";
    writeList(list);
    runLauncherNow();

    std::vector<std::wstring> e = events();
    ASSERT_EQ(e.size(), 6 + 4 * n + 4);
    EXPECT_EQ(std::vector<std::wstring>(e.begin(), e.begin() + 10), (std::vector<std::wstring>{
        kShow, kFront, range(9), pos(5), text(status(n)), kRepaint,
        start(L"a.cab"), text(status(n - 1)), pos(15), kRepaint}));
    EXPECT_EQ(std::vector<std::wstring>(e.end() - 8, e.end()), (std::vector<std::wstring>{
        start(L"a.cab"), text(status(0)), pos(65545), kRepaint,
        text(kDone), pos(65545), kRepaint, kDestroy}));
    ASSERT_FALSE(dev().sentMessages().empty());
    EXPECT_EQ(dev().sentMessages()[0].second, static_cast<ptrdiff_t>(9u << 16));

    // What the user sees: the bar starts more than half full and is full
    // after the first CAB, while the text still counts down from 6554.
    std::vector<Frame> f = frames();
    ASSERT_EQ(f.size(), static_cast<size_t>(n + 2));
    EXPECT_EQ(f[0], (Frame{status(n), 9, 5, 5.0 / 9}));
    EXPECT_EQ(f[1], (Frame{status(n - 1), 9, 15, 1.0}));
    EXPECT_EQ(f[n], (Frame{status(0), 9, static_cast<int32_t>(10 * n + 5), 1.0}));
    EXPECT_EQ(f[n + 1].text, kDone);
    expectNoLeaks();
}

TEST_F(ProgressWindow, NoListFileLeavesTheWindowWithItsEmptyTexts)
{
    installInstaller();
    addCab(L"a.cab");
    runLauncherNow();
    EXPECT_EQ(events(), std::vector<std::wstring>{box(kNoList)});
    EXPECT_TRUE(dev().sentMessages().empty());
    EXPECT_TRUE(dev().repaints().empty());
    const sim::Window* d = dialog();
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(d->destroyed) << "left to disappear with the process";
    EXPECT_TRUE(d->visible) << "the template is visible on creation";
    for (const sim::Window* c : children(d->id)) {
        EXPECT_FALSE(c->destroyed);
        EXPECT_EQ(c->text, L"");
    }
    EXPECT_FALSE(dev().exists(kInstallDir + L"a.cab")) << "the sweep still runs";
    expectNoLeaks();
}

// Runs a mixed list (success, rejection, failure, skipped names, a second
// block) and returns what the run did apart from the window.
struct RunOutcome {
    std::vector<sim::StartRecord> starts;
    std::vector<std::wstring> boxes;
    std::vector<std::wstring> deletions;
    uint64_t endMs;
};

TEST_F(ProgressWindow, CreationFailedRunsTheSameWithoutADisplay)
{
    auto play = [this](int how) {
        dev().reset();
        SetUp();
        script = test::InstallerScript();
        script.reject = {L"b.cab"};
        script.unreadable = {L"c.cab"};
        installInstaller();
        for (const wchar_t* name : {L"a.cab", L"b.cab", L"c.cab", L"d.cab", L"e.cab"})
            addCab(name);
        std::string first = "a.cab\r\nmissing.cab\r\nb.cab\r\nc.cab\r\nd.cab\r\n";
        std::string filler;
        while (first.size() + filler.size() < 4096 - 20)
            filler += "missing.cab\r\n";
        filler += std::string(4096 - first.size() - filler.size() - 2, 'm') + "\r\n";
        writeList(first + filler + "e.cab\r\n");
        if (how == 1)
            dev().dialogCreationFails = true;
        if (how == 2)
            dev().failCall(sim::Op::CreateDialog, 1);
        runLauncherNow();
        expectNoLeaks();
        return RunOutcome{dev().starts(), messageTexts(), dev().deletions(), dev().now()};
    };
    RunOutcome withWindow = play(0);
    EXPECT_EQ(dev().repaints().size(), 5u) << "begin, a.cab, b.cab, e.cab, finish";
    for (int how : {1, 2}) {
        RunOutcome without = play(how);
        EXPECT_TRUE(dev().dialogs().empty());
        EXPECT_EQ(events(), (std::vector<std::wstring>{
            start(L"a.cab"), start(L"b.cab"), start(L"c.cab"), box(kUnpackFailed), start(L"e.cab")}));
        EXPECT_TRUE(dev().sentMessages().empty());
        EXPECT_TRUE(dev().repaints().empty());
        ASSERT_EQ(without.starts.size(), withWindow.starts.size());
        for (size_t i = 0; i < without.starts.size(); ++i) {
            EXPECT_EQ(without.starts[i].commandLine, withWindow.starts[i].commandLine);
            EXPECT_EQ(without.starts[i].timeMs, withWindow.starts[i].timeMs);
        }
        EXPECT_EQ(without.boxes, withWindow.boxes);
        EXPECT_EQ(without.deletions, withWindow.deletions);
        EXPECT_EQ(without.endMs, withWindow.endMs);
    }
}

// ---- the controls the message procedure finds ----------------------------------------

TEST_F(ProgressWindow, HeapFailureInTheProcedureRecordsNoControl)
{
    threeCabs();
    dev().failCall(sim::Op::Allocate, 1);  // the class-name buffer; the module path comes second
    runLauncherNow();
    // begin and finish do nothing beyond show and front; advance still repaints.
    EXPECT_EQ(events(), (std::vector<std::wstring>{
        kShow, kFront, start(L"a.cab"), kRepaint, start(L"b.cab"), kRepaint,
        start(L"c.cab"), kRepaint, kDestroy}));
    EXPECT_TRUE(dev().sentMessages().empty());
    EXPECT_EQ(frames(), std::vector<Frame>(3, Frame{L"", 100, 0, 0.0}))
        << "the bar keeps its initial range 0..100 and position 0";
    EXPECT_EQ(dev().starts().size(), 3u);
    expectNoLeaks();
}

TEST_F(ProgressWindow, TemplateWithoutBarSetsTextOnlyInAdvance)
{
    threeCabs();
    dev().dialogTemplate = {{kTextClass}};
    runLauncherNow();
    // begin and finish need the bar; advance sets the text without it.
    EXPECT_EQ(events(), (std::vector<std::wstring>{
        kShow, kFront,
        start(L"a.cab"), text(status(2)), kRepaint,
        start(L"b.cab"), text(status(1)), kRepaint,
        start(L"c.cab"), text(status(0)), kRepaint, kDestroy}));
    expectNoLeaks();
}

TEST_F(ProgressWindow, TemplateWithoutTextDrivesTheBarOnly)
{
    threeCabs();
    dev().dialogTemplate = {{kBarClass}};
    runLauncherNow();
    EXPECT_EQ(events(), (std::vector<std::wstring>{
        kShow, kFront, range(35), pos(5), kRepaint,
        start(L"a.cab"), pos(15), kRepaint,
        start(L"b.cab"), pos(25), kRepaint,
        start(L"c.cab"), pos(35), kRepaint,
        pos(35), kRepaint, kDestroy}));
    expectNoLeaks();
}

TEST_F(ProgressWindow, ChildWithUnreadableClassNameIsPassedOver)
{
    threeCabs();
    dev().dialogTemplate = {{kTextClass, false}, {kBarClass}};
    runLauncherNow();
    EXPECT_EQ(events(), (std::vector<std::wstring>{
        kShow, kFront, range(35), pos(5), kRepaint,
        start(L"a.cab"), pos(15), kRepaint,
        start(L"b.cab"), pos(25), kRepaint,
        start(L"c.cab"), pos(35), kRepaint,
        pos(35), kRepaint, kDestroy}));
    expectNoLeaks();
}

TEST_F(ProgressWindow, FirstControlOfEachClassIsRecordedAndTheWalkStopsWhenBothAre)
{
    dev().dialogTemplate = {{L"button"}, {kBarClass}, {kTextClass}, {kTextClass}, {kBarClass}};
    int before = dev().callCount(sim::Op::WindowClassName);
    WindowHandle window = create(kModule);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(dev().callCount(sim::Op::WindowClassName) - before, 3) << "button, bar, static";
    begin(window, 2);
    std::vector<const sim::Window*> c = children(sim::idOf(window));
    ASSERT_EQ(c.size(), 5u);
    ASSERT_EQ(dev().sentMessages().size(), 3u);
    EXPECT_EQ(dev().sentMessages()[0].window, c[1]->id);
    EXPECT_EQ(dev().sentMessages()[1].window, c[1]->id);
    EXPECT_EQ(dev().sentMessages()[2].window, c[2]->id);
    EXPECT_EQ(c[2]->text, status(2));
    EXPECT_EQ(c[3]->text, L"");
    destroy(window);
    expectNoLeaks();
}

TEST_F(ProgressWindow, ClassNamesCompareWithoutRegardToCase)
{
    // Desktop Windows and Wine spell the static class "Static".
    dev().dialogTemplate = {{L"Static"}, {L"MSCTLS_Progress32"}};
    WindowHandle window = create(kModule);
    ASSERT_NE(window, nullptr);
    begin(window, 1);
    EXPECT_EQ(sentNumbers(), (std::vector<uint32_t>{1025, 1026, 12}));
    destroy(window);
    expectNoLeaks();
}

TEST_F(ProgressWindow, ProcedureAnswersInitialisationWithOneAndEverythingElseWithZero)
{
    WindowHandle window = create(kModule);
    ASSERT_NE(window, nullptr);
    const sim::Window* d = dev().window(sim::idOf(window));
    ASSERT_NE(d, nullptr);
    DialogProcedure procedure = d->procedure;
    ASSERT_NE(procedure, nullptr);

    int reads = dev().callCount(sim::Op::WindowClassName);
    int allocations = dev().callCount(sim::Op::Allocate);
    for (UInt32 message : {0x0Fu, 0x10u, 0x30u, 0x111u, 0x112u, 0x2u, 0x401u, 0x402u, 0x0Cu})
        EXPECT_EQ(procedure(window, message, 1, 2), 0) << message;
    EXPECT_EQ(dev().callCount(sim::Op::WindowClassName), reads);
    EXPECT_EQ(dev().callCount(sim::Op::Allocate), allocations);
    EXPECT_TRUE(dev().sentMessages().empty());

    // A second initialisation on a window without controls records nothing
    // new and keeps what was recorded.
    EXPECT_EQ(procedure(window, 0x110, 0, 0), 1);
    EXPECT_EQ(dev().callCount(sim::Op::Allocate), allocations + 1);
    begin(window, 0);
    EXPECT_EQ(sentNumbers(), (std::vector<uint32_t>{1025, 1026, 12}));
    destroy(window);
    expectNoLeaks();
}

TEST_F(ProgressWindow, CreateClearsTheControlsOfAnEarlierWindow)
{
    WindowHandle first = create(kModule);
    ASSERT_NE(first, nullptr);
    dev().dialogTemplate = {};
    WindowHandle second = create(kModule);
    ASSERT_NE(second, nullptr);
    begin(second, 1);
    advance(second, 1, 0);
    finish(second, 1);
    EXPECT_TRUE(dev().sentMessages().empty()) << "the first window's controls are forgotten";
    EXPECT_EQ(dev().repaints().size(), 1u);
    destroy(second);
    destroy(first);
    expectNoLeaks();
}

// ---- the points on their own ---------------------------------------------------------

TEST_F(ProgressWindow, RangeIsCarriedModulo65536)
{
    struct Case { Int32 total; uint32_t upper; };
    const Case cases[] = {{0, 5}, {1, 15}, {3, 35}, {6553, 65535}, {6554, 9}, {13107, 3},
                          {13108, 13}, {2147483647, 65531}};
    for (const Case& c : cases) {
        dev().reset();
        SetUp();
        WindowHandle window = create(kModule);
        ASSERT_NE(window, nullptr);
        begin(window, c.total);
        finish(window, c.total);
        ASSERT_EQ(dev().sentMessages().size(), 5u);
        EXPECT_EQ(dev().sentMessages()[0].second, static_cast<ptrdiff_t>(c.upper << 16)) << c.total;
        // finish sends 10N + 5 unchanged, in 32 bits.
        EXPECT_EQ(static_cast<int32_t>(dev().sentMessages()[4].first),
                  static_cast<int32_t>(10u * static_cast<uint32_t>(c.total) + 5u)) << c.total;
        EXPECT_EQ(dev().sentMessages()[2].text, status(c.total));
        destroy(window);
    }
}

}  // namespace
