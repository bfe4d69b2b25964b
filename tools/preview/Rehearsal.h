// Rehearsal: loads a bundle into the simulated device as the install
// directory, runs the shipped launcher (or the setup hook, then the launcher)
// there with a stand-in platform installer, and collects what happened.
#pragma once

#include "tools/preview/Bundle.h"
#include "tools/preview/Preview.h"

namespace preview {

// Throws UsageError for options that do not fit the bundle (an unknown
// --hidden entry, a --reject name the device does not install) and
// BundleError when the list cannot be read from this machine.
Result rehearse(const Options& options, const Bundle& bundle);

// Virtual time one stand-in installer run takes.
const unsigned kInstallerRunMs = 30000;

}  // namespace preview
