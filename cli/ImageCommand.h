#pragma once

#include <CLI/CLI.hpp>

namespace velk::cli {

// velk-cli image -o IMAGE [options] PATH...: writes the disc image of the
// paths to a file, with a progress line on a terminal.
void addImageCommand(CLI::App& app);

}  // namespace velk::cli
