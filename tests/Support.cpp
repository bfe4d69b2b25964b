// Shared set-up for the host tests (see Support.h).
#include "tests/Support.h"

#include <cwchar>
#include <iterator>
#include <sstream>

#include "launcher/LauncherSequence.h"
#include "setup/SetupHooks.h"

namespace test {

void DeviceTest::fresh(const std::wstring& dir, const std::wstring& exe)
{
    dev().reset();
    script = InstallerScript();
    installDir = dir;
    dev().addDirectory(L"\\windows");
    dev().addDirectory(dir);
    dev().addFile(dir + exe, "program");
    dev().setModulePath(dir + exe);
}

void DeviceTest::installInstaller()
{
    InstallerScript* s = &script;
    auto behaviour = [s](sim::Device& d, const std::wstring& commandLine) {
        std::wstring path = sim::quotedPath(commandLine);
        std::wstring name = hosttext::lastComponent(path);
        sim::ProgramRun run;
        run.durationMs = 1000;
        run.exitStatusReadable = !s->unreadable.count(name);
        if (s->drops.count(name))
            d.addFile(path.substr(0, path.size() - 4) + L"+.cab", "MSCF");
        if (s->deletesCab)
            d.remove(path);
        return run;
    };
    dev().installProgram(kInstaller, behaviour, L"MSWCELOAD");
}

void DeviceTest::addCab(const std::wstring& name, uint32_t attributes)
{
    if (attributes & device::kAttrDirectory)
        dev().addDirectory(installDir + name, attributes);
    else
        dev().addFile(installDir + name, "MSCF", attributes);
}

std::vector<std::wstring> words(const std::wstring& text)
{
    std::wistringstream in(text);
    return {std::istream_iterator<std::wstring, wchar_t>(in), {}};
}

void DeviceTest::addCabs(const std::wstring& entries)
{
    for (const std::wstring& word : words(entries)) {
        std::wstring name = word.substr(0, word.find(L':'));
        std::wstring flags = word.size() > name.size() ? word.substr(name.size() + 1) : L"";
        uint32_t attributes = 0;
        for (wchar_t f : flags) {
            const wchar_t* letters = L"RHS?D";
            if (const wchar_t* at = std::wcschr(letters, f))
                attributes |= 1u << (at - letters);
        }
        addCab(name, attributes);
        if (flags.find(L'U') != std::wstring::npos)
            dev().setInUse(installDir + name, true);
        if (flags.find(L'L') != std::wstring::npos)
            dev().setDeleteLeavesIt(installDir + name);
    }
}

void DeviceTest::writeList(const std::string& content)
{
    if (content != kNoListFile)
        dev().addFile(installDir + L"Vorlund.ini", content);
}

void DeviceTest::runLauncher()
{
    EXPECT_EQ(vorlund::runLauncher(reinterpret_cast<device::ModuleHandle>(uintptr_t(0x400000))), 0);
}

void DeviceTest::runHook()
{
    // The parameters past the owner are not read; they carry junk here.
    EXPECT_EQ(
        Install_Exit(reinterpret_cast<device::WindowHandle>(kOwner), L"\\elsewhere", 1, 2, 3, 4, 5),
        0);
}

std::vector<std::wstring> DeviceTest::messages(uintptr_t owner)
{
    std::vector<std::wstring> out;
    for (const auto& m : dev().eventsOf<sim::event::MessageBox>()) {
        EXPECT_EQ(m.owner, owner);
        EXPECT_EQ(m.caption, text::kCaption);
        EXPECT_EQ(m.style, 48u);
        out.push_back(m.text);
    }
    return out;
}

std::vector<std::wstring> DeviceTest::installed()
{
    std::vector<std::wstring> out;
    for (const auto& s : dev().eventsOf<sim::event::Start>()) {
        if (s.program != kInstaller)
            continue;
        std::wstring path = sim::quotedPath(s.commandLine);
        EXPECT_EQ(s.commandLine, L" /nouninstall /noui \"" + path + L"\"");
        out.push_back(path);
    }
    return out;
}

std::vector<std::wstring> DeviceTest::cabsLeft()
{
    std::vector<std::wstring> out;
    for (const std::wstring& n : dev().list(installDir))
        if (hosttext::endsWithCab(n))
            out.push_back(n);
    return out;
}

void DeviceTest::expectClean()
{
    EXPECT_EQ(dev().openHandleCount(), 0) << "open handles left";
    EXPECT_EQ(dev().outstandingAllocations(), 0) << "heap blocks left";
    EXPECT_FALSE(dev().hungForever());
}

int sweepFaults(const std::function<void()>& arrange, const std::function<void()>& run,
                const std::function<void()>& check)
{
    int points = 0;
    auto sweep = [&](const std::function<void(int)>& inject, const std::string& what) {
        for (int n = 1;; ++n) {
            arrange();
            inject(n);
            run();
            if (!sim::current().injectedFault())
                return;  // the run made fewer calls: every point is covered
            ++points;
            SCOPED_TRACE(what + " " + std::to_string(n));
            check();
        }
    };
    sweep([](int n) { sim::current().failNthOverall(n); }, "overall call");
    for (int op = 0; op < sim::kOpCount; ++op) {
        sim::Op o = static_cast<sim::Op>(op);
        sweep([o](int n) { sim::current().failFrom(o, n); },
              std::string(sim::opName(o)) + " from call");
    }
    return points;
}

}  // namespace test
