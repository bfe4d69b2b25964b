// libFuzzer target: the list reader hands out exactly the names of a plain
// reference split, each once, whole and in order, for any file content.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "device/sim/SimDevice.h"
#include "launcher/CabList.h"
#include "tests/ListReference.h"
#include "tools/hosttext/HostText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sim::Device& dev = sim::current();
    dev.reset();
    const std::string file(reinterpret_cast<const char*>(data), size);
    dev.addFile(L"\\b\\Vorlund.ini", file);

    std::vector<std::string> got;
    vorlund::CabListReader reader;
    if (!vorlund::openList(&reader, L"\\b\\Vorlund.ini"))
        std::abort();
    for (const wchar_t* name; (name = vorlund::nextListedName(&reader)) != nullptr;)
        got.push_back(hosttext::toAnsi(name));
    vorlund::closeList(&reader);
    if (got != test::referenceNames(file) || dev.openHandleCount() != 0) {
        std::fprintf(stderr, "reader and reference disagree on a list of %zu bytes\n", size);
        std::abort();
    }
    return 0;
}
