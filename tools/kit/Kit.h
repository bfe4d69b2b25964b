// vorlund-kit's shared parts: exit statuses, input errors, bounded file
// reading and the list of subcommands, each of which registers itself from
// its own file.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/cecab/InstallHeader.h"

namespace CLI {
class App;
}

namespace kit {

const int kExitClean = 0;
const int kExitWarned = 1;
const int kExitUsage = 2;  // usage error, unreadable input, impossible package

// An input that cannot be read (exit status 2); the message names it.
struct InputError : std::runtime_error {
    InputError(const std::string& input, const std::string& message);
};

// An option that does not fit what it is given with (exit status 2).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A subcommand: `setup` adds its options to its CLI11 app and returns what
// runs it (an exit status); `input` names what it reads, for the message of
// a failure nobody foresaw. Register from a namespace-scope initialiser:
//   const bool registered = kit::registerCommand({"name", "summary", setup});
struct Runner {
    std::function<int()> run;
    std::function<std::string()> input;
};
struct Command {
    std::string name;
    std::string summary;
    std::function<Runner(CLI::App&)> setup;
};
bool registerCommand(Command command);
const std::vector<Command>& commands();

// Whether standard output takes colour: a terminal, and NO_COLOR unset.
bool colourWanted();

// "5.0 and later", "5.0 to 6.0", "any": the CE versions a header allows.
std::string versionRange(const cecab::CeVersion& min, const cecab::CeVersion& max);

// Reads a whole regular file of at most `limit` bytes; InputError otherwise.
std::string readFile(const std::string& path, uint64_t limit);
// InputError unless `path` is a regular file; `what` says what it should be.
void requireFile(const std::string& path, const std::string& what);

}  // namespace kit
