// velk-cli compare: an existing disc session against the files and folders
// it was made from.
#pragma once

#include <CLI/CLI.hpp>

namespace velk::cli {

// velk-cli compare [--device D] [--virtual DISC...] [--trace FILE]
//                  [--session N] [--keep-path] PATH...
// reads the tree of session N (default: the last) as the session import
// reads it, adds the paths as a burn would and matches each file by its path
// on the disc: sizes first, then the contents block by block. Prints one line
// per file that is missing on the disc, only on the disc or different, then
// a summary; exits 0 only when everything matches.
void addCompareCommand(CLI::App& app);

}  // namespace velk::cli
