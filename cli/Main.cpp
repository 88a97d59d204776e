// velk-cli: the command-line front end of the engine.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "cli/BurnCommands.h"
#include "cli/CliCommon.h"
#include "cli/CompareCommand.h"
#include "cli/CompletionCommand.h"
#include "cli/DeviceCommands.h"
#include "cli/ImageCommand.h"
#include "cli/SessionCommands.h"
#include "cli/TreeCommand.h"
#include "cli/VdiscCommand.h"

namespace {

// The subcommands, for a command line that names none or an unknown one.
std::string commandList(const CLI::App& app) {
    std::string list;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        list += (list.empty() ? "" : ", ") + command->get_name();
    }
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"velk: data discs from files and folders", "velk-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "velk-cli " VELK_VERSION);
    velk::cli::addTreeCommand(app);
    velk::cli::addImageCommand(app);
    velk::cli::addVdiscCommand(app);
    velk::cli::addDeviceCommands(app);
    velk::cli::addBurnCommands(app);
    velk::cli::addSessionCommands(app);
    velk::cli::addCompareCommand(app);
    velk::cli::addCompletionCommand(app);  // last: it walks the others
    if (argc < 2) {
        std::fputs(app.help().c_str(), stderr);
        return velk::cli::ExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::RuntimeError& error) {
        return error.get_exit_code();
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);
        if (app.get_subcommands().empty()) {
            std::fprintf(stderr, "velk-cli: %s: unknown command; the commands are: %s\n", argv[1],
                         commandList(app).c_str());
            return velk::cli::ExitUsage;
        }
        app.exit(error);
        return velk::cli::ExitUsage;
    }
    return velk::cli::ExitOk;
}
