// Shared set-up for the host tests: a fresh simulated device with an install
// directory, the launcher's module path and a scriptable stand-in installer.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "device/sim/SimDevice.h"

namespace test {

extern const std::wstring kInstallDir;   // "\Program Files\Bundle\"
extern const std::wstring kInstaller;    // "\windows\wceload.exe"

// What the stand-in installer does with the CAB it is given.
struct InstallerScript {
    std::set<std::wstring> reject;          // bare names ending with a non-zero exit
    std::set<std::wstring> unreadable;      // bare names whose exit status cannot be read
    bool deletesCab = false;                // removes the CAB it installed
    uint64_t durationMs = 1000;
    std::vector<std::wstring> cabsSeen;     // CAB paths from the command lines, in order
};

// The CAB path inside the quotes of an installer command line.
std::wstring quotedPath(const std::wstring& commandLine);

// Fault sweep: runs `arrange` then `run` with one call failing at the 1st,
// 2nd, ... call overall, then with each operation failing for good from its
// 1st, 2nd, ... call, each time until the run no longer reaches the fault;
// `check` follows every run that did. Returns the number of fault points.
int sweepFaults(const std::function<void()>& arrange, const std::function<void()>& run,
                const std::function<void(const std::string& what)>& check);

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    sim::Device& dev() { return sim::device(); }
    // Registers the stand-in installer driven by `script`.
    void installInstaller();
    void addCab(const std::wstring& name, uint32_t attributes = 0);
    void writeList(const std::string& content);
    int runLauncherNow();
    std::vector<std::wstring> messageTexts() const;
    // Expect no handle left open and no heap block left allocated.
    void expectNoLeaks();

    InstallerScript script;
};

}  // namespace test
