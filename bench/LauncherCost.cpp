// One launcher run over N listed CABs on the simulated device, for bench/costs.py:
// "vorlund_launcher_cost N" runs it once (callgrind counts its instructions) and
// prints the platform calls it made, per kind, as JSON. The stand-in installer
// does nothing and ends at once; a run that did not install and delete every
// CAB, or left a handle or a heap block, measured something else (exit 1).
// "vorlund_launcher_cost --reader N [--non-ascii]" reads a list of N names
// (bench/ListInputs.h) through the list reader once instead.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "bench/ListInputs.h"
#include "device/sim/SimDevice.h"
#include "launcher/CabList.h"
#include "launcher/LauncherSequence.h"

namespace {

void printCalls(const sim::Device& d)
{
    // Operations that share a platform name (the three closeHandle forms) count as one.
    std::map<std::string, int> calls;
    for (int op = 0; op < sim::kOpCount; ++op)
        calls[sim::opName(static_cast<sim::Op>(op))] += d.callCount(static_cast<sim::Op>(op));
    std::printf("\"calls\": {");
    const char* separator = "";
    for (const auto& c : calls) {
        std::printf("%s\"%s\": %d", separator, c.first.c_str(), c.second);
        separator = ", ";
    }
    std::printf("}}\n");
}

// Every name of the list read once; a reader that missed one measured something else.
int readList(uint64_t names, bool nonAscii)
{
    const bench::List list = bench::makeList(names, nonAscii);
    sim::Device& d = sim::current();
    d.addFile(L"\\Bundle\\Vorlund.ini", list.bytes);
    vorlund::CabListReader reader;
    uint64_t got = 0;
    if (vorlund::openList(&reader, L"\\Bundle\\Vorlund.ini"))
        while (vorlund::nextListedName(&reader) != nullptr)
            ++got;
    vorlund::closeList(&reader);
    if (got != list.names) {
        std::fprintf(stderr, "the reader handed out %llu names of %llu\n",
                     static_cast<unsigned long long>(got), static_cast<unsigned long long>(names));
        return 1;
    }
    std::printf("{\"bytes\": %zu, \"names\": %llu, ", list.bytes.size(),
                static_cast<unsigned long long>(got));
    printCalls(d);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--reader") == 0)
        return readList(std::strtoull(argv[2], nullptr, 10),
                        argc == 4 && std::strcmp(argv[3], "--non-ascii") == 0);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CABS | --reader NAMES [--non-ascii]\n", argv[0]);
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
    std::printf("{\"cabs\": %d, \"repaints\": %zu, ", count,
                d.eventsOf<sim::event::Repaint>().size());
    printCalls(d);
    return 0;
}
