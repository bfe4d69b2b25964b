// libFuzzer target: the install-exit hook over arbitrary registry value data,
// sizes and types. It must return 0, leave nothing open, never touch a
// buffer out of bounds (the sanitizers watch), and delete only CAB files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "device/sim/SimDevice.h"
#include "setup/SetupHooks.h"
#include "tools/hosttext/HostText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    sim::Device& dev = sim::current();
    dev.reset();
    dev.addDirectory(L"\\Bundle");
    dev.addFile(L"\\Bundle\\a.cab", "MSCF");
    dev.addFile(L"\\Bundle\\keep.txt", "text");
    dev.addFile(L"\\root.cab", "MSCF");
    dev.addFile(L"\\Bundle\\Vorlund.exe", "program");
    // First byte: the value's type and whether the launcher is a program.
    if (data[0] & 0x80)
        dev.installProgram(L"\\Bundle\\Vorlund.exe", nullptr);
    dev.setRegistryValue(L"Software\\TqVorlund", L"Default",
                         std::vector<uint8_t>(data + 1, data + size), data[0] & 0x7F);

    Int32 result =
        Install_Exit(reinterpret_cast<device::WindowHandle>(0x10), nullptr, 0, 0, 0, 0, 0);
    bool bad = result != 0 || dev.openHandleCount() != 0 || dev.outstandingAllocations() != 0 ||
               dev.registryKeyExists(L"Software\\TqVorlund") || !dev.exists(L"\\Bundle\\keep.txt");
    for (const std::wstring& path : dev.deletions())
        bad = bad || !hosttext::endsWithCab(path);
    if (bad) {
        std::fprintf(stderr, "hook misbehaved on a value of %zu bytes\n", size - 1);
        std::abort();
    }
    return 0;
}
