#pragma once

#include <CLI/CLI.hpp>

namespace velk::cli {

// velk-cli tree PATH...: adds the paths to a project and prints its tree with
// each entry's ISO name, Joliet name and size.
void addTreeCommand(CLI::App& app);

}  // namespace velk::cli
