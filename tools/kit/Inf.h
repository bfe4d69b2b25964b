// The setup information (.inf) file from which the platform's own CAB Wizard
// (cabwiz.exe) builds the same main package as pack.
#pragma once

#include <string>

#include "tools/cecab/Layout.h"

namespace kit {

// `layout` as pack plans it (one directory, the hook's value); `sourceDir`:
// where the Wizard finds the bundle's files, relative to the .inf (Windows
// separators). Lines end in CR LF.
std::string infText(const cecab::Layout& layout, const std::string& sourceDir);

}  // namespace kit
