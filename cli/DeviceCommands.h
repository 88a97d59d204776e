#pragma once

#include <CLI/CLI.hpp>

namespace velk::cli {

// velk-cli devices | info | eject | load, each with
//   --device D        a list index, a drive letter or a /dev path (default 0)
//   --trace FILE      trace every command to FILE
//   --virtual DISC... use the virtual recorder on these disc files instead of
//                     the machine's drives
// `devices` prints one line per recorder: its index, a tab and its name.
// `info` prints one "name: value" line per fact about the drive and its disc.
void addDeviceCommands(CLI::App& app);

}  // namespace velk::cli
