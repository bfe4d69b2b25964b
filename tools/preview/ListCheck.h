// ListCheck: the list as the device reads it, through the shipped
// CabListReader and isInstallableFile on the loaded simulated device, and a
// byte-level lint that names the line of everything worth saying.
#pragma once

#include <string>
#include <vector>

#include "tools/preview/Preview.h"

namespace preview {

struct ListReport {
    std::vector<ListLine> lines;  // in file order
    std::vector<Finding> findings;
};

// Reads the list of the simulated device's install directory `directory`
// (ends with a backslash), which must be there.
ListReport checkList(const std::wstring& directory);

// The entry of `directory` most like the missing `name`, relative to
// `directory`; empty when none is close.
std::wstring nearMiss(const std::wstring& directory, const std::wstring& name);

}  // namespace preview
