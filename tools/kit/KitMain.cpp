// vorlund-kit: the main package's host tools. Every *Command.cpp beside
// this file registers one subcommand; main only parses and dispatches, and
// turns any failure into a message and exit status 2.
#include <iostream>
#include <map>

#include <CLI/CLI.hpp>

#include "tools/hosttext/HostText.h"
#include "tools/kit/Kit.h"

int main(int argc, char** argv)
{
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
