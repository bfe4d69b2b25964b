// The launcher's whole run on the simulated device: which CABs it installs,
// in which order, what it says, what it leaves, paths at the edges of its
// buffers included; the installers it waits for.
#include "launcher/LauncherSequence.h"
#include "tests/ListReference.h"
#include "tests/Support.h"

namespace {

using namespace test;

class Launcher : public DeviceTest {};

struct Row {
    const char* what;
    const wchar_t* cabs;                    // CABs of the install directory (see addCabs)
    std::string list;                       // the list file's bytes
    std::function<void(DeviceTest&)> also;  // more set-up after the stand-in installer's
    const wchar_t* installed;               // names the installer ran on, in order
    std::vector<std::wstring> messages;
    const wchar_t* left;   // CAB files left in the directory
    size_t dirLength = 0;  // an install directory "\ddd...\" of this length instead of kDir
    const wchar_t* exe = L"Vorlund.exe";
};

// A list of whole blocks: each block names `names` first, then missing files.
std::string blocks(const std::vector<std::string>& perBlock, const std::string& tail)
{
    std::string out;
    for (const std::string& head : perBlock)
        out += head + filler(4096 - head.size());
    return out + tail;
}

auto noInstaller = [](DeviceTest& t) { t.dev().remove(kInstaller); };
const std::wstring kUnpack = text::kUnpackFailed;
// A path of 270 in a directory of 200.
const std::wstring kLong = std::wstring(66, L'x') + L".cab", kLongAndShort = kLong + L" short.cab";

// clang-format off
const Row kRows[] = {
    {"every listed CAB in list order, then every CAB swept", L"a.cab b.cab c.cab unlisted.cab", "c.cab\r\na.cab\r\nb.cab\r\n", nullptr, L"c.cab a.cab b.cab", {}, L""},
    {"no list: the message, then the sweep", L"a.cab", kNoListFile, nullptr, L"", {text::kNoList}, L""},
    {"a list held open elsewhere cannot be opened", L"a.cab", "a.cab\r\n", [](DeviceTest& t) { t.dev().setInUse(kDir + L"Vorlund.ini", true); }, L"", {text::kNoList}, L""},
    {"missing, hidden, system and directory names are skipped silently", L"ok.cab hidden.cab:H system.cab:S dir.cab:D",
     "missing.cab\r\nhidden.cab\r\nsystem.cab\r\ndir.cab\r\nok.cab\r\n", nullptr, L"ok.cab", {}, L"hidden.cab system.cab dir.cab"},
    {"a list naming no existing CAB still sweeps", L"stray.cab", "none.cab\r\nnil.cab", nullptr, L"", {}, L""},
    {"installer missing, short list: one message, the second name not tried", L"a.cab b.cab", "a.cab\r\nb.cab\r\n", noInstaller, L"", {kUnpack}, L""},
    {"installer missing: one message per block holding an installable name", L"a.cab",
     blocks({"a.cab\r\na.cab\r\n", "", "a.cab\r\n"}, "a.cab\r\na.cab\r\n"), noInstaller, L"", {kUnpack, kUnpack, kUnpack}, L""},
    {"an unreadable exit status skips the rest of its block only", L"bad.cab skipped.cab next.cab", blocks({"bad.cab\r\nskipped.cab\r\n"}, "next.cab\r\n"),
     [](DeviceTest& t) { t.script.unreadable = {L"bad.cab"}; }, L"bad.cab next.cab", {kUnpack}, L""},
    {"a CAB named twice runs twice while it exists", L"a.cab", "a.cab\r\na.cab\r\n", nullptr, L"a.cab a.cab", {}, L""},
    {"a CAB named twice runs once when its installer deleted it", L"a.cab", "a.cab\r\na.cab\r\n", [](DeviceTest& t) { t.script.deletesCab = true; }, L"a.cab", {}, L""},
    // The first heap block is the progress window's class-name buffer.
    {"the heap cannot supply the module path: nothing at all", L"a.cab", "a.cab\r\n", [](DeviceTest& t) { t.dev().failCall(sim::Op::AllocateMemory, 2); }, L"", {}, L"a.cab"},
    {"the module path cannot be read: nothing at all", L"a.cab", "a.cab\r\n", [](DeviceTest& t) { t.dev().failCall(sim::Op::OwnModulePath, 1); }, L"", {}, L"a.cab"},
    // Paths at the edges of the buffers.
    {"module path of 259 characters: installs and sweeps", L"a.cab", "a.cab\r\n", nullptr, L"a.cab", {}, L"", 248},
    {"module path of 260 characters: ends quietly", L"a.cab", "a.cab\r\n", nullptr, L"", {}, L"a.cab", 249},
    {"directory too long for the sweep pattern: installs, sweeps nothing", L"a.cab", "a.cab\r\n", nullptr, L"a.cab", {}, L"a.cab", 255, L"V"},
    {"directory that just fits the sweep pattern", L"a.cab", "a.cab\r\n", nullptr, L"a.cab", {}, L"", 254, L"V"},
    {"the sweep passes over a path over 259 characters", kLongAndShort.c_str(), std::string(66, 'x') + ".cab\r\nshort.cab\r\n", nullptr, kLongAndShort.c_str(), {}, kLong.c_str(), 200},
};
// clang-format on

TEST_F(Launcher, Runs)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        fresh(row.dirLength ? L"\\" + std::wstring(row.dirLength - 2, L'd') + L"\\" : kDir,
              row.exe);
        installInstaller();
        addCabs(row.cabs);
        writeList(row.list);
        if (row.also)
            row.also(*this);
        runLauncher();
        std::vector<std::wstring> expected;
        for (const std::wstring& name : words(row.installed))
            expected.push_back(installDir + name);
        EXPECT_EQ(installed(), expected);
        // Each run waited for without limit, answering sent messages: an installer that
        // broadcasts would wait for us for good.
        auto waits = dev().eventsOf<sim::event::Wait>();
        EXPECT_EQ(waits.size(), expected.size());
        for (const auto& w : waits)
            EXPECT_TRUE(w.askedMs == device::kWaitForever && w.answersSent) << w.askedMs;
        EXPECT_EQ(messages(), row.messages);
        EXPECT_EQ(cabsLeft(), words(row.left));
        EXPECT_TRUE(dev().exists(installDir + row.exe));
        expectClean();
    }
}

