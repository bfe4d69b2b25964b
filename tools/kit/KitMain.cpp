// vorlund-kit: the main package's host tools. Every *Command.cpp beside
// this file registers one subcommand; main only parses and dispatches.
#include <iostream>
#include <map>

#include <CLI/CLI.hpp>

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
    std::map<CLI::App*, std::function<int()>> runs;
    for (const kit::Command& command : kit::commands()) {
        CLI::App* sub = app.add_subcommand(command.name, command.summary);
        runs[sub] = command.setup(*sub);
    }
    try {
        app.parse(argc, argv);
        for (auto& [sub, run] : runs) {
            if (sub->parsed())
                return run();
        }
        return kit::kExitUsage;
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
        return kit::kExitUsage;
    }
}
