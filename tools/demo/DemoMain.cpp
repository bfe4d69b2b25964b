// vorlund-demo: runs the real launcher logic on a simulated device loaded
// from an install directory on this machine, and prints what the device does.
#include <algorithm>
#include <cstdio>
#include <vector>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "device/sim/SimDevice.h"
#include "launcher/LauncherSequence.h"

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: vorlund-demo INSTALL_DIR\n"
                             "Runs the launcher on a simulated device whose install directory\n"
                             "holds a copy of INSTALL_DIR; INSTALL_DIR itself is not changed.\n");
        return 2;
    }
    fs::path source = argv[1];
    std::error_code ec;
    if (!fs::is_directory(source, ec)) {
        std::fprintf(stderr, "vorlund-demo: %s is not a readable directory\n", argv[1]);
        return 2;
    }

    sim::Device& dev = sim::device();
    const std::wstring dir = L"\\Program Files\\Bundle\\";
    dev.addDirectory(L"\\windows");
    dev.addDirectory(dir);
    // Sorted, so that the simulated directory's search order is the same on
    // every machine.
    std::vector<fs::directory_entry> entries(fs::directory_iterator(source), fs::directory_iterator{});
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry& e : entries) {
        std::wstring name = sim::fromAnsi(e.path().filename().string());
        if (e.is_directory()) {
            dev.addDirectory(dir + name);
            continue;
        }
        std::ifstream in(e.path(), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        dev.addFile(dir + name, content.str());
    }
    if (!dev.exists(dir + L"Vorlund.exe"))
        dev.addFile(dir + L"Vorlund.exe", "program");
    dev.setModulePath(dir + L"Vorlund.exe");
    // A stand-in platform installer that accepts every CAB after 30 s.
    dev.installProgram(L"\\windows\\wceload.exe", [](sim::Device&, const std::wstring&) {
        sim::ProgramRun run;
        run.durationMs = 30000;
        return run;
    }, L"MSWCELOAD");

    int code = runLauncher(reinterpret_cast<ModuleHandle>(static_cast<uintptr_t>(0x10000)));
    for (const std::wstring& line : dev.trace())
        std::cout << sim::narrow(line) << "\n";
    std::cout << "launcher exit code " << code << ", " << dev.starts().size()
              << " installer runs, " << dev.messageBoxes().size() << " message boxes, "
              << dev.deletions().size() << " files swept, " << dev.now() / 1000.0
              << " s of device time\n";
    return 0;
}
