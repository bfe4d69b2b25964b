// PE findings for the launcher and the setup library.
#include "tools/kit/PeChecks.h"

#include <algorithm>

namespace kit {

namespace {

const char* const kHookExports[4] = {"Install_Init", "Install_Exit", "Uninstall_Init",
                                     "Uninstall_Exit"};

// The PE facts, or a blocking finding when the bytes are no PE file.
bool readOrReport(const std::string& bytes, const std::string& where, Findings* findings,
                  cecab::PeInfo* info)
{
    std::string error;
    if (!cecab::readPe(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), info,
                       &error)) {
        findings->push_back(blocker(Code::NotPe, where, error + ": the device cannot load it"));
        return false;
    }
    switch (cecab::machineKind(info->machine)) {
    case cecab::MachineKind::Arm:
        break;
    case cecab::MachineKind::X86:
        findings->push_back(
            fileFinding(Code::X86Build, where,
                        "built for " + cecab::machineName(info->machine) +
                            " (a desktop or Wine build): an ARM device cannot run it"));
        break;
    case cecab::MachineKind::Other:
        findings->push_back(fileFinding(Code::Machine, where,
                                        "built for machine " + cecab::machineName(info->machine) +
                                            ", not ARM: an ARM device cannot run it"));
        break;
    }
    return true;
}

// "_Install_Exit@28" -> "Install_Exit": the forms a compiler decorates a name to.
std::string undecorated(std::string name)
{
    if (!name.empty() && name[0] == '_')
        name.erase(0, 1);
    size_t at = name.rfind('@');
    if (at != std::string::npos && at > 0)
        name.erase(at);
    return name;
}

}  // namespace

void checkLauncher(const std::string& bytes, const std::string& where, Findings* findings)
{
    cecab::PeInfo info;
    if (!readOrReport(bytes, where, findings, &info))
        return;
    if (info.dll)
        findings->push_back(fileFinding(Code::NotAProgram, where,
                                        "a DLL, not a program: the hook cannot start it"));
    else if (cecab::machineKind(info.machine) == cecab::MachineKind::Arm &&
             info.subsystem != cecab::kSubsystemWindowsCeGui)
        findings->push_back(
            fileFinding(Code::Subsystem, where,
                        "subsystem " + std::to_string(info.subsystem) +
                            ", not Windows CE GUI (9): the device may refuse to start it"));
}

void checkSetupLibrary(const std::string& bytes, const std::string& where, Findings* findings)
{
    cecab::PeInfo info;
    if (!readOrReport(bytes, where, findings, &info))
        return;
    if (!info.dll)
        findings->push_back(fileFinding(Code::NotADll, where,
                                        "a program, not a DLL: the installer cannot load it"));
    // One finding for every hook not exported under its plain name.
    std::string missing;
    bool exitHook = false;
    for (const char* hook : kHookExports) {
        const std::vector<std::string>& e = info.exports;
        if (std::find(e.begin(), e.end(), hook) != e.end())
            continue;
        auto decorated = std::find_if(
            e.begin(), e.end(), [&](const std::string& name) { return undecorated(name) == hook; });
        missing += (missing.empty() ? "" : ", ") +
                   (decorated == e.end() ? std::string(hook)
                                         : std::string(hook) + " (only as " + *decorated + ")");
        exitHook = exitHook || std::string(hook) == "Install_Exit";
    }
    if (missing.empty())
        return;
    // Without Install_Exit nothing ever starts the launcher.
    std::string what = "does not export " + missing +
                       (exitHook ? ": the installer never calls Install_Exit, so the launcher "
                                   "never starts and the CABs stay uninstalled"
                                 : ": the installer looks each hook up by its plain name");
    findings->push_back(exitHook ? blocker(Code::MissingExport, where, what)
                                 : fileFinding(Code::MissingExport, where, what));
}

}  // namespace kit
