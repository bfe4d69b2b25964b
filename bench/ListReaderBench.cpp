// The list reader on the simulated device beside baselines over the same
// bytes, in one table: std::getline doing the same work, a memchr scan that
// widens each name, and the bare memchr scan as the limit. Each counts the
// names it handed out; bytes/s, names/s and the reader's heap allocations per name.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <string_view>

#include "bench/ListInputs.h"
#include "device/sim/SimDevice.h"
#include "launcher/CabList.h"

// Every C++ allocation of this program passes through here and is counted;
// the library's array and nothrow forms end up here too.
static uint64_t gAllocations = 0;
void* operator new(std::size_t bytes)
{
    ++gAllocations;
    if (void* block = std::malloc(bytes ? bytes : 1))
        return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept
{
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace {

const wchar_t kListPath[] = L"\\Program Files\\Bundle\\Vorlund.ini";
const int kWide = device::kMaxNameBytes + 1;

// The list of the run's arguments: how many names, and whether one in eight
// is not all ASCII.
const bench::List& listOf(const benchmark::State& state)
{
    static std::map<std::pair<int64_t, int64_t>, bench::List> made;
    auto key = std::make_pair(state.range(0), state.range(1));
    auto it = made.find(key);
    if (it == made.end())
        it = made.emplace(key, bench::makeList(key.first, key.second != 0)).first;
    return it->second;
}

void report(benchmark::State& state, const bench::List& list, uint64_t names, uint64_t allocations)
{
    if (names != list.names * state.iterations())
        state.SkipWithError("not every name was handed out once");
    state.SetBytesProcessed(static_cast<int64_t>(list.bytes.size() * state.iterations()));
    state.counters["names/s"] = benchmark::Counter(double(names), benchmark::Counter::kIsRate);
    state.counters["allocs/name"] = double(allocations) / double(names);
}

void ListReader(benchmark::State& state)
{
    const bench::List& list = listOf(state);
    sim::current().reset();
    sim::current().addFile(kListPath, list.bytes);
    uint64_t names = 0, allocations = 0;
    for (auto _ : state) {
        vorlund::CabListReader reader;
        vorlund::openList(&reader, kListPath);
        uint64_t before = gAllocations;  // opening is once per list: the reading counts
        while (vorlund::nextListedName(&reader) != nullptr)
            ++names;
        allocations += gAllocations - before;
        vorlund::closeList(&reader);
    }
    report(state, list, names, allocations);
}

// std::getline over a real file doing the reader's work: a NUL ends the line's
// text, a CR ends a name too, a name over 255 bytes is passed over, and each
// name goes through the device's conversion (the simulated device's).
void Getline(benchmark::State& state)
{
    const bench::List& list = listOf(state);
    sim::current().reset();
    auto path = std::filesystem::temp_directory_path() / "vorlund-bench-list.ini";
    std::ofstream(path, std::ios::binary) << list.bytes;
    uint64_t names = 0, allocations = 0;
    wchar_t wide[kWide];
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary);
        uint64_t before = gAllocations;
        for (std::string line; std::getline(in, line);) {
            std::string_view rest(line.data(), std::min(line.find('\0'), line.size()));
            while (!rest.empty()) {
                size_t cut = std::min(rest.find('\r'), rest.size());
                if (cut > 0 && cut <= size_t(device::kMaxNameBytes) &&
                    device::ansiToWide(rest.data(), int(cut), wide, kWide))
                    ++names;
                rest.remove_prefix(std::min(cut + 1, rest.size()));
            }
        }
        allocations += gAllocations - before;
    }
    std::filesystem::remove(path);
    report(state, list, names, allocations);
}

// The line breaks found with memchr in memory, LF first, then CR; with `widen`,
// each name is widened byte by byte into a terminated wide string.
template <bool widen> void memchrScan(benchmark::State& state)
{
    const bench::List& list = listOf(state);
    const char* const end = list.bytes.data() + list.bytes.size();
    uint64_t names = 0;
    wchar_t wide[kWide];
    for (auto _ : state) {
        for (const char *p = list.bytes.data(), *lf; p < end; p = lf + 1) {
            lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
            lf = lf ? lf : end;
            for (const char* cr; p < lf; p = cr + 1) {
                cr = static_cast<const char*>(std::memchr(p, '\r', lf - p));
                cr = cr ? cr : lf;
                if (widen && cr > p && cr - p <= device::kMaxNameBytes) {
                    std::transform(p, cr, wide, [](char c) { return wchar_t(uint8_t(c)); });
                    wide[cr - p] = 0;
                    benchmark::DoNotOptimize(wide);
                }
                names += cr > p;
            }
        }
        benchmark::DoNotOptimize(names);
    }
    report(state, list, names, 0);
}

void MemchrWiden(benchmark::State& state)
{
    memchrScan<true>(state);
}

void MemchrLimit(benchmark::State& state)
{
    memchrScan<false>(state);
}

// 100,000 names (about 3 MB), all ASCII and with one in eight not.
void lists(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"names", "nonascii"})->Args({100000, 0})->Args({100000, 1});
    b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(ListReader)->Apply(lists);
BENCHMARK(Getline)->Apply(lists);
BENCHMARK(MemchrWiden)->Apply(lists);
BENCHMARK(MemchrLimit)->Apply(lists);
