// What the device needs of the two programs: an ARM launcher it can start
// and an ARM setup library that exports the installer's four hooks by their
// plain names. Shared by pack (before writing) and inspect (after).
#pragma once

#include <string>

#include "tools/cecab/Pe.h"
#include "tools/kit/Kit.h"

namespace kit {

extern const char* const kHookExports[4];

void checkLauncher(const std::string& bytes, const std::string& where, Findings* findings);
// *exports gets the hooks the library exports undecorated.
void checkSetupLibrary(const std::string& bytes, const std::string& where, Findings* findings,
                       std::vector<std::string>* exports = nullptr);

}  // namespace kit