TEST_F(Launcher, ModulePathWithoutABackslashUsesBareNames)
{
    installInstaller();
    dev().setModulePath(L"Vorlund.exe");
    dev().addFile(L"\\Vorlund.ini", "a.cab\r\n");
    dev().addFile(L"\\a.cab", "MSCF");
    addCab(L"elsewhere.cab");
    runLauncher();
    EXPECT_EQ(installed(), std::vector<std::wstring>{L"a.cab"});
    EXPECT_FALSE(dev().exists(L"\\a.cab")) << "the sweep ran on the bare pattern";
    EXPECT_EQ(cabsLeft(), std::vector<std::wstring>{L"elsewhere.cab"});
}

// ---- the installers already running -------------------------------------------------

// The installers already running that were waited for; those waits answer no
// message, as the launcher has no window yet.
std::vector<uint32_t> waitedFor(const sim::Device& d)
{
    std::vector<uint32_t> out;
    for (const auto& w : d.eventsOf<sim::event::Wait>()) {
        if (w.askedMs == 600000) {
            out.push_back(w.processId);
            EXPECT_FALSE(w.answersSent);
        }
    }
    return out;
}

TEST_F(Launcher, WalkCollectsTheInstallersFromTheLastWindowThenWaitsForEach)
{
    installInstaller();
    sim::ProgramRun first, second, stuck;
    first.durationMs = 5000;
    second.durationMs = 9000;
    stuck.endsNever = true;
    // Created first, so last in Z-order: the walk reaches it first.
    uint32_t firstId = dev().spawnProcess(kInstaller, first, L"MSWCELOAD");
    dev().setClassNameReadable(dev().addTopLevelWindow(L"MSWCELOAD", 0), false);
    dev().addTopLevelWindow(L"mswceload", 0);  // class names compare exactly
    sim::ProgramRun other;
    other.durationMs = 20000;  // a class that only begins like the installer's
    dev().spawnProcess(L"\\other.exe", other, L"MSWCELOAD2");
    uint32_t stuckId = dev().spawnProcess(kInstaller, stuck, L"MSWCELOAD");
    dev().setProcessOpenable(stuckId, false);  // cannot be opened: not waited for
    uint32_t secondId = dev().spawnProcess(kInstaller, second, L"MSWCELOAD");
    addCab(L"a.cab");
    writeList("a.cab\r\n");
    runLauncher();
    // The first installer's window is gone once it has ended; the second is
    // still waited for.
    EXPECT_EQ(waitedFor(dev()), (std::vector<uint32_t>{firstId, secondId}));
    ASSERT_EQ(dev().eventsOf<sim::event::Start>().size(), 1u);
    EXPECT_EQ(dev().now(), 9000u + 1000u) << "no installer run before both have ended";
    expectClean();
}

TEST_F(Launcher, AnInstallerThatNeverEndsIsWaitedForTenMinutes)
{
    sim::ProgramRun stuck;
    stuck.endsNever = true;
    std::vector<uint32_t> ids;
    // Seventeen of them: the walk stops after sixteen, the frontmost is left.
    for (int i = 0; i < 17; ++i)
        ids.push_back(dev().spawnProcess(kInstaller, stuck, L"MSWCELOAD"));
    writeList("");
    runLauncher();
    ids.pop_back();
    EXPECT_EQ(waitedFor(dev()), ids);
    EXPECT_EQ(dev().now(), 250u + 16 * 600000u);
    expectClean();
}

}  // namespace
