// The one analysis behind pack, inspect and rehearse: the input becomes a
// layout on a simulated device, the shipped hook and launcher run there, and
// a main package is also judged by what only its header's shape, its PE
// files and its registry entries can show.
#pragma once

#include <string>

#include "tools/kit/Package.h"
#include "tools/kit/Rehearsal.h"

namespace kit {

struct Analysis {
    DeviceLayout layout;
    Result result;  // its findings: every finding of the analysis, arranged
};

// A main package (read from a CAB, or planned by pack with `planned`
// findings of its own).
Analysis analysePackage(const Package& package, const Options& options,
                        const Findings& planned = {});
// A bundle directory as the install directory `deviceDirectory`.
Analysis analyseDirectory(const std::string& directory, const std::wstring& deviceDirectory,
                          const Options& options);

// What only the header's shape, the two programs and the hook's registry
// value show, given what the rehearsal `result` of the package did.
Findings shapeFindings(const Package& package, const Result& result, const Target& target);

// A text of the header for display: Windows-1252, control characters escaped.
std::string headerText(const std::string& ansi);

}  // namespace kit
