// The setup information (.inf) file from which the platform's own CAB Wizard
// (cabwiz.exe) builds the same main package.
#pragma once

#include <string>

#include "tools/cecab/MainPackage.h"

namespace kit {

// `sourceDir`: where the Wizard finds the bundle's files, relative to the
// .inf (Windows separators). Lines end in CR LF.
std::string infText(const cecab::MainPackage& package, const std::string& sourceDir);

}  // namespace kit
