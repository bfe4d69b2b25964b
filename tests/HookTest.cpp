// The setup hook library: what Install_Exit says, starts and deletes for each
// state of the registry and the install directory; the other hooks do nothing.
#include "setup/SetupHooks.h"
#include "tests/Support.h"

namespace {

using namespace test;

using hosttext::utf16le;

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::wstring kValue = kDir.substr(0, kDir.size() - 1);  // no trailing backslash
const std::vector<uint8_t> kZero = {0, 0};

enum class Launcher { Program, WillNotStart, Missing, Hidden, System, Folder };

struct Row {
    const char* what;
    std::function<void(sim::Device&)> registry;  // nullptr: the value kValue
    Launcher launcher;
    std::function<void(sim::Device&)> faults;
    std::vector<std::wstring> messages;
    bool started, swept, keyLeft;
    // The directory the value names, as long as this; 0: the root; by default kDir.
    size_t valueLength = SIZE_MAX;
};

auto value(const std::vector<uint8_t>& data, uint32_t type = 1)
{
    return [=](sim::Device& d) { d.setRegistryValue(kKey, L"Default", data, type); };
}
auto failing(sim::Op op, int nth)
{
    return [=](sim::Device& d) { d.failCall(op, nth); };
}

const auto kNotice = text::kNotice, kNoLauncher = text::kNoLauncher;

// clang-format off
const Row kRows[] = {
    {"launcher present: the notice, then it starts", nullptr, Launcher::Program, nullptr, {kNotice}, true, false, false},
    {"no key", [](sim::Device& d) { d.addRegistryKey(L"Software\\Other"); }, Launcher::Program, nullptr, {text::kNoKey}, false, false, false},
    {"a key that cannot be opened stays", nullptr, Launcher::Program, failing(sim::Op::OpenUserKey, 1), {text::kNoKey}, false, false, true},
    {"key without the value", [](sim::Device& d) { d.addRegistryKey(kKey); }, Launcher::Program, nullptr, {text::kNoValue}, false, false, false},
    {"size query fails", nullptr, Launcher::Program, failing(sim::Op::QueryValue, 1), {text::kNoValue}, false, false, false},
    {"data query fails", nullptr, Launcher::Program, failing(sim::Op::QueryValue, 2), {text::kNoValue}, false, false, false},
    {"no heap for the value", nullptr, Launcher::Program, failing(sim::Op::AllocateMemory, 1), {text::kNoValue}, false, false, false},
    {"launcher missing: the CABs are swept", nullptr, Launcher::Missing, nullptr, {kNoLauncher}, false, true, false},
    {"value with a trailing backslash: not doubled", value(utf16le(kDir) + kZero), Launcher::Program, nullptr, {kNotice}, true, false, false},
    {"launcher hidden", nullptr, Launcher::Hidden, nullptr, {kNoLauncher}, false, true, false},
    {"launcher system", nullptr, Launcher::System, nullptr, {kNoLauncher}, false, true, false},
    {"launcher a directory", nullptr, Launcher::Folder, nullptr, {kNoLauncher}, false, true, false},
    {"a launcher that will not start is no launcher either", nullptr, Launcher::WillNotStart, nullptr, {kNotice, kNoLauncher}, false, true, false},
    {"value without a terminator", value(utf16le(kValue)), Launcher::Program, nullptr, {kNotice}, true, false, false},
    {"odd size, no terminator", value(utf16le(kValue) + std::vector<uint8_t>{'X'}), Launcher::Program, nullptr, {kNotice}, true, false, false},
    {"odd size after the terminator", value(utf16le(kValue) + kZero + std::vector<uint8_t>{'X'}), Launcher::Program, nullptr, {kNotice}, true, false, false},
    {"binary type", value(utf16le(kValue) + kZero, 3), Launcher::Program, nullptr, {kNotice}, true, false, false},
    {"text after an inner terminator", value(utf16le(kValue) + kZero + utf16le(L"\\other")), Launcher::Program, nullptr, {kNotice}, true, false, false},
    // An empty value (a terminator alone, or no data) names no install directory:
    // the hook looks for "\Vorlund.exe" at the root, but never sweeps the root.
    {"empty value, no launcher at the root", nullptr, Launcher::Missing, nullptr, {kNoLauncher}, false, false, false, 0},
    {"no data, a launcher at the root that will not start", value({}), Launcher::WillNotStart, nullptr, {kNotice, kNoLauncher}, false, false, false, 0},
    {"no data, a launcher at the root", value({}), Launcher::Program, nullptr, {kNotice}, true, false, false, 0},
    // The launcher path must fit 260 characters with its terminator, so the value may
    // have 247; the sweep directory fits up to 258. Longer values are never cut short:
    // nothing outside the directory is deleted.
    {"value of 247 characters", nullptr, Launcher::Program, nullptr, {kNotice}, true, false, false, 247},
    {"value of 248 characters", nullptr, Launcher::Program, nullptr, {kNoLauncher}, false, true, false, 248},
    {"value of 258 characters", nullptr, Launcher::Program, nullptr, {kNoLauncher}, false, false, false, 258},
    {"value of 259 characters", nullptr, Launcher::Program, nullptr, {kNoLauncher}, false, false, false, 259},
    {"value of 2000 characters", nullptr, Launcher::Program, nullptr, {kNoLauncher}, false, false, false, 2000},
};
// clang-format on

class Hook : public DeviceTest {};

TEST_F(Hook, Rows)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        size_t length = row.valueLength;
        fresh(length == SIZE_MAX ? kDir
              : length == 0      ? L"\\"
                                 : L"\\p\\" + std::wstring(length - 3, L'd') + L"\\");
        dev().addFile(L"\\p\\up.cab");
        bool atRoot = installDir == L"\\";
        if (!atRoot)
            dev().addFile(L"\\root.cab");  // outside the install directory: never swept
        std::wstring launcher = installDir + L"Vorlund.exe";
        if (row.launcher == Launcher::Program)
            dev().installProgram(launcher, nullptr);
        else if (row.launcher == Launcher::Hidden || row.launcher == Launcher::System)
            dev().setAttributes(launcher, row.launcher == Launcher::Hidden ? device::kAttrHidden
                                                                           : device::kAttrSystem);
        else if (row.launcher != Launcher::WillNotStart)
            dev().remove(launcher);
        if (row.launcher == Launcher::Folder)
            dev().addDirectory(launcher);
        addCabs(L"a.cab b.cab notes.txt");
        if (row.registry)
            row.registry(dev());
        else
            dev().setRegistryString(kKey, L"Default", installDir.substr(0, installDir.size() - 1));
        if (row.faults)
            row.faults(dev());
        runHook();
        EXPECT_EQ(messages(kOwner), row.messages);
        // The size is asked first, the type preset to a string's and no bytes; then the
        // data, into a buffer of exactly the size reported.
        auto q = dev().eventsOf<sim::event::QueryValue>();
        if (!row.registry && !row.faults) {
            ASSERT_EQ(q.size(), 2u);
            EXPECT_EQ(std::make_tuple(q[0].type, q[0].sizeBytes, q[0].withBuffer),
                      std::make_tuple(1u, 0u, false));
            EXPECT_EQ(std::make_tuple(q[1].sizeBytes, q[1].withBuffer),
                      std::make_tuple(uint32_t(installDir.size() * sizeof(wchar_t)), true));
        }
        auto starts = dev().eventsOf<sim::event::Start>();
        ASSERT_EQ(starts.size(), row.started ? 1u : 0u);
        if (row.started) {
            EXPECT_EQ(starts[0].program, launcher);
            EXPECT_FALSE(starts[0].hasCommandLine);
            EXPECT_FALSE(starts[0].keptHandles);
        }
        EXPECT_EQ(cabsLeft(), words(row.swept ? L"" : L"a.cab b.cab"));
        EXPECT_TRUE(dev().exists(installDir + L"notes.txt"));
        EXPECT_TRUE(dev().exists(L"\\p\\up.cab") && (atRoot || dev().exists(L"\\root.cab")));
        EXPECT_EQ(dev().registryKeyExists(kKey), row.keyLeft);
        expectClean();
    }
}

TEST_F(Hook, OtherHooksReturnZeroAndTouchNothing)
{
    device::WindowHandle owner = reinterpret_cast<device::WindowHandle>(kOwner);
    EXPECT_EQ(Install_Init(owner, 1, 0, kDir.c_str()), 0);
    EXPECT_EQ(Uninstall_Init(owner, kDir.c_str()), 0);
    EXPECT_EQ(Uninstall_Exit(owner), 0);
    EXPECT_TRUE(dev().events().empty());
}

}  // namespace
