// Findings, their printing, the command list and bounded file reading.
#include "tools/kit/Kit.h"

#include <algorithm>
#include <fstream>

namespace kit {

int exitStatus(const Findings& findings)
{
    int status = kExitClean;
    for (const Finding& f : findings) {
        if (f.blocking)
            return kExitUsage;
        if (f.severity == Severity::Warn)
            status = kExitWarned;
    }
    return status;
}

void printFindings(std::ostream& out, const Findings& findings)
{
    for (Severity severity : {Severity::Warn, Severity::Note}) {
        bool any = false;
        size_t whereWidth = 0;
        size_t codeWidth = 0;
        for (const Finding& f : findings) {
            if (f.severity == severity) {
                any = true;
                whereWidth = std::max(whereWidth, f.where.size());
                codeWidth = std::max(codeWidth, f.code.size());
            }
        }
        if (!any)
            continue;
        out << "\n" << (severity == Severity::Warn ? "Warnings:" : "Notes:") << "\n";
        for (const Finding& f : findings) {
            if (f.severity != severity)
                continue;
            out << "  " << f.where << std::string(whereWidth - f.where.size() + 2, ' ') << f.code
                << std::string(codeWidth - f.code.size() + 2, ' ') << f.message
                << (f.blocking ? " (cannot be packed)" : "") << "\n";
        }
    }
}

nlohmann::json toJson(const Findings& findings)
{
    nlohmann::json list = nlohmann::json::array();
    for (const Finding& f : findings) {
        list.push_back({{"severity", f.severity == Severity::Warn ? "warn" : "note"},
                        {"code", f.code},
                        {"where", f.where},
                        {"message", f.message},
                        {"blocking", f.blocking}});
    }
    return list;
}

// A function-local list: registrations run during static initialisation.
static std::vector<Command>& registry()
{
    static std::vector<Command> list;
    return list;
}

bool registerCommand(Command command)
{
    registry().push_back(std::move(command));
    return true;
}

const std::vector<Command>& commands()
{
    return registry();
}

std::string versionRange(const cecab::CeVersion& min, const cecab::CeVersion& max)
{
    auto text = [](const cecab::CeVersion& v) {
        std::string t = std::to_string(v.major) + "." + std::to_string(v.minor);
        return v.build ? t + " build " + std::to_string(v.build) : t;
    };
    bool from = min.major || min.minor || min.build;
    bool to = max.major || max.minor || max.build;
    if (from && to)
        return text(min) + " to " + text(max);
    if (from)
        return text(min) + " and later";
    return to ? "up to " + text(max) : "any";
}

std::string readFile(const std::string& path, uint64_t limit)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        throw InputError("cannot open " + path);
    std::streamoff size = in.tellg();
    if (size < 0)
        throw InputError("cannot read " + path);
    if (static_cast<uint64_t>(size) > limit)
        throw InputError(path + ": " + std::to_string(size) + " bytes, more than the " +
                         std::to_string(limit) + " read here");
    std::string bytes(static_cast<size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), size))
        throw InputError("cannot read " + path);
    return bytes;
}

}  // namespace kit
