// vorlund-kit pack: a bundle directory into the main CAB and the .inf for
// the platform's CAB Wizard, after a lint that can refuse to write.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include <CLI/CLI.hpp>

#include "tools/cecab/Cabinet.h"
#include "tools/kit/Bundle.h"
#include "tools/kit/Inf.h"
#include "tools/kit/Kit.h"

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
    bool json = false;
};

// Application and provider names become part of a path and of the device's
// list of installed programs.
void checkName(const std::string& option, const std::string& name)
{
    if (name.empty())
        throw CLI::ValidationError(option, "must not be empty");
    for (char c : name) {
        if (c < 0x20 || c > 0x7E || std::string("\\/:*?\"<>|&").find(c) != std::string::npos)
            throw CLI::ValidationError(option,
                                       "printable ASCII without \\/:*?\"<>|& please: " + name);
    }
}

// "5", "5.0", "5.2"; empty for no restriction.
cecab::CeVersion parseVersion(const std::string& option, const std::string& text)
{
    cecab::CeVersion v;
    if (text.empty())
        return v;
    size_t dot = text.find('.');
    std::string major = text.substr(0, dot);
    std::string minor = dot == std::string::npos ? "0" : text.substr(dot + 1);
    auto number = [](const std::string& s) {
        return !s.empty() && s.size() <= 4 &&
               s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!number(major) || !number(minor))
        throw CLI::ValidationError(option, "a CE version as MAJOR.MINOR, e.g. 5.0: " + text);
    v.major = std::stoul(major);
    v.minor = std::stoul(minor);
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
    s.installDir = o.installDir.empty() ? cecab::defaultInstallDir(o.appName) : o.installDir;
    std::vector<std::string> parts;
    if (!cecab::splitInstallDir(s.installDir, &parts))
        throw CLI::ValidationError("--install-dir",
                                   "%CEn%\\NAME[\\...] with n from 1 to 17: " + s.installDir);
    return s;
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), bytes.size()) || !out.flush())
        throw InputError("cannot write " + path);
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

int runPack(PackOptions o)
{
    PackageSettings settings = settingsFrom(o);
    if (o.output.empty())
        o.output = o.appName + ".cab";
    if (o.inf.empty())
        o.inf = fs::path(o.output).replace_extension(".inf").string();
    BundleDir bundle = readBundleDir(o.bundle);
    PackPlan plan = planPackage(bundle, settings);
    int status = exitStatus(plan.findings);

    cecab::InstallHeader header;
    std::vector<cecab::Member> members;
    bool written = false;
    if (status != kExitUsage) {
        std::string error;
        std::string cabinet;
        if (!cecab::buildFileSet(plan.package, &header, &members, &error) ||
            !cecab::writeCabinet(members, plan.newest, &cabinet, &error))
            throw InputError("cannot pack " + o.bundle + ": " + error);
        writeBytes(o.output, cabinet);
        writeBytes(o.inf, infText(plan.package, sourceDirFor(o.bundle, o.inf)));
        written = true;
    }

    const cecab::MainPackage& p = plan.package;
    std::string directory = resolveInstallDir(p.installDir);
    nlohmann::json rows = nlohmann::json::array();
    for (const cecab::Member& m : members) {
        int number = cecab::memberNumber(m.name);
        std::error_code ec;
        uint64_t bytes = m.source.empty() ? m.data.size() : fs::file_size(m.source, ec);
        std::string as = number == cecab::kHeaderNumber ? "(install header)"
                         : number == cecab::kSetupDllNumber
                             ? "(setup library " + p.setupDll.name + ")"
                             : directory + "\\" + p.files[number - 1].name;
        rows.push_back({{"member", m.name}, {"bytes", bytes}, {"installedAs", as}});
    }
    if (o.json) {
        nlohmann::json report = {{"bundle", o.bundle},
                                 {"output", o.output},
                                 {"inf", o.inf},
                                 {"written", written},
                                 {"application", p.appName},
                                 {"provider", p.provider},
                                 {"processor", p.processor},
                                 {"versions", versionRange(p.min, p.max)},
                                 {"installDir", p.installDir},
                                 {"installPath", directory},
                                 {"members", rows},
                                 {"findings", toJson(plan.findings)},
                                 {"exitStatus", status}};
        std::cout << report.dump(2) << "\n";
        return status;
    }
    std::cout << (written ? "Packed " + o.bundle + " into " + o.output + " and " + o.inf
                          : "Nothing written: a finding below makes the package impossible")
              << "\n  application  " << p.appName << " by " << p.provider << "\n  processor    "
              << p.processor << " (" << cecab::processorName(p.processor) << ")\n  CE versions  "
              << versionRange(p.min, p.max) << "\n  install dir  " << p.installDir << " ("
              << directory << ")\n";
    if (!rows.empty()) {
        std::cout << "\n  member        bytes  installed as\n";
        for (const auto& r : rows) {
            std::string bytes = std::to_string(r["bytes"].get<uint64_t>());
            std::string member = r["member"];
            std::cout << "  " << member
                      << std::string(member.size() < 12 ? 12 - member.size() : 0, ' ')
                      << std::string(bytes.size() < 7 ? 7 - bytes.size() : 0, ' ') << bytes << "  "
                      << r["installedAs"].get<std::string>() << "\n";
        }
    }
    printFindings(std::cout, plan.findings);
    return status;
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
         app.add_flag("--json", o->json, "report as JSON");
         app.footer(
             "Exit status: 0 packed clean, 1 packed with warnings, 2 usage error, unreadable "
             "bundle, or a finding that makes the package impossible (nothing written).");
         return [o] { return runPack(*o); };
     }});

}  // namespace

}  // namespace kit
