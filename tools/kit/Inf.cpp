// Writes the .inf section by section, the files in the package's order.
#include "tools/kit/Inf.h"

#include <cstdio>
#include <sstream>

namespace kit {

namespace {

// In an .inf a literal '%' is written twice; quotes keep spaces and commas.
std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '%' ? std::string("%%") : std::string(1, c);
    return out;
}

std::string quoted(const std::string& text)
{
    return "\"" + escaped(text) + "\"";
}

std::string version(const cecab::CeVersion& v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor);
}

}  // namespace

std::string infText(const cecab::MainPackage& p, const std::string& sourceDir)
{
    std::ostringstream o;
    const char* eol = "\r\n";
    // The install directory keeps its leading %CEn%; the rest is literal text.
    std::string installDir = p.installDir;
    size_t split = installDir.find('\\');
    if (split != std::string::npos)
        installDir = installDir.substr(0, split) + escaped(installDir.substr(split));
    if (p.installDir == cecab::defaultInstallDir(p.appName))
        installDir = cecab::defaultInstallDir("%AppName%");
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%08X", cecab::kPackageFileFlags);

    o << "; Vorlund main package for the platform's CAB Wizard (cabwiz.exe), written by" << eol
      << "; vorlund-kit pack. The Wizard builds from it the package the kit packs itself." << eol
      << eol << "[Version]" << eol << "Signature = \"$Windows NT$\"" << eol
      << "Provider = " << quoted(p.provider) << eol << "CESignature = \"$Windows CE$\"" << eol
      << eol << "[CEStrings]" << eol << "AppName = " << quoted(p.appName) << eol
      << "InstallDir = " << installDir << eol << eol << "[CEDevice]" << eol;
    if (p.processor != 0)
        o << "ProcessorType = " << p.processor << eol;
    if (p.min.major != 0 || p.min.minor != 0)
        o << "VersionMin = " << version(p.min) << eol;
    if (p.max.major != 0 || p.max.minor != 0)
        o << "VersionMax = " << version(p.max) << eol;
    o << eol << "[DefaultInstall]" << eol << "CESetupDLL = " << p.setupDll.name << eol
      << "CopyFiles = Files.InstallDir" << eol << "AddReg = Registry.Hook" << eol << eol
      << "[DestinationDirs]" << eol << "Files.InstallDir = 0,%InstallDir%" << eol << eol
      << "[SourceDisksNames]" << eol << "1 = ,\"Bundle\",," << quoted(sourceDir) << eol << eol
      << "[SourceDisksFiles]" << eol << quoted(p.setupDll.name) << " = 1" << eol;
    for (const cecab::PackageFile& f : p.files)
        o << quoted(f.name) << " = 1" << eol;
    o << eol << "[Files.InstallDir]" << eol;
    for (const cecab::PackageFile& f : p.files)
        o << quoted(f.name) << "," << quoted(f.name) << ",," << flags << eol;
    o << eol << "[Registry.Hook]" << eol << "HKCU," << cecab::kHookKey << "," << cecab::kHookValue
      << ",0x00000000," << cecab::kInstallDirMacro << eol;
    return o.str();
}

}  // namespace kit
