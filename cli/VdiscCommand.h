// velk-cli vdisc: makes, shows and exports the disc files of the virtual
// recorder (virtual-recorder/DiscStore.h).
#pragma once

#include <CLI/CLI.hpp>

namespace velk::cli {

// Adds "vdisc create | show | export". Exit codes: 0 ok, 1 failure (a failing
// callback throws CLI::RuntimeError(1)), 2 usage (CLI11 parse errors).
void addVdiscCommand(CLI::App& app);

}  // namespace velk::cli
