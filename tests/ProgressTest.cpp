// The progress window, driven by whole launcher runs: what it showed at each
// synchronous repaint, for each kind of run and each shape of its template.
#include <algorithm>

#include "launcher/ProgressWindow.h"
#include "tests/Support.h"

namespace {

using namespace test;

// What the window showed at one repaint: the status text and the bar.
struct Frame {
    std::wstring text;
    uint32_t upper;
    int32_t position;
    bool operator==(const Frame& o) const
    {
        return text == o.text && upper == o.upper && position == o.position;
    }
};

std::ostream& operator<<(std::ostream& out, const Frame& f)
{
    return out << "{" << hosttext::utf8(f.text) << ", 0.." << f.upper << ", " << f.position << "}";
}

bool isClass(const sim::Window& w, const std::wstring& name)
{
    return hosttext::folded(w.className) == name;
}

using Template = std::vector<sim::DialogChild>;

struct Row {
    const char* what;
    std::string list;
    std::function<void(DeviceTest&)> also;
    std::vector<Frame> frames;
};

const std::wstring kS3 = text::status(3), kS2 = text::status(2), kS1 = text::status(1),
                   kS0 = text::status(0), kDone = text::kDone;

auto withTemplate(const Template& children)
{
    return [=](DeviceTest& t) { t.dev().setDialogTemplate(children); };
}

// clang-format off
const Row kRows[] = {
    {"three CABs: the text counts down, the bar moves by ten", "a.cab\r\nb.cab\r\nc.cab\r\n", nullptr, {{kS3, 35, 5}, {kS2, 35, 15}, {kS1, 35, 25}, {kS0, 35, 35}, {kDone, 35, 35}}},
    {"no installable CAB: a full bar at once", "missing.cab\r\n", nullptr, {{kS0, 5, 5}, {kDone, 5, 5}}},
    {"a failed run gets no advance, the bar is filled at the end", "a.cab\r\nb.cab\r\nc.cab\r\n", [](DeviceTest& t) { t.script.unreadable = {L"b.cab"}; },
     {{kS3, 35, 5}, {kS2, 35, 15}, {kDone, 35, 35}}},
    // Installing a.cab drops a+.cab, which drops a++.cab: one CAB counted, three installed.
    {"more CABs in the install pass than counted: the text goes negative", "a.cab\r\na+.cab\r\na++.cab\r\n", nullptr,
     {{kS1, 15, 5}, {kS0, 15, 15}, {text::status(-1), 15, 25}, {text::status(-2), 15, 35}, {kDone, 15, 15}}},
    // Only a name with a byte from 0x80 up goes to the device's conversion: calls 1 and 2
    // are b\xe9.cab's, in the counting pass and in the install pass.
    {"a name that cannot be converted is absent in both passes", "a.cab\r\nb\xe9.cab\r\nc.cab\r\n", [](DeviceTest& t) { t.addCab(L"b\u00e9.cab"); for (int n : {1, 2}) t.dev().failCall(sim::Op::AnsiToWide, n); },
     {{kS2, 25, 5}, {kS1, 25, 15}, {kS0, 25, 25}, {kDone, 25, 25}}},
    {"control classes compare without regard to case", "a.cab\r\n", withTemplate({{L"MSCTLS_PROGRESS32"}, {L"Static"}}), {{kS1, 15, 5}, {kS0, 15, 15}, {kDone, 15, 15}}},
    {"the first control of each class is the one", "a.cab\r\n", withTemplate({{L"Button"}, {L"static"}, {L"msctls_progress32"}, {L"static"}, {L"msctls_progress32"}}),
     {{kS1, 15, 5}, {kS0, 15, 15}, {kDone, 15, 15}}},
    {"without a bar only advance sets the text", "a.cab\r\nb.cab\r\n", withTemplate({{L"static"}}), {{kS1, 0, 0}, {kS0, 0, 0}}},
    {"without a text the bar still moves", "a.cab\r\nb.cab\r\n", withTemplate({{L"Button"}, {L"msctls_progress32"}}), {{L"", 25, 5}, {L"", 25, 15}, {L"", 25, 25}, {L"", 25, 25}}},
    {"a control whose class name cannot be read is passed over", "a.cab\r\n", withTemplate({{L"static", false}, {L"msctls_progress32"}}), {{L"", 15, 5}, {L"", 15, 15}, {L"", 15, 15}}},
    {"no heap for the class name: no control is found", "a.cab\r\n", [](DeviceTest& t) { t.dev().failCall(sim::Op::AllocateMemory, 1); }, {{L"", 100, 0}}},
    {"without a list the window keeps its empty texts", kNoListFile, nullptr, {}},
    {"a window that cannot be created: the same run, no display", "a.cab\r\n", [](DeviceTest& t) { t.dev().failCall(sim::Op::CreateDialog, 1); }, {}},
};
// clang-format on

class Progress : public DeviceTest {
protected:
    std::vector<Frame> frames()
    {
        std::vector<Frame> out;
        for (const auto& r : dev().eventsOf<sim::event::Repaint>()) {
            EXPECT_EQ(r.flags, 0x181u) << "invalidate, update now, children included";
            EXPECT_TRUE(r.visible && r.drawn) << "shown, and painted by the default procedure";
            Frame f{L"", 0, 0};
            auto text = std::find_if(r.children.begin(), r.children.end(),
                                     [](const sim::Window& w) { return isClass(w, L"static"); });
            auto bar = std::find_if(r.children.begin(), r.children.end(), [](const sim::Window& w) {
                return isClass(w, L"msctls_progress32");
            });
            if (text != r.children.end())
                f.text = text->text;
            if (bar != r.children.end())
                f = Frame{f.text, bar->rangePacked >> 16, bar->position};
            out.push_back(f);
        }
        return out;
    }
};

TEST_F(Progress, Runs)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        fresh();
        installInstaller();
        script.drops = {L"a.cab", L"a+.cab"};
        for (const wchar_t* name : {L"a.cab", L"b.cab", L"c.cab"})
            addCab(name);
        writeList(row.list);
        if (row.also)
            row.also(*this);
        runLauncher();
        EXPECT_EQ(frames(), row.frames);
        auto created = dev().eventsOf<sim::event::CreateDialog>();
        ASSERT_EQ(created.size(), 1u);
        for (const auto& m : dev().eventsOf<sim::event::Message>()) {
            EXPECT_TRUE(m.number == 12 || m.number == 1025 || m.number == 1026) << m.number;
            EXPECT_EQ(m.number == 1026 ? size_t(m.second) : m.first, 0u) << m.number;
            const sim::Window* target = dev().window(m.window);
            EXPECT_TRUE(isClass(*target, m.number == 12 ? L"static" : L"msctls_progress32"));
        }
        // Shown, brought to the front and destroyed at the end; without a list
        // none of it, and the window stays as it was made.
        bool window = created[0].window != 0, list = row.list != kNoListFile;
        std::vector<std::string> order;
        for (const sim::Event& e : dev().events())
            if (auto* s = std::get_if<sim::event::ShowWindow>(&e.what))
                order.push_back("show " + std::to_string(s->command));
            else if (std::holds_alternative<sim::event::BringToFront>(e.what))
                order.push_back("front");
            else if (std::holds_alternative<sim::event::DestroyWindow>(e.what))
                order.push_back("destroy");
        std::vector<std::string> shown = {"show 5", "front", "destroy"};
        EXPECT_EQ(order, window && list ? shown : std::vector<std::string>());
        EXPECT_TRUE(!window || list || dev().window(created[0].window)->visible);
        expectClean();
    }
}

