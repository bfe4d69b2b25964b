// Shared set-up for the host tests: a fresh simulated device with an install
// directory, the launcher's module path and a scriptable stand-in installer,
// and the system's texts, written out here once and never taken from the
// product's own constants, so that a typo there is caught.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "device/sim/SimDevice.h"
#include "tools/hosttext/HostText.h"

namespace test {

namespace text {
const std::wstring kCaption = L"Brannoch Software";
const std::wstring kNoList =
    L"Installation Failed. Error: Cannot locate CAB file list: Vorlund.ini.";
const std::wstring kUnpackFailed = L"Installation Failed. Error: Cannot unpack all CAB file.";
const std::wstring kNotice =
    L"Please press the OK button. The installation will take 20-30 minutes. Do not use the "
    L"software until the program completes the unpacking of all the CAB files.";
const std::wstring kNoLauncher =
    L"Installation Failed. Error: Cannot locate registry launcher: Vorlund.exe.";
const std::wstring kNoValue = L"Installation Failed. Error: Cannot locate registry associated "
                              L"with the name of the Main CAB file.";
const std::wstring kNoKey = L"Installation Failed. Error: Cannot locate registry associated with "
                            L"the path of the Main CAB file.";
const std::wstring kDone = L"Installing CAB files ... Done...";
inline std::wstring status(long remaining)
{
    return L"Installing CAB file " + std::to_wstring(remaining) + L"... Please Wait...";
}
}  // namespace text

const std::wstring kDir = L"\\Program Files\\Bundle\\";
// A row's list that stands for none at all.
const std::string kNoListFile = "<no list>";
const std::wstring kInstaller = L"\\windows\\wceload.exe";
const std::wstring kKey = L"Software\\TqVorlund";
const uintptr_t kOwner = 0x2468;

// What the stand-in installer does with the CAB it is given (by bare name);
// each run takes 1 s. Its exit code is never read, so a rejected CAB looks
// like any other here (the Wine tier plays one).
struct InstallerScript {
    std::set<std::wstring> unreadable;  // its exit status cannot be read
    std::set<std::wstring> drops;       // installing x.cab drops x+.cab beside it
    bool deletesCab = false;            // removes the CAB it installed
};

// Words of a row of a table: "a.cab b.cab" -> {"a.cab", "b.cab"}.
std::vector<std::wstring> words(const std::wstring& text);

// The fixture's helpers are public, so that rows of a table can set it up.
class DeviceTest : public ::testing::Test {
public:
    void SetUp() override { fresh(); }
    void TearDown() override { dev().reset(); }

    // A device with the install directory and the launcher in it.
    void fresh(const std::wstring& dir = kDir, const std::wstring& exe = L"Vorlund.exe");
    sim::Device& dev() { return sim::current(); }
    void installInstaller();
    void addCab(const std::wstring& name, uint32_t attributes = 0);
    // CABs of the install directory from a row's words: "a.cab hidden.cab:H";
    // after the colon H hidden, S system, R read-only, D a directory,
    // U in use elsewhere, L a delete that reports success while it stays.
    void addCabs(const std::wstring& entries);
    void writeList(const std::string& content);  // kNoListFile: none
    void runLauncher();
    void runHook();
    // The message texts, each box checked for caption, style and owner.
    std::vector<std::wstring> messages(uintptr_t owner = 0);
    // The CAB paths the installer was started on, each command line checked.
    std::vector<std::wstring> installed();
    // Bare names of the CAB files left in the install directory.
    std::vector<std::wstring> cabsLeft();
    // No handle left open, no heap block left, no endless wait.
    void expectClean();

    InstallerScript script;
    std::wstring installDir = kDir;  // as fresh() made it
};

// Runs `arrange` and `run` with one platform call failing, at each call
// overall and with each operation failing for good from its nth call, until
// the run makes fewer calls; `check` follows each run. Returns the number of
// fault points.
int sweepFaults(const std::function<void()>& arrange, const std::function<void()>& run,
                const std::function<void()>& check);

}  // namespace test
