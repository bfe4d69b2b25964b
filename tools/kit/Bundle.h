// The bundle directory that pack turns into a main package, and the lint
// that runs before anything is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cecab/MainPackage.h"
#include "tools/kit/Kit.h"

namespace kit {

struct BundleEntry {
    std::string name;  // as on this machine
    std::string path;
    uint64_t size = 0;
    int64_t modified = 0;  // seconds since 1970
    bool directory = false;
};

struct BundleDir {
    std::string path;
    std::vector<BundleEntry> entries;  // sorted by name
};

// Lists the directory (not its subdirectories); InputError when unreadable.
BundleDir readBundleDir(const std::string& path);

// What the vendor chose on the command line, already checked.
struct PackageSettings {
    std::string appName;
    std::string provider;
    uint32_t processor = cecab::kProcessorArm;
    cecab::CeVersion min;
    cecab::CeVersion max;
    std::string installDir;
};

struct PackPlan {
    cecab::MainPackage package;  // files refer to the bundle's paths
    int64_t newest = 0;          // the newest modification time: the members' date
    Findings findings;
};

// The package the bundle makes and everything lint finds; a blocking finding
// means it must not be written.
PackPlan planPackage(const BundleDir& bundle, const PackageSettings& settings);

// The list and directory findings of the rehearsal on the simulated device
// (which names the device skips, which CABs it deletes unlisted, ...), with
// what the package carries laid out in `installPath`. Called by planPackage
// after its own checks; what those already say is left out.
void appendRehearsalFindings(const BundleDir& bundle, const std::string& installPath,
                             Findings* findings);

// The install directory as the device sees it ("\Program Files\Vorlund").
std::string resolveInstallDir(const std::string& installDir);

}  // namespace kit
