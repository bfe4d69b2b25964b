// The launcher's own cost per CAB and the sweep's growth on the simulated
// device, and the device heap blocks that a launcher run and a hook run take.
#include <benchmark/benchmark.h>

#include <string>

#include "common/CabSweep.h"
#include "device/sim/SimDevice.h"
#include "launcher/LauncherSequence.h"
#include "setup/SetupHooks.h"

namespace {

const std::wstring kDir = L"\\Program Files\\Bundle\\";

std::wstring cabName(int i)
{
    return L"cab" + std::to_wstring(i) + L".cab";
}

// A fresh device with the launcher, `count` CABs, all of them listed, and an
// installer that does nothing and ends at once.
void arrangeLauncher(int count)
{
    sim::Device& d = sim::current();
    d.reset();
    d.addFile(kDir + L"Vorlund.exe", "program");
    d.setModulePath(kDir + L"Vorlund.exe");
    d.installProgram(L"\\windows\\wceload.exe", nullptr);
    std::string list;
    for (int i = 0; i < count; ++i) {
        d.addFile(kDir + cabName(i), "MSCF");
        list += "cab" + std::to_string(i) + ".cab\r\n";
    }
    d.addFile(kDir + L"Vorlund.ini", list);
}

// A run that did not install and delete every CAB, or left a heap block,
// measured something else.
void check(benchmark::State& state, size_t installs, size_t deletions)
{
    sim::Device& d = sim::current();
    if (d.eventsOf<sim::event::Start>().size() != installs || d.deletions().size() != deletions ||
        d.outstandingAllocations() != 0 || d.openHandleCount() != 0)
        state.SkipWithError("the run did not go as arranged");
    state.counters["device heap blocks"] = d.callCount(sim::Op::Allocate);
}

void LauncherPerCab(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        arrangeLauncher(count);
        state.ResumeTiming();
        vorlund::runLauncher(reinterpret_cast<device::ModuleHandle>(uintptr_t(0x400000)));
        state.PauseTiming();
        check(state, count, count);
        state.ResumeTiming();
    }
    state.counters["per CAB"] = benchmark::Counter(
        count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Every `readOnlyEvery`th CAB cannot be deleted (0: none); each round of the
// sweep starts a new search and reads past those it has met.
void SweepGrowth(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const int readOnlyEvery = static_cast<int>(state.range(1));
    int kept = 0;
    double entries = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim::Device& d = sim::current();
        d.reset();
        kept = 0;
        for (int i = 0; i < count; ++i) {
            bool readOnly = readOnlyEvery > 0 && i % readOnlyEvery == 0;
            kept += readOnly;
            d.addFile(kDir + cabName(i), "MSCF", readOnly ? device::kAttrReadOnly : 0);
        }
        state.ResumeTiming();
        vorlund::sweepCabFiles(kDir.c_str());
        state.PauseTiming();
        entries += d.callCount(sim::Op::FindOpen) + d.callCount(sim::Op::FindNext);
        check(state, 0, count - kept);
        state.ResumeTiming();
    }
    state.counters["per CAB"] = benchmark::Counter(
        count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["entries read per CAB"] = entries / count / state.iterations();
}

void HookRun(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        sim::Device& d = sim::current();
        d.reset();
        d.installProgram(kDir + L"Vorlund.exe", nullptr);
        d.setRegistryString(L"Software\\TqVorlund", L"Default", L"\\Program Files\\Bundle");
        state.ResumeTiming();
        Install_Exit(reinterpret_cast<device::WindowHandle>(uintptr_t(0x2468)), L"", 0, 0, 0, 0, 0);
        state.PauseTiming();
        check(state, 1, 0);
        state.ResumeTiming();
    }
}

}  // namespace

BENCHMARK(LauncherPerCab)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(SweepGrowth)->ArgsProduct({{100, 1000, 10000}, {0, 10}})->Unit(benchmark::kMillisecond);
BENCHMARK(HookRun)->Unit(benchmark::kMicrosecond);
