// One launcher run over N listed CABs on the simulated device, for bench/costs.py:
// "vorlund_launcher_cost N" runs it once (callgrind counts its instructions) and
// prints the platform calls it made, per kind, as JSON. The stand-in installer
// does nothing and ends at once; a run that did not install and delete every
// CAB, or left a handle or a heap block, measured something else (exit 1).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device/sim/SimDevice.h"
#include "launcher/LauncherSequence.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CABS\n", argv[0]);
        return 2;
    }
    const int count = std::atoi(argv[1]);
    const std::wstring dir = L"\\Program Files\\Bundle\\";
    sim::Device& d = sim::current();
    // Every name as long as every other ("cab000042.cab"), whatever the count, so
    // that a CAB costs the same work at 10 as at 100,000.
    std::string list;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "cab%06d.cab", i);
        list += std::string(name) + "\r\n";
        d.addFile(dir + std::wstring(name, name + std::strlen(name)), "MSCF");
    }
    d.addFile(dir + L"Vorlund.exe", "program");
    d.addFile(dir + L"Vorlund.ini", list);
    d.setModulePath(dir + L"Vorlund.exe");
    d.installProgram(L"\\windows\\wceload.exe", nullptr);
    vorlund::runLauncher(reinterpret_cast<device::ModuleHandle>(0x400000));
    if (d.eventsOf<sim::event::Start>().size() != static_cast<size_t>(count) ||
        d.deletions().size() != static_cast<size_t>(count) || d.openHandleCount() != 0 ||
        d.outstandingAllocations() != 0) {
        std::fprintf(stderr, "the run did not go as arranged\n");
        return 1;
    }
    std::printf("{\"cabs\": %d, \"repaints\": %zu, \"calls\": {", count,
                d.eventsOf<sim::event::Repaint>().size());
    for (int op = 0; op < sim::kOpCount; ++op)
        std::printf("%s\"%s\": %d", op ? ", " : "", sim::opName(static_cast<sim::Op>(op)),
                    d.callCount(static_cast<sim::Op>(op)));
    std::printf("}}\n");
    return 0;
}
