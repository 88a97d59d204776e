// velk-cli completion bash|zsh|options: shell completion made from the
// option tables themselves, so that a new subcommand or option is completed
// without anyone editing a script. Hidden from the help: the scripts are
// installed with velk-cli. `options` lists "COMMAND<TAB>OPTION" lines (and a
// line per command), for the test that holds the man page to the tables.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace velk::cli {

// Call after every other subcommand has been added.
void addCompletionCommand(CLI::App& app);

// The scripts, for `app` as it stands.
std::string bashCompletion(const CLI::App& app);
std::string zshCompletion(const CLI::App& app);

}  // namespace velk::cli
