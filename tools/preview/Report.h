// Report: a rehearsal's result as aligned text for people (colour only on a
// terminal) or as JSON for a packaging pipeline.
#pragma once

#include <ostream>

#include "tools/preview/Preview.h"

namespace preview {

void writeText(std::ostream& out, const Options& options, const Result& result, bool colour);
void writeJson(std::ostream& out, const Options& options, const Result& result, int exitStatus);

// What a name of the list came to, in a few words ("installed", "skipped: hidden").
std::string outcomeOf(const ListLine& line);

}  // namespace preview
