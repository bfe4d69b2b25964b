// libFuzzer target: the install header decoder over arbitrary bytes. It must
// never read outside the input (the sanitizers watch), and whatever it
// decodes without a problem and encodes must decode again to the same header.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/cecab/InstallHeader.h"
#include "tools/cecab/Layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<cecab::HeaderProblem> problems;
    cecab::InstallHeader header = cecab::decodeHeader(data, size, &problems);
    // The layout of whatever was decoded: every id looked up, paths resolved.
    cecab::Layout layout = cecab::layoutOf(header, {});
    for (const cecab::LayoutValue& v : layout.values)
        cecab::splitStrings(v.data);
    if (!problems.empty())
        return 0;

    // The encoder lays the three strings out one after the other, so it may
    // refuse (with a reason) what a header with other offsets could hold.
    std::string bytes, error;
    if (!cecab::encodeHeader(header, &bytes, &error))
        return 0;
    std::vector<cecab::HeaderProblem> again;
    cecab::InstallHeader back =
        cecab::decodeHeader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &again);
    if (!again.empty() || !(back == header)) {
        std::fprintf(stderr, "the round trip changed the header\n");
        std::abort();
    }
    return 0;
}
