// What a command tells, in one text printer (aligned, colour only on a
// terminal) and one JSON writer, both from the same facts. JSON is always
// valid UTF-8: header strings are Windows-1252, host names are escaped.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/kit/Analysis.h"

namespace kit {

enum class ReportKind { Pack, Inspect, Rehearse };

struct Report {
    ReportKind kind = ReportKind::Rehearse;
    std::string input;                           // as given on the command line
    const Package* package = nullptr;            // a main package: the installer's view
    std::vector<cecab::HeaderProblem> problems;  // a header that cannot be trusted
    const Analysis* analysis = nullptr;          // null when the header cannot be trusted
    Options options;
    bool written = false;  // pack: the CAB and the .inf
    std::string output;
    std::string inf;
    int exitStatus = 0;
};

void writeText(std::ostream& out, const Report& report, bool colour);
nlohmann::ordered_json toJson(const Report& report);
// The report on standard output, as JSON or as text (colour on a terminal);
// its exit status.
int emit(const Report& report, bool json);

}  // namespace kit