// Made once per run, as a dialog expects: the progress class registered, then
// template 101 without owner or value; its procedure lets the system set the focus.
TEST_F(Progress, TheWindowIsMadeFromTemplate101)
{
    writeList("");
    runLauncher();
    auto classes = dev().eventsOf<sim::event::InitProgressClass>();
    auto created = dev().eventsOf<sim::event::CreateDialog>();
    ASSERT_EQ(classes.size(), 1u);
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(std::make_pair(classes[0].size, classes[0].classes), std::make_pair(8u, 0x20u));
    EXPECT_EQ(std::make_tuple(created[0].templateId, created[0].owner, created[0].value),
              std::make_tuple(101, uintptr_t(0), ptrdiff_t(0)));
    EXPECT_TRUE(created[0].focusDefault);
}

TEST_F(Progress, PastSixThousandFiveHundredAndFiftyThreeCabsTheRangeWraps)
{
    // 10 * 6554 + 5 = 65545 travels modulo 65536 as 9: the bar starts more
    // than half full and is full after the first CAB, while the text counts.
    installInstaller();
    addCab(L"a.cab");
    std::string list;
    for (int i = 0; i < 6554; ++i)
        list += "a.cab\r\n";
    writeList(list);
    runLauncher();
    std::vector<Frame> f = frames();
    ASSERT_EQ(f.size(), 6556u);
    EXPECT_EQ(f[0], (Frame{text::status(6554), 9, 5}));
    EXPECT_EQ(f[1], (Frame{text::status(6553), 9, 15}));
    EXPECT_EQ(f.back(), (Frame{kDone, 9, 65545}));
}

}  // namespace
