// vorlund-kit: the main package's host tools. Every *Command.cpp beside
// this file registers one subcommand; main only parses and dispatches, and
// turns any failure into a message and exit status 2.
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

#include "tools/hosttext/HostText.h"
#include "tools/kit/Kit.h"

namespace {

// A large run (10,000 listed CABs, a header of 65,535 directories) makes
// millions of small allocations over 60 to 110 MB, and faulting that heap in
// 4 KB pages took a third of its time. glibc keeps its heap in transparent
// huge pages, where the system allows them on request (Debian's default), only
// when the environment says so at start: the kit starts itself once more with
// that setting added. A setting the user made is kept; where the restart
// cannot be done the kit simply goes on.
void restartWithHugePageHeap(char** argv)
{
    const char* kSetting = "glibc.malloc.hugetlb=1";
    const char* kRestarted = "VORLUND_KIT_RESTARTED";
    if (std::getenv(kRestarted) != nullptr) {
        unsetenv(kRestarted);
        return;
    }
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables != nullptr && std::strstr(tunables, "glibc.malloc.hugetlb") != nullptr)
        return;
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return;
    self[length] = 0;
    std::string value = tunables != nullptr && *tunables != 0
                            ? std::string(tunables) + ":" + kSetting
                            : std::string(kSetting);
    if (setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0 || setenv(kRestarted, "1", 1) != 0)
        return;
    execv(self, argv);
    unsetenv(kRestarted);  // execv failed: go on as we are
}

}  // namespace

int main(int argc, char** argv)
{
    restartWithHugePageHeap(argv);
    CLI::App app(
        "Builds, checks and rehearses the main package that installs a Vorlund bundle on a CE "
        "device.",
        "vorlund-kit");
    app.require_subcommand(1);
    // The version is the project's, from CMake.
    app.set_version_flag("--version", "vorlund-kit " VORLUND_VERSION);
    std::map<CLI::App*, kit::Runner> runs;
    for (const kit::Command& command : kit::commands()) {
        CLI::App* sub = app.add_subcommand(command.name, command.summary);
        runs[sub] = command.setup(*sub);
    }
    const kit::Runner* chosen = nullptr;
    try {
        app.parse(argc, argv);
        for (auto& [sub, runner] : runs)
            if (sub->parsed())
                chosen = &runner;
        return chosen ? chosen->run() : kit::kExitUsage;
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // Also the subcommands' own option checks (CLI::ValidationError).
        app.exit(e);
        return kit::kExitUsage;
    } catch (const kit::InputError& e) {
        std::cerr << "vorlund-kit: " << e.what() << "\n";
    } catch (const kit::UsageError& e) {
        std::cerr << "vorlund-kit: " << e.what() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "vorlund-kit: " << hosttext::printable(chosen ? chosen->input() : "")
                  << ": an unexpected failure: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "vorlund-kit: " << hosttext::printable(chosen ? chosen->input() : "")
                  << ": an unexpected failure\n";
    }
    return kit::kExitUsage;
}
