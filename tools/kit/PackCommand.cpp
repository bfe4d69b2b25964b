// vorlund-kit pack: a bundle directory into the main CAB and the .inf for
// the platform's CAB Wizard, after a lint that can refuse to write.
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/cecab/Cabinet.h"
#include "tools/hosttext/HostText.h"
#include "tools/kit/Inf.h"
#include "tools/kit/Kit.h"
#include "tools/kit/MainPackage.h"
#include "tools/kit/Report.h"

namespace fs = std::filesystem;

namespace kit {

namespace {

struct PackOptions {
    std::string bundle;
    std::string appName = "Vorlund";
    std::string provider = "Brannoch Software";
    std::string ceMin = "5.0";
    std::string ceMax;
    std::string processor = "arm";
    std::string installDir;
    std::string output;
    std::string inf;
    std::string device = kDefaultDevice;
    bool json = false;
};

// Application and provider names become part of a path and of the device's
// list of installed programs.
void checkName(const std::string& option, const std::string& name)
{
    if (name.empty())
        throw CLI::ValidationError(option, "must not be empty");
    for (char c : name)
        if (c < 0x20 || c > 0x7E || std::string("\\/:*?\"<>|&").find(c) != std::string::npos)
            throw CLI::ValidationError(option, "printable ASCII without \\/:*?\"<>|& please: " +
                                                   hosttext::printable(name));
}

// "5", "5.0", "5.2"; empty for no restriction.
cecab::CeVersion parseVersion(const std::string& option, const std::string& text)
{
    cecab::CeVersion v;
    if (!text.empty() && !cecab::parseVersion(text, &v.major, &v.minor))
        throw CLI::ValidationError(option, "a CE version as MAJOR.MINOR, e.g. 5.0: " +
                                               hosttext::printable(text));
    return v;
}

PackageSettings settingsFrom(const PackOptions& o)
{
    PackageSettings s;
    checkName("--app-name", o.appName);
    checkName("--provider", o.provider);
    s.appName = o.appName;
    s.provider = o.provider;
    s.min = parseVersion("--ce-min", o.ceMin);
    s.max = parseVersion("--ce-max", o.ceMax);
    if (!o.ceMax.empty() && std::tie(s.max.major, s.max.minor) < std::tie(s.min.major, s.min.minor))
        throw CLI::ValidationError("--ce-max", "lower than --ce-min");
    if (!cecab::parseProcessor(o.processor, &s.processor))
        throw CLI::ValidationError("--processor", "arm, none or a processor type number of the CE "
                                                  "format note's list: " +
                                                      o.processor);
    s.installDir = o.installDir.empty() ? defaultInstallDir(o.appName) : o.installDir;
    std::string problem = installDirProblem(s.installDir);
    if (!problem.empty())
        throw CLI::ValidationError("--install-dir",
                                   hosttext::printable(s.installDir) + ": " + problem);
    return s;
}

void makeParent(const std::string& path)
{
    std::error_code ec;
    if (fs::path(path).has_parent_path())
        fs::create_directories(fs::path(path).parent_path(), ec);
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    makeParent(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), bytes.size()) || !out.flush())
        throw InputError(path, "cannot be written");
}

// Where the CAB Wizard finds the bundle: relative to the .inf when it can be.
std::string sourceDirFor(const std::string& bundle, const std::string& inf)
{
    std::error_code ec;
    fs::path relative = fs::relative(fs::absolute(bundle), fs::absolute(inf).parent_path(), ec);
    std::string path = ec || relative.empty() ? fs::absolute(bundle).lexically_normal().string()
                                              : relative.string();
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return path;
}

// The cabinet's members in the plan's order: the header, then the files.
std::vector<cecab::Member> membersOf(const PackPlan& plan, const PackOptions& o)
{
    std::string header, error;
    std::vector<cecab::Member> members;
    if (!cecab::encodeLayout(plan.layout, &header, &error))
        throw InputError(o.bundle, "cannot be packed: " + error);
    for (const cecab::LayoutMember& m : plan.layout.members) {
        auto file = plan.files.find(m.number);
        members.push_back({m.name, file == plan.files.end() ? header : "",
                           file == plan.files.end() ? "" : file->second});
    }
    return members;
}

