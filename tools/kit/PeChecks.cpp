// PE findings for the launcher and the setup library.
#include "tools/kit/PeChecks.h"

#include <algorithm>

namespace kit {

const char* const kHookExports[4] = {"Install_Init", "Install_Exit", "Uninstall_Init",
                                     "Uninstall_Exit"};

namespace {

// The PE facts, or a blocking finding when the bytes are no PE file.
bool readOrReport(const std::string& bytes, const std::string& where, Findings* findings,
                  cecab::PeInfo* info)
{
    std::string error;
    if (!cecab::readPe(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), info,
                       &error)) {
        findings->push_back(blocker("not-pe", where, error + ": the device cannot load it"));
        return false;
    }
    switch (cecab::machineKind(info->machine)) {
    case cecab::MachineKind::Arm:
        break;
    case cecab::MachineKind::X86:
        findings->push_back(warn("x86-build", where,
                                 "built for " + cecab::machineName(info->machine) +
                                     " (a desktop or Wine build): an ARM device cannot run it"));
        break;
    case cecab::MachineKind::Other:
        findings->push_back(warn("machine", where,
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
        findings->push_back(
            warn("not-a-program", where, "a DLL, not a program: the hook cannot start it"));
    else if (cecab::machineKind(info.machine) == cecab::MachineKind::Arm &&
             info.subsystem != cecab::kSubsystemWindowsCeGui)
        findings->push_back(
            warn("subsystem", where,
                 "subsystem " + std::to_string(info.subsystem) +
                     ", not Windows CE GUI (9): the device may refuse to start it"));
}

void checkSetupLibrary(const std::string& bytes, const std::string& where, Findings* findings,
                       std::vector<std::string>* found)
{
    cecab::PeInfo info;
    if (!readOrReport(bytes, where, findings, &info))
        return;
    if (!info.dll)
        findings->push_back(
            warn("not-a-dll", where, "a program, not a DLL: the installer cannot load it"));
    for (const char* hook : kHookExports) {
        const std::vector<std::string>& e = info.exports;
        if (std::find(e.begin(), e.end(), hook) != e.end()) {
            if (found)
                found->push_back(hook);
            continue;
        }
        auto decorated = std::find_if(
            e.begin(), e.end(), [&](const std::string& name) { return undecorated(name) == hook; });
        std::string what = decorated == e.end() ? std::string("does not export ") + hook
                                                : "exports " + std::string(hook) +
                                                      " only decorated, as " + *decorated;
        // Without Install_Exit nothing ever starts the launcher.
        bool exitHook = std::string(hook) == "Install_Exit";
        std::string effect =
            exitHook ? ": the installer never calls it, so the launcher never starts and "
                       "the CABs stay uninstalled"
                     : ": the installer looks the hook up by its plain name";
        findings->push_back(exitHook ? blocker("missing-export", where, what + effect)
                                     : warn("missing-export", where, what + effect));
    }
}

}  // namespace kit
