// vorlund-kit inspect: prints what the device's installer would do with a
// main CAB and what the setup hook and the launcher would make of it.
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/cecab/MainPackage.h"
#include "tools/kit/Inspect.h"
#include "tools/kit/Kit.h"

namespace kit {

namespace {

struct InspectOptions {
    std::string cabinet;
    bool json = false;
};

nlohmann::json toJson(const Inspection& in, int status)
{
    const cecab::InstallHeader& h = in.header;
    nlohmann::json problems = nlohmann::json::array();
    for (const cecab::HeaderProblem& p : in.problems)
        problems.push_back({{"where", p.where}, {"message", p.message}});
    nlohmann::json dirs = nlohmann::json::array();
    for (const InspectedDir& d : in.dirs)
        dirs.push_back({{"id", d.id}, {"written", d.written}, {"path", d.path}});
    nlohmann::json files = nlohmann::json::array();
    for (const InspectedFile& f : in.files)
        files.push_back({{"id", f.id},
                         {"member", f.member},
                         {"bytes", f.size},
                         {"flags", f.flags},
                         {"name", f.name},
                         {"path", f.path}});
    nlohmann::json values = nlohmann::json::array();
    for (const InspectedValue& v : in.values)
        values.push_back({{"key", v.key},
                          {"name", v.name},
                          {"type", v.type},
                          {"data", v.data},
                          {"substitute", v.substitute},
                          {"resolved", v.resolved}});
    return {{"headerProblems", problems},
            {"application", h.appName},
            {"provider", h.provider},
            {"processor", h.architecture},
            {"versions", versionRange(h.min, h.max)},
            {"unsupported", h.unsupported},
            {"installPath", in.installPath},
            {"directories", dirs},
            {"files", files},
            {"registry", values},
            {"setupLibrary", in.setupMember},
            {"hookExports", in.hookExports},
            {"hook", in.hookOutcome},
            {"listed", in.listed},
            {"findings", kit::toJson(in.findings)},
            {"exitStatus", status}};
}

void printText(const InspectOptions& o, const Inspection& in)
{
    std::ostream& out = std::cout;
    if (!in.problems.empty()) {
        out << o.cabinet << ": the install header cannot be trusted:\n";
        for (const cecab::HeaderProblem& p : in.problems)
            out << "  " << p.where << ": " << p.message << "\n";
        return;
    }
    const cecab::InstallHeader& h = in.header;
    std::string unsupported;
    for (const std::string& u : h.unsupported)
        unsupported += (unsupported.empty() ? "" : ", ") + u;
    out << "Main package " << o.cabinet << "\n  application  " << h.appName << " by " << h.provider
        << "\n  processor    " << h.architecture << " (" << cecab::processorName(h.architecture)
        << ")"
        << "\n  CE versions  " << versionRange(h.min, h.max) << "\n  unsupported  "
        << (unsupported.empty() ? "none" : unsupported) << "\n  install dir  " << in.installPath
        << "\n\n"
        << "What the installer does:\n";
    for (const InspectedDir& d : in.dirs)
        out << "  creates  " << d.path << "  (" << d.written << ")\n";
    for (const InspectedFile& f : in.files)
        out << "  copies   " << (f.member.empty() ? "(missing)" : f.member) << " -> " << f.path
            << "  (" << f.size << " bytes)\n";
    for (const InspectedValue& v : in.values) {
        out << "  sets     " << v.key << "  " << (v.name.empty() ? "(default)" : v.name) << " = "
            << v.data << "  (" << v.type;
        if (v.substitute)
            out << ", substituted: \"" << v.resolved << "\"";
        out << ")\n";
    }
    if (!in.setupMember.empty()) {
        std::string exports;
        for (const std::string& e : in.hookExports)
            exports += " " + e;
        out << "  calls    " << in.setupMember << "  (setup library; exports"
            << (exports.empty() ? " none" : exports) << ")\n";
    }
    out << "\nThe setup hook " << in.hookOutcome << "\n";
    if (!in.listed.empty()) {
        out << "Vorlund.ini names:";
        for (const std::string& name : in.listed)
            out << " " << name;
        out << "\n";
    }
    printFindings(out, in.findings);
}

int runInspect(const InspectOptions& o)
{
    Inspection in = inspectCabinet(readFile(o.cabinet, kMaxCabinetBytes));
    int status = in.problems.empty() ? exitStatus(in.findings) : kExitUsage;
    if (o.json)
        std::cout << toJson(in, status).dump(2) << "\n";
    else
        printText(o, in);
    return status;
}

const bool registered = registerCommand(
    {"inspect", "Show what the device would do with a main CAB, and check the hook's contract",
     [](CLI::App& app) {
         auto o = std::make_shared<InspectOptions>();
         app.add_option("CAB", o->cabinet, "the main CAB to inspect")->required();
         app.add_flag("--json", o->json, "report as JSON");
         app.footer("Exit status: 0 the package keeps the contract, 1 warnings, 2 usage error, a "
                    "cabinet that cannot be read or an install header that cannot be trusted.");
         return [o] { return runInspect(*o); };
     }});

}  // namespace

}  // namespace kit
