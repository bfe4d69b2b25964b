// vorlund-kit inspect: what the device's installer does with a main CAB and
// what the setup hook and the launcher then do, with the findings.
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/kit/Kit.h"
#include "tools/kit/Report.h"

namespace kit {

namespace {

struct InspectOptions {
    std::string cabinet;
    std::string device = kDefaultDevice;
    bool json = false;
};

int runInspect(const InspectOptions& o)
{
    Report report;
    report.kind = ReportKind::Inspect;
    report.input = o.cabinet;
    report.options.device = deviceTarget(o.device);
    Package package = Package::open(o.cabinet, &report.problems);
    report.package = &package;
    Analysis analysis;
    if (report.problems.empty()) {
        analysis = analysePackage(package, report.options);
        report.analysis = &analysis;
    }
    report.exitStatus =
        report.problems.empty() ? exitStatus(analysis.result.findings, false) : kExitUsage;
    return emit(report, o.json);
}

const bool registered = registerCommand(
    {"inspect", "Show what the device would do with a main CAB, and check the hook's contract",
     [](CLI::App& app) {
         auto o = std::make_shared<InspectOptions>();
         app.add_option("CAB", o->cabinet, "the main CAB to inspect")->required();
         app.add_option("--device", o->device, kDeviceHelp)
             ->type_name("VERSION[,FAMILY]")
             ->capture_default_str();
         app.add_flag("--json", o->json, "report as JSON");
         app.footer("Exit status: 0 the package keeps the contract, 1 warnings, 2 usage error, a "
                    "cabinet that cannot be read or an install header that cannot be trusted.");
         return Runner{[o] { return runInspect(*o); }, [o] { return o->cabinet; }};
     }});

}  // namespace

}  // namespace kit
