// What the device needs of the two programs: an ARM launcher it can start
// and an ARM setup library that exports the installer's four hooks by their
// plain names. Part of a main package's shape findings, for pack and inspect.
#pragma once

#include <string>

#include "tools/cecab/Pe.h"
#include "tools/kit/Finding.h"

namespace kit {

void checkLauncher(const std::string& bytes, const std::string& where, Findings* findings);
void checkSetupLibrary(const std::string& bytes, const std::string& where, Findings* findings);

}  // namespace kit
