#pragma once

#include <CLI/CLI.hpp>

namespace velk::cli {

// velk-cli burn | burn-image | erase | close: the recording jobs on a recorder
// (a real drive, or the virtual recorder with --virtual).
//
// Each refuses before it starts, with "velk-cli: COMMAND: why", when there is
// no recorder or no disc, when the disc cannot take the job (finalised,
// read-only, write-once for an erase, too small for the image) or when a test
// write was asked of a medium that has none. Exit codes: 0 done, 1 refused or
// the job failed (the engine's error text follows the command name), 2 usage.
//
// On a terminal a progress line is redrawn; at the end one summary line. A
// first Ctrl-C asks the burn to stop (the disc is closed with what was
// written, and the program exits 1 with "Aborted by user"); further ones only
// say that the recorder is still closing, since stopping the drive in the
// middle of a command could leave the disc unreadable. Erase and close cannot
// be stopped.
void addBurnCommands(CLI::App& app);

}  // namespace velk::cli
