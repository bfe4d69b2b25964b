// Shared set-up for the host tests (see SimTestSupport.h).
#include "tests/SimTestSupport.h"

#include "launcher/LauncherSequence.h"

namespace test {

const std::wstring kInstallDir = L"\\Program Files\\Bundle\\";
const std::wstring kInstaller = L"\\windows\\wceload.exe";

std::wstring quotedPath(const std::wstring& commandLine)
{
    size_t open = commandLine.find(L'"');
    size_t close = commandLine.rfind(L'"');
    if (open == std::wstring::npos || close == open)
        return L"";
    return commandLine.substr(open + 1, close - open - 1);
}

int sweepFaults(const std::function<void()>& arrange, const std::function<void()>& run,
                const std::function<void(const std::string& what)>& check)
{
    int points = 0;
    auto sweep = [&](const std::function<void(int)>& inject, const std::string& what) {
        for (int n = 1;; ++n) {
            arrange();
            inject(n);
            run();
            if (!sim::device().injectedFault())
                return;  // the run made fewer calls: every point is covered
            ++points;
            check(what + " " + std::to_string(n));
        }
    };
    sweep([](int n) { sim::device().failNthOverall(n); }, "overall call");
    for (int op = 0; op < sim::kOpCount; ++op) {
        sim::Op o = static_cast<sim::Op>(op);
        sweep([o](int n) { sim::device().failFrom(o, n); }, std::string(sim::opName(o)) + " from call");
    }
    return points;
}

void DeviceTest::SetUp()
{
    dev().reset();
    dev().addDirectory(L"\\windows");
    dev().addDirectory(kInstallDir);
    dev().addFile(kInstallDir + L"Vorlund.exe", "program");
    dev().setModulePath(kInstallDir + L"Vorlund.exe");
}

void DeviceTest::TearDown()
{
    dev().reset();
}

void DeviceTest::installInstaller()
{
    InstallerScript* s = &script;
    dev().installProgram(kInstaller, [s](sim::Device& d, const std::wstring& commandLine) {
        std::wstring path = quotedPath(commandLine);
        s->cabsSeen.push_back(path);
        std::wstring name = path.substr(path.rfind(L'\\') + 1);
        sim::ProgramRun run;
        run.durationMs = s->durationMs;
        run.exitCode = s->reject.count(name) ? 1 : 0;
        run.exitStatusReadable = !s->unreadable.count(name);
        if (s->deletesCab)
            d.remove(path);
        return run;
    }, L"MSWCELOAD");
}

void DeviceTest::addCab(const std::wstring& name, uint32_t attributes)
{
    dev().addFile(kInstallDir + name, "MSCF", attributes);
}

void DeviceTest::writeList(const std::string& content)
{
    dev().addFile(kInstallDir + L"Vorlund.ini", content);
}

int DeviceTest::runLauncherNow()
{
    return runLauncher(reinterpret_cast<ModuleHandle>(static_cast<uintptr_t>(0x400000)));
}

std::vector<std::wstring> DeviceTest::messageTexts() const
{
    std::vector<std::wstring> out;
    for (const auto& m : sim::device().messageBoxes())
        out.push_back(m.text);
    return out;
}

void DeviceTest::expectNoLeaks()
{
    EXPECT_EQ(dev().openHandleCount(), 0) << "open handles left";
    EXPECT_EQ(dev().outstandingAllocations(), 0) << "heap blocks left";
    EXPECT_FALSE(dev().hungForever());
}

}  // namespace test
