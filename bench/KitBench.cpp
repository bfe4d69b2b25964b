// vorlund-kit on its two large inputs: the largest legal install header
// (65,535 strings and 65,535 directories) decoded, inspected and rehearsed,
// which must take well under a second, and a 1 GiB file that is no cabinet,
// which must be refused at once. A run over its bound reports an error.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tools/cecab/Cabinet.h"
#include "tools/cecab/Layout.h"
#include "tools/kit/Analysis.h"
#include "tools/kit/Kit.h"

namespace fs = std::filesystem;

namespace {

const double kHeaderBoundSeconds = 0.5;
const double kNonCabinetBoundSeconds = 0.1;

fs::path scratch(const std::string& name)
{
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "vorlund-bench-XXXXXX").string();
        return fs::path(mkdtemp(pattern.data()));
    }();
    return dir / name;
}

std::string largestHeader()
{
    cecab::InstallHeader h;
    for (uint32_t id = 1; id <= 0xFFFF; ++id) {
        h.strings.push_back({static_cast<uint16_t>(id), "dir" + std::to_string(id)});
        h.dirs.push_back({static_cast<uint16_t>(id), {static_cast<uint16_t>(id)}});
    }
    std::string bytes, error;
    cecab::encodeHeader(h, &bytes, &error);
    return bytes;
}

// Times `body` each iteration; an iteration over `bound` seconds is an error.
template <typename Body> void bounded(benchmark::State& state, double bound, Body body)
{
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        body();
        double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (took > bound)
            state.SkipWithError(("took " + std::to_string(took) + " s, over the bound").c_str());
    }
}

void LargestHeaderDecoded(benchmark::State& state)
{
    const std::string bytes = largestHeader();
    bounded(state, kHeaderBoundSeconds, [&] {
        std::vector<cecab::HeaderProblem> problems;
        cecab::InstallHeader h = cecab::decodeHeader(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                     bytes.size(), &problems);
        benchmark::DoNotOptimize(cecab::layoutOf(h, {}));
    });
}

// inspect's whole analysis: the CAB opened, its directories laid out on the
// simulated device, the hook run there, the findings made.
void LargestHeaderInspected(benchmark::State& state)
{
    std::string cabinet, error;
    cecab::writeCabinet({{"00000App.000", largestHeader(), ""}}, 0, &cabinet, &error);
    const fs::path cab = scratch("largest.cab");
    std::ofstream(cab, std::ios::binary) << cabinet;
    bounded(state, kHeaderBoundSeconds, [&] {
        std::vector<cecab::HeaderProblem> problems;
        kit::Package package = kit::Package::open(cab.string(), &problems);
        benchmark::DoNotOptimize(kit::analysePackage(package, kit::Options()));
    });
}

void GibibyteNonCabinetRefused(benchmark::State& state)
{
    const fs::path file = scratch("gibibyte.bin");
    std::ofstream(file, std::ios::binary) << "not a cabinet";
    fs::resize_file(file, 1ull << 30);  // sparse
    bounded(state, kNonCabinetBoundSeconds, [&] {
        std::vector<cecab::HeaderProblem> problems;
        try {
            kit::Package::open(file.string(), &problems);
            state.SkipWithError("a file that is no cabinet was opened");
        } catch (const kit::InputError&) {
        }
    });
    fs::remove(file);
}

}  // namespace

BENCHMARK(LargestHeaderDecoded)->Unit(benchmark::kMillisecond);
BENCHMARK(LargestHeaderInspected)->Unit(benchmark::kMillisecond);
BENCHMARK(GibibyteNonCabinetRefused)->Unit(benchmark::kMicrosecond);
