// The PE reader: facts of generated files, and damaged files refused
// without reading outside them.
#include <gtest/gtest.h>

#include "tests/kit/PeMaker.h"
#include "tools/cecab/Pe.h"

using namespace cecab;

namespace {

bool read(const std::string& bytes, PeInfo* info, std::string* error)
{
    return readPe(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), info, error);
}

}  // namespace

TEST(PeTest, ReadsMachineKindSubsystemAndExports)
{
    const struct {
        test::PeShape shape;
        MachineKind kind;
    } rows[] = {
        {{0x01C2, true, 9, {"Install_Init", "Install_Exit"}, false}, MachineKind::Arm},
        {{0x01C0, false, 9, {}, false}, MachineKind::Arm},
        {{0x014C, true, 2, {"_Install_Exit@28"}, false}, MachineKind::X86},
        {{0x8664, true, 2, {"Install_Exit"}, true}, MachineKind::X86},
        {{0x0166, false, 9, {}, false}, MachineKind::Other},
    };
    for (const auto& r : rows) {
        PeInfo info;
        std::string error;
        ASSERT_TRUE(read(test::makePe(r.shape), &info, &error)) << error;
        EXPECT_EQ(info.machine, r.shape.machine);
        EXPECT_EQ(machineKind(info.machine), r.kind);
        EXPECT_EQ(info.dll, r.shape.dll);
        EXPECT_EQ(info.subsystem, r.shape.subsystem);
        EXPECT_EQ(info.exports, r.shape.exports);
    }
}

TEST(PeTest, DamagedFilesAreRefused)
{
    const std::string good = test::armSetupLibrary();
    // Every cut short of the last name's terminator loses something read.
    for (size_t n = 0; n + 1 < good.size(); ++n) {
        PeInfo info;
        std::string error;
        EXPECT_FALSE(read(good.substr(0, n), &info, &error)) << n;
    }
    const struct {
        const char* name;
        size_t at;
        uint32_t value;
        int bytes;
        const char* expected;
    } rows[] = {
        {"no MZ", 0, 0x5A4E, 2, "no MZ header"},
        {"PE pointer outside", 0x3C, 0x7FFFFFF0, 4, "no PE signature"},
        {"unknown magic", 0x58, 0x10C, 2, "unknown optional header"},
        {"too many sections", 0x46, 200, 2, "sections"},
        {"export directory outside", 0x58 + 96, 0x9000, 4, "export directory lies outside"},
        {"name table outside", 0x200 + 32, 0x7FFFFFFF, 4, "export name table lies outside"},
        {"name outside", 0x200 + 40, 0x1FFFFFF, 4, "export name 1 lies outside"},
    };
    for (const auto& r : rows) {
        std::string bytes = good;
        test::put(&bytes, r.at, r.value, r.bytes);
        PeInfo info;
        std::string error;
        EXPECT_FALSE(read(bytes, &info, &error)) << r.name;
        EXPECT_NE(error.find(r.expected), std::string::npos) << r.name << ": " << error;
    }
}
