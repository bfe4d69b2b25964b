// The inputs of bench/kit.py, written into a scratch directory given as the
// one argument: a bundle of 998 files (100 MB), a bundle whose list names
// 10,000 CABs, main CABs with the largest legal install header, and a 1 GiB
// file (sparse) that is no cabinet.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#define VORLUND_SOURCE_DIR ""  // KitTestSupport runs neither the sample nor the kit here
#define VORLUND_KIT ""
#include "tests/kit/KitTestSupport.h"

namespace fs = std::filesystem;

namespace {

// 995 listed CABs, the launcher, its list and the setup library.
const int kBundleCabs = 995;
const uint64_t kBundleBytes = 100000000;
const int kListedNames = 10000;
const uint32_t kMaxId = 0xFFFF;

std::string randomBytes(std::mt19937_64* random, size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i += 8) {
        uint64_t word = (*random)();
        std::memcpy(&bytes[i], &word, std::min<size_t>(8, size - i));
    }
    return bytes;
}

std::string cabName(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "cab%05d.cab", i);
    return name;
}

// A bundle as pack takes it: `cabs` CE CABs of `cabBytes` each, all listed.
void writeBundle(const fs::path& dir, int cabs, size_t cabBytes)
{
    std::mt19937_64 random(cabs);
    test::writeFile(dir / "Vorlund.exe", test::kArmLauncher);
    test::writeFile(dir / "VorlundSetup.dll", test::kArmSetupLibrary);
    std::string list;
    for (int i = 0; i < cabs; ++i) {
        std::string name = cabName(i);
        list += name + "\r\n";
        std::string app = "App" + std::to_string(i);
        test::writeFile(dir / name,
                        test::ceCab({{"payload.bin", randomBytes(&random, cabBytes)}}, app));
    }
    test::writeFile(dir / "Vorlund.ini", list);
}

// A main package whose header has 65,535 strings and 65,535 directories.
// inside: every directory is one below the install directory, where the
// launcher runs; otherwise each directory is one string of its own and only
// the first is the install directory.
std::string largestCab(bool inside)
{
    cecab::InstallHeader h;
    h.architecture = cecab::kProcessorArm;
    h.min = {5, 0, 0};
    h.appName = "Vorlund";
    h.provider = "Vendor";
    for (uint32_t id = 1; id <= kMaxId; ++id) {
        std::string text = id == 1   ? "%CE1%\\Vorlund"
                           : id == 2 ? "Software"
                           : id == 3 ? "TqVorlund"
                                     : "dir" + std::to_string(id);
        h.strings.push_back({static_cast<uint16_t>(id), text});
        std::vector<uint16_t> parts = {static_cast<uint16_t>(id)};
        if (inside && id > 1)
            parts.insert(parts.begin(), 1);
        h.dirs.push_back({static_cast<uint16_t>(id), parts});
    }
    h.files = {{1, 1, 1, 0x40000002, "Vorlund.exe"}, {2, 1, 2, 0x40000002, "Vorlund.ini"}};
    h.hives = {{1, cecab::kHkcu, 0, {2, 3}}};
    h.regValues = {{1, 1, true, cecab::kRegString, "Default", std::string("%InstallDir%") + '\0'}};
    std::string header, error, cabinet;
    if (!cecab::encodeHeader(h, &header, &error))
        throw std::runtime_error(error);
    cecab::writeCabinet({{"Vorlund.000", header, ""},
                         {"VorlundSetup.999", test::kArmSetupLibrary, ""},
                         {"Vorlund.002", "", ""},
                         {"Vorlund.001", test::kArmLauncher, ""}},
                        0, &cabinet, &error);
    return cabinet;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SCRATCH_DIR\n", argv[0]);
        return 2;
    }
    const fs::path dir = argv[1];
    // Each CAB's header and cabinet structure take a few hundred bytes of the 100 MB.
    writeBundle(dir / "bundle", kBundleCabs, (kBundleBytes - 3000) / kBundleCabs - 330);
    writeBundle(dir / "list", kListedNames, 1);
    test::writeFile(dir / "largest.cab", largestCab(false));
    test::writeFile(dir / "largest-inside.cab", largestCab(true));
    test::writeFile(dir / "gibibyte.bin", "not a cabinet");
    fs::resize_file(dir / "gibibyte.bin", 1ull << 30);
    return 0;
}
