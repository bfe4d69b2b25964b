// The Vorlund main package: the names the hook and the launcher look for,
// and the plan that turns a bundle directory into a package in the CAB
// Wizard's layout, with the findings that decide whether it can be made.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/cecab/CeFiles.h"
#include "tools/cecab/Layout.h"
#include "tools/kit/Finding.h"

namespace kit {

// What the setup hook reads: HKCU\Software\TqVorlund, value "Default".
extern const std::string kHookKey;
extern const std::string kHookValue;
extern const std::string kLauncherName;
extern const std::string kListName;
extern const char kSetupDllName[];
// Every file: it may not be skipped, and an older copy (a previous
// install's launcher or list) is replaced without asking.
const uint32_t kPackageFileFlags = cecab::kFileNoSkip | cecab::kFileNoDateCheck;

std::string defaultInstallDir(const std::string& appName);
// Why an install directory cannot be used: it must be %CEn% (n from 1 to 17)
// followed by names a device's file system takes. Empty when it can.
std::string installDirProblem(const std::string& dir);

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
    Findings findings;                 // about entries left out
};

// Lists the directory (not its subdirectories), leaving out the files in
// `outputs` (what this pack writes); InputError when unreadable.
BundleDir readBundleDir(const std::string& path, const std::vector<std::string>& outputs);

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
    cecab::Layout layout;              // in the Wizard's layout; members in cabinet order
    std::map<int, std::string> files;  // member number -> file of this machine (the header's: none)
    int64_t newest = 0;                // the newest modification time: the members' date
    Findings findings;                 // a blocking one: it must not be written
};

PackPlan planPackage(const BundleDir& bundle, const PackageSettings& settings);

}  // namespace kit
