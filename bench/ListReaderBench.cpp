// The list reader on the simulated device beside std::getline over a real file
// and a memchr scan in memory, over the same bytes: names/s, bytes/s and heap
// allocations per name.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <random>
#include <string_view>

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

struct List {
    std::string bytes;
    uint64_t names = 0;
};

// About `size` bytes of names of 1 to 255 bytes (most under 41), each ended by
// CR LF, LF, CR or a run of blank lines; the same bytes on every run.
const List& listOf(size_t size)
{
    static std::map<size_t, List> made;
    static const char* const kBreaks[] = {"\r\n", "\n", "\r", "\r\n\r\n", "\n\n\n", "\r\r"};
    List& list = made[size];
    std::minstd_rand random(2024);
    for (; list.bytes.size() < size; ++list.names) {
        size_t length = random() % 16 ? 1 + random() % 40 : 41 + random() % 215;
        for (size_t i = 0; i < length; ++i)
            list.bytes += static_cast<char>('!' + random() % 94);
        list.bytes += kBreaks[random() % 6];
    }
    return list;
}

void report(benchmark::State& state, const List& list, uint64_t names, uint64_t allocations)
{
    if (names != list.names * state.iterations())
        state.SkipWithError("the reader did not hand out every name once");
    state.SetBytesProcessed(static_cast<int64_t>(list.bytes.size() * state.iterations()));
    state.counters["names/s"] = benchmark::Counter(double(names), benchmark::Counter::kIsRate);
    state.counters["allocs/name"] = double(allocations) / double(names);
}

void ListReader(benchmark::State& state)
{
    const List& list = listOf(state.range(0));
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

// Lines as most programs read them; a CR also ends a name, as on the device.
void Getline(benchmark::State& state)
{
    const List& list = listOf(state.range(0));
    auto path = std::filesystem::temp_directory_path() / "vorlund-bench-list.ini";
    std::ofstream(path, std::ios::binary) << list.bytes;
    uint64_t names = 0, allocations = 0;
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary);
        uint64_t before = gAllocations;
        for (std::string line; std::getline(in, line);) {
            for (std::string_view rest = line; !rest.empty();) {
                size_t cut = std::min(rest.find('\r'), rest.size());
                names += cut > 0;
                rest.remove_prefix(std::min(cut + 1, rest.size()));
            }
        }
        allocations += gAllocations - before;
    }
    std::filesystem::remove(path);
    report(state, list, names, allocations);
}

// The limit: the line breaks found with memchr in memory, LF first, then CR.
void MemchrLimit(benchmark::State& state)
{
    const List& list = listOf(state.range(0));
    const char* const end = list.bytes.data() + list.bytes.size();
    uint64_t names = 0;
    for (auto _ : state) {
        for (const char *p = list.bytes.data(), *lf; p < end; p = lf + 1) {
            lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
            lf = lf ? lf : end;
            for (const char* cr; p < lf; p = cr + 1) {
                cr = static_cast<const char*>(std::memchr(p, '\r', lf - p));
                cr = cr ? cr : lf;
                names += cr > p;
            }
        }
        benchmark::DoNotOptimize(names);
    }
    report(state, list, names, 0);
}

}  // namespace

BENCHMARK(ListReader)->Arg(1 << 20)->Arg(100 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(Getline)->Arg(1 << 20)->Arg(100 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(MemchrLimit)->Arg(1 << 20)->Arg(100 << 20)->Unit(benchmark::kMillisecond);
