// velk-cli: the command-line front end of the engine.
#include <CLI/CLI.hpp>

#include "cli/BurnCommands.h"
#include "cli/CliCommon.h"
#include "cli/DeviceCommands.h"
#include "cli/ImageCommand.h"
#include "cli/SessionCommands.h"
#include "cli/TreeCommand.h"
#include "cli/VdiscCommand.h"

int main(int argc, char** argv) {
    CLI::App app{"velk: data discs from files and folders"};
    app.require_subcommand(1);
    velk::cli::addTreeCommand(app);
    velk::cli::addImageCommand(app);
    velk::cli::addVdiscCommand(app);
    velk::cli::addDeviceCommands(app);
    velk::cli::addBurnCommands(app);
    velk::cli::addSessionCommands(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::RuntimeError& error) {
        return error.get_exit_code();
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return error.get_exit_code() == 0 ? velk::cli::ExitOk : velk::cli::ExitUsage;
    }
    return velk::cli::ExitOk;
}
