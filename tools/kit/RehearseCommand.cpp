// vorlund-kit rehearse: plays an installation of a bundle directory or a main
// CAB on the simulated device and says what the device would do silently.
#include <filesystem>
#include <memory>

#include <CLI/CLI.hpp>

#include "device/DeviceServices.h"
#include "tools/hosttext/HostText.h"
#include "tools/kit/Kit.h"
#include "tools/kit/Report.h"

namespace kit {

namespace {

struct RehearseOptions {
    std::string input;
    std::string deviceDir;
    std::vector<std::string> hidden, system, readOnly;
    std::string device = kDefaultDevice;
    bool json = false;
    Options rehearsal;
};

// "\Program Files\Bundle" as the device names it, with its final backslash.
std::wstring deviceDirectory(const std::string& given)
{
    std::wstring dir = hosttext::fromHost(given);
    for (wchar_t& c : dir)
        c = c == L'/' ? L'\\' : c;
    if (dir.empty() || dir[0] != L'\\')
        throw CLI::ValidationError("--device-dir",
                                   "a device path starts with a backslash: " + given);
    while (dir.size() > 1 && dir.back() == L'\\')
        dir.pop_back();
    if (dir == L"\\")
        throw CLI::ValidationError("--device-dir", "the root is no install directory");
    return dir + L"\\";
}

int runRehearse(RehearseOptions o)
{
    Options& options = o.rehearsal;
    for (const auto& [names, bit] : {std::make_pair(&o.hidden, device::kAttrHidden),
                                     std::make_pair(&o.system, device::kAttrSystem),
                                     std::make_pair(&o.readOnly, device::kAttrReadOnly)}) {
        for (const std::string& name : *names)
            options.attributes.push_back({name, bit});
    }
    options.device = deviceTarget(o.device);
    std::error_code ec;
    bool directory = std::filesystem::is_directory(o.input, ec);
    if (!directory && !std::filesystem::exists(o.input, ec))
        throw InputError(o.input, "no such directory or file");
    if (!directory && !o.deviceDir.empty())
        throw CLI::ValidationError("--device-dir",
                                   "a main CAB says itself where it installs: " + o.input);
    Report report;
    report.kind = ReportKind::Rehearse;
    report.input = o.input;
    report.options = options;
    Analysis analysis;
    std::unique_ptr<Package> package;
    if (directory) {
        analysis = analyseDirectory(
            o.input, deviceDirectory(o.deviceDir.empty() ? "\\Program Files\\Bundle" : o.deviceDir),
            options);
    } else {
        std::vector<cecab::HeaderProblem> problems;
        package = std::make_unique<Package>(Package::open(o.input, &problems));
        if (!problems.empty())
            throw InputError(o.input, "the install header cannot be trusted (" +
                                          problems.front().where + ": " + problems.front().message +
                                          "); vorlund-kit inspect lists every problem");
        analysis = analysePackage(*package, options);
    }
    report.analysis = &analysis;
    report.exitStatus = exitStatus(analysis.result.findings, false);
    return emit(report, o.json);
}

const bool registered = registerCommand(
    {"rehearse", "Rehearse an installation on a simulated device, from a bundle or a main CAB",
     [](CLI::App& app) {
         auto o = std::make_shared<RehearseOptions>();
         Options& r = o->rehearsal;
         app.add_option("DIR_OR_CAB", o->input, "bundle directory or main CAB")->required();
         app.add_option("--reject", r.reject, "the installer rejects the CAB NAME, as listed")
             ->type_name("NAME")
             ->allow_extra_args(false);
         app.add_flag("--no-installer", r.noInstaller, "the platform installer cannot be started");
         app.add_flag("--no-list", r.noList, "rehearse without Vorlund.ini");
         CLI::Option* hook = app.add_flag(
             "--from-hook", r.fromHook,
             "start where the device starts: the setup hook finds the directory in the registry "
             "and starts the launcher (always so for a main CAB)");
         app.add_flag("--no-launcher", r.noLauncher, "the directory holds no Vorlund.exe")
             ->needs(hook);
         app.add_option("--hidden", o->hidden, "the entry NAME is hidden on the device")
             ->type_name("NAME")
             ->allow_extra_args(false);
         app.add_option("--system", o->system, "the entry NAME is a system file")
             ->type_name("NAME")
             ->allow_extra_args(false);
         app.add_option("--read-only", o->readOnly, "the entry NAME is read-only")
             ->type_name("NAME")
             ->allow_extra_args(false);
         app.add_option("--device-dir", o->deviceDir,
                        "the install directory on the device (default \\Program Files\\Bundle)")
             ->type_name("PATH");
         app.add_option("--device", o->device, kDeviceHelp)
             ->type_name("VERSION[,FAMILY]")
             ->capture_default_str();
         app.add_flag("--json", o->json, "report as JSON");
         app.footer(
             "Runs the shipped setup hook and launcher on a simulated device with a stand-in "
             "platform installer that accepts every CAB the device would (each listed CAB is "
             "checked by its own header), prints what the device does, and warns about "
             "everything it would skip or delete without a word. A main CAB is first "
             "installed as its header says; then the whole road from the hook is played. The "
             "input is only read.\n\nExit status: 0 the rehearsal ran clean (notes allowed), 1 "
             "it warned, 2 usage error or an input that cannot be read.");
         return Runner{[o] { return runRehearse(*o); }, [o] { return o->input; }};
     }});

}  // namespace

}  // namespace kit
