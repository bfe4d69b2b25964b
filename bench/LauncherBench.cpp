// The launcher's own cost per CAB and the sweep's growth on the simulated
// device, and the device heap blocks that a launcher run and a hook run take.
#include <benchmark/benchmark.h>

#include <functional>
#include <string>

#include "common/CabSweep.h"
#include "device/sim/SimDevice.h"
#include "launcher/LauncherSequence.h"
#include "setup/SetupHooks.h"

namespace {

const std::wstring kDir = L"\\Program Files\\Bundle\\";

// Times `run` alone, on a device that `arrange` sets up afresh each time, and
// the time per CAB of `cabs` (0: none). A run that did not start `starts` programs and
// delete `deletions` files, or left a handle or a heap block, measured
// something else.
void timeRuns(benchmark::State& state, const std::function<void(sim::Device&)>& arrange,
              const std::function<void()>& run, size_t starts, size_t deletions, int cabs = 0)
{
    sim::Device& d = sim::current();
    for (auto _ : state) {
        state.PauseTiming();
        d.reset();
        arrange(d);
        state.ResumeTiming();
        run();
        state.PauseTiming();
        if (d.eventsOf<sim::event::Start>().size() != starts || d.deletions().size() != deletions ||
            d.outstandingAllocations() != 0 || d.openHandleCount() != 0)
            state.SkipWithError("the run did not go as arranged");
        state.counters["device heap blocks"] = d.callCount(sim::Op::AllocateMemory);
        state.ResumeTiming();
    }
    using benchmark::Counter;
    if (cabs > 0)
        state.counters["per CAB"] =
            Counter(cabs, Counter::kIsIterationInvariantRate | Counter::kInvert);
}

// CABs cab0.cab to cab<count - 1>.cab; with `readOnly`, every 10th is read-only.
void addCabs(sim::Device& d, int count, bool readOnly)
{
    for (int i = 0; i < count; ++i)
        d.addFile(kDir + L"cab" + std::to_wstring(i) + L".cab", "MSCF",
                  readOnly && i % 10 == 0 ? device::kAttrReadOnly : 0);
}

// Everything the launcher does per CAB but the installer's own run: the
// stand-in installer does nothing and ends at once.
void LauncherPerCab(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    std::string list;
    for (int i = 0; i < count; ++i)
        list += "cab" + std::to_string(i) + ".cab\r\n";
    auto arrange = [&](sim::Device& d) {
        d.addFile(kDir + L"Vorlund.exe", "program");
        d.setModulePath(kDir + L"Vorlund.exe");
        d.installProgram(L"\\windows\\wceload.exe", nullptr);
        addCabs(d, count, false);
        d.addFile(kDir + L"Vorlund.ini", list);
    };
    auto run = [] { vorlund::runLauncher(reinterpret_cast<device::ModuleHandle>(0x400000)); };
    timeRuns(state, arrange, run, count, count, count);
}

// Each round of the sweep starts a new search and reads past the CABs that
// it could not delete in earlier rounds.
void SweepGrowth(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const bool readOnly = state.range(1) != 0;
    timeRuns(
        state, [&](sim::Device& d) { addCabs(d, count, readOnly); },
        [] { vorlund::sweepCabFiles(kDir.c_str()); }, 0, count - (readOnly ? (count + 9) / 10 : 0),
        count);
    sim::Device& d = sim::current();  // as the last run left it
    state.counters["entries read per CAB"] =
        double(d.callCount(sim::Op::FindOpen) + d.callCount(sim::Op::FindNext)) / count;
}

void HookRun(benchmark::State& state)
{
    auto arrange = [](sim::Device& d) {
        d.installProgram(kDir + L"Vorlund.exe", nullptr);
        d.setRegistryString(L"Software\\TqVorlund", L"Default", L"\\Program Files\\Bundle");
    };
    auto run = [] {
        Install_Exit(reinterpret_cast<device::WindowHandle>(0x2468), L"", 0, 0, 0, 0, 0);
    };
    timeRuns(state, arrange, run, 1, 0);
}

}  // namespace

BENCHMARK(LauncherPerCab)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(SweepGrowth)->ArgsProduct({{100, 1000, 10000}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(HookRun)->Unit(benchmark::kMicrosecond);