// The cabinet, written straight into a file beside the output. Writing 100 MB
// takes about as long as the rehearsal of a thousand CABs, so when the plan
// allows packing and the output's directory is there, it is written on a
// thread of its own while the rehearsal runs; either way it takes the
// output's place only once every finding allows it.
class CabinetWrite {
public:
    CabinetWrite(const PackPlan& plan, const PackOptions& o) : plan_(plan), o_(o), file_(o.output)
    {
        std::error_code ec;
        fs::path parent = fs::path(o.output).parent_path();
        if (exitStatus(plan.findings, true) != kExitUsage &&
            fs::is_directory(parent.empty() ? fs::path(".") : parent, ec))
            early_ = std::async(std::launch::async, [this] { return write(); });
    }

    // The cabinet in the output's place, then the .inf.
    void finish()
    {
        if (!early_.valid())
            makeParent(o_.output);
        if (!(early_.valid() ? early_.get() : write()))
            throw outputFailed_ ? InputError(o_.output, "cannot be written")
                                : InputError(o_.bundle, "cannot be packed: " + error_);
        if (!file_.commit(&error_))
            throw InputError(o_.output, "cannot be written");
        writeBytes(o_.inf, infText(plan_.layout, sourceDirFor(o_.bundle, o_.inf)));
    }

private:
    bool write()
    {
        return file_.write(membersOf(plan_, o_), plan_.newest, &error_, &outputFailed_);
    }

    const PackPlan& plan_;
    const PackOptions& o_;
    cecab::CabinetFile file_;
    std::string error_;
    bool outputFailed_ = false;
    std::future<bool> early_;  // last: destroyed first, it waits for the thread
};

int runPack(PackOptions o)
{
    PackageSettings settings = settingsFrom(o);
    if (o.output.empty())
        o.output = o.appName + ".cab";
    if (o.inf.empty())
        o.inf = fs::path(o.output).replace_extension(".inf").string();
    Report report;
    report.kind = ReportKind::Pack;
    report.input = o.bundle;
    report.output = o.output;
    report.inf = o.inf;
    report.options.device = deviceTarget(o.device);
    PackPlan plan = planPackage(readBundleDir(o.bundle, {o.output, o.inf}), settings);
    CabinetWrite cabinet(plan, o);
    Package package(o.bundle, plan.layout, plan.files);
    Analysis analysis = analysePackage(package, report.options, plan.findings);
    report.package = &package;
    report.analysis = &analysis;
    report.exitStatus = exitStatus(analysis.result.findings, true);
    if (report.exitStatus != kExitUsage) {
        cabinet.finish();
        report.written = true;
    }
    return emit(report, o.json);
}

const bool registered = registerCommand(
    {"pack", "Pack a bundle directory into the main CAB and its .inf", [](CLI::App& app) {
         auto o = std::make_shared<PackOptions>();
         app.add_option("BUNDLE_DIR", o->bundle,
                        "directory holding Vorlund.exe, VorlundSetup.dll, Vorlund.ini and the CABs")
             ->required();
         app.add_option("--app-name", o->appName, "application name (at most 40 characters)")
             ->capture_default_str();
         app.add_option("--provider", o->provider, "provider, the vendor (at most 32 characters)")
             ->capture_default_str();
         app.add_option("--ce-min", o->ceMin, "lowest CE version, MAJOR.MINOR; empty: any")
             ->capture_default_str();
         app.add_option("--ce-max", o->ceMax, "highest CE version, MAJOR.MINOR (default: any)");
         app.add_option("--processor", o->processor,
                        "processor type: arm (2577), none (0), or a number of the CE list")
             ->capture_default_str();
         app.add_option(
             "--install-dir", o->installDir,
             "install directory on the device (default: %CE1%\\APP_NAME, under \\Program Files)");
         app.add_option("-o,--output", o->output, "main CAB to write (default: APP_NAME.cab)");
         app.add_option("--inf", o->inf,
                        "setup information file to write (default: the CAB's name with .inf)");
         app.add_option("--device", o->device, kDeviceHelp)
             ->type_name("VERSION[,FAMILY]")
             ->capture_default_str();
         app.add_flag("--json", o->json, "report as JSON");
         app.footer(
             "Exit status: 0 packed clean, 1 packed with warnings, 2 usage error, unreadable "
             "bundle, or a finding that makes the package impossible (nothing written).");
         return Runner{[o] { return runPack(*o); }, [o] { return o->bundle; }};
     }});

}  // namespace

}  // namespace kit
