// The main package: what a vendor describes (application, provider,
// processor, CE versions, install directory, the files and the setup
// library) turned into an install header and CE file set, and back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cecab/Cabinet.h"
#include "tools/cecab/CeFiles.h"
#include "tools/cecab/InstallHeader.h"

namespace cecab {

// What the setup hook reads: HKCU\Software\TqVorlund, value "Default".
extern const std::string kHookKey;
extern const std::string kHookValue;
extern const char kInstallDirMacro[];
extern const std::string kLauncherName;
extern const std::string kListName;
extern const char kSetupDllName[];
// Every file: it may not be skipped, and an older copy (a previous
// install's launcher or list) is replaced without asking.
const uint32_t kPackageFileFlags = kFileNoSkip | kFileNoDateCheck;
// The processor type of ARM devices (SYSTEM_INFO.dwProcessorType).
const uint32_t kProcessorArm = 2577;

struct PackageFile {
    std::string name;    // as installed on the device
    std::string data;    // when source is empty
    std::string source;  // a file on this machine
    bool operator==(const PackageFile& o) const { return name == o.name && data == o.data; }
};

struct MainPackage {
    std::string appName;
    std::string provider;
    uint32_t processor = kProcessorArm;
    CeVersion min;
    CeVersion max;
    std::string installDir;  // "%CEn%\part\..."
    PackageFile setupDll;
    std::vector<PackageFile> files;  // numbered from 1 in this order
};

std::string defaultInstallDir(const std::string& appName);
// The parts of an install directory, which must start with %CEn% (1..17)
// and have at least one more part; false otherwise.
bool splitInstallDir(const std::string& dir, std::vector<std::string>* parts);

// Appendix A of the format note: processor type numbers and their names.
std::string processorName(uint32_t processor);
// "arm", "none" or a number of that list.
bool parseProcessor(const std::string& text, uint32_t* processor);

// The header and the cabinet members, in cabinet order. False with a reason
// when the header cannot hold the package.
bool buildFileSet(const MainPackage& package, InstallHeader* header, std::vector<Member>* members,
                  std::string* error);
// The package that a header and extracted members describe, when they have
// the shape buildFileSet gives (one directory, the setup library, the hook's
// registry value); false with a reason otherwise.
bool describePackage(const InstallHeader& header, const std::vector<CabinetEntry>& entries,
                     MainPackage* package, std::string* error);

}  // namespace cecab
