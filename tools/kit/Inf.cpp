// Writes the .inf section by section, the files in the package's order and
// every value the format reads up to a comma or semicolon in quotes.
#include "tools/kit/Inf.h"

#include <cstdio>
#include <sstream>

#include "tools/kit/MainPackage.h"

namespace kit {

namespace {

// In an .inf a literal '%' is written twice; quotes keep spaces, commas and
// semicolons.
std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text)
        out += c == '%' ? std::string("%%") : std::string(1, c);
    return out + "\"";
}

std::string version(const cecab::CeVersion& v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor);
}

}  // namespace

std::string infText(const cecab::Layout& l, const std::string& sourceDir)
{
    std::ostringstream o;
    const char* eol = "\r\n";
    // The install directory keeps its macros (%CEn%, %AppName%): no other '%'
    // gets past pack's check of it.
    std::string installDir = l.installDir == defaultInstallDir(l.appName)
                                 ? defaultInstallDir("%AppName%")
                                 : l.installDir;
    o << "; Vorlund main package for the platform's CAB Wizard (cabwiz.exe), written by" << eol
      << "; vorlund-kit pack. The Wizard builds from it the package the kit packs itself." << eol
      << eol << "[Version]" << eol << "Signature = \"$Windows NT$\"" << eol
      << "Provider = " << quoted(l.provider) << eol << "CESignature = \"$Windows CE$\"" << eol
      << eol << "[CEStrings]" << eol << "AppName = " << quoted(l.appName) << eol
      << "InstallDir = \"" << installDir << "\"" << eol << eol << "[CEDevice]" << eol;
    if (l.processor != 0)
        o << "ProcessorType = " << l.processor << eol;
    if (l.min.any())
        o << "VersionMin = " << version(l.min) << eol;
    if (l.max.any())
        o << "VersionMax = " << version(l.max) << eol;
    o << eol << "[DefaultInstall]" << eol << "CESetupDLL = " << kSetupDllName << eol
      << "CopyFiles = Files.InstallDir" << eol << "AddReg = Registry.Hook" << eol << eol
      << "[DestinationDirs]" << eol << "Files.InstallDir = 0,%InstallDir%" << eol << eol
      << "[SourceDisksNames]" << eol << "1 = ,\"Bundle\",," << quoted(sourceDir) << eol
      << eol
      // The Wizard numbers the files by their place here: the setup library
      // comes last, so that each file's place is its number.
      << "[SourceDisksFiles]" << eol;
    for (const cecab::LayoutFile& f : l.files)
        o << quoted(f.name) << " = 1" << eol;
    o << quoted(kSetupDllName) << " = 1" << eol << eol << "[Files.InstallDir]" << eol;
    for (const cecab::LayoutFile& f : l.files) {
        char flags[16];
        std::snprintf(flags, sizeof flags, "0x%08X", f.flags);
        o << quoted(f.name) << "," << quoted(f.name) << ",," << flags << eol;
    }
    o << eol << "[Registry.Hook]" << eol << "HKCU," << kHookKey << "," << kHookValue
      << ",0x00000000," << cecab::kInstallDirMacro << eol;
    return o.str();
}

}  // namespace kit
