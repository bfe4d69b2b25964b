// vorlund-kit's shared parts: findings and exit statuses, and the list of
// subcommands, each of which registers itself from its own file.
#pragma once

#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

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
    using std::runtime_error::runtime_error;
};

enum class Severity { Warn, Note };

// Something worth saying about a package. A blocking finding makes the
// package impossible: nothing is written.
struct Finding {
    Severity severity = Severity::Warn;
    std::string code;   // stable: "no-launcher", "x86-build", ...
    std::string where;  // the file, member or registry value it is about
    std::string message;
    bool blocking = false;
};
using Findings = std::vector<Finding>;

inline Finding warn(std::string code, std::string where, std::string message)
{
    return {Severity::Warn, std::move(code), std::move(where), std::move(message), false};
}
inline Finding note(std::string code, std::string where, std::string message)
{
    return {Severity::Note, std::move(code), std::move(where), std::move(message), false};
}
inline Finding blocker(std::string code, std::string where, std::string message)
{
    return {Severity::Warn, std::move(code), std::move(where), std::move(message), true};
}

// 2 with a blocking finding, 1 with a warning, else 0.
int exitStatus(const Findings& findings);
// "Warnings:" and "Notes:" blocks, aligned; nothing when there are none.
void printFindings(std::ostream& out, const Findings& findings);
nlohmann::json toJson(const Findings& findings);

// A subcommand: `setup` adds its options to its CLI11 app and returns what
// runs it (an exit status). Register from a namespace-scope initialiser:
//   const bool registered = kit::registerCommand({"name", "summary", setup});
struct Command {
    std::string name;
    std::string summary;
    std::function<std::function<int()>(CLI::App&)> setup;
};
bool registerCommand(Command command);
const std::vector<Command>& commands();

// "5.0 and later", "5.0 to 6.0", "any": the CE versions a header allows.
std::string versionRange(const cecab::CeVersion& min, const cecab::CeVersion& max);

// Reads a whole file of at most `limit` bytes; InputError otherwise.
std::string readFile(const std::string& path, uint64_t limit);

}  // namespace kit
