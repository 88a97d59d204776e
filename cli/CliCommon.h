// Helpers shared by the velk-cli subcommands.
#pragma once

#include <string>
#include <vector>

#include "engine/api/BurnEngine.h"

namespace velk::cli {

// Exit codes of every subcommand.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

// Adds each path the way the application does: a folder with AddDirectory
// ("\", path, "*.*", recursive, keepPath), a file with AddFile ("\", path).
// Prints the engine's error text and returns false when one is refused.
bool addSourcePaths(BurnEngine& engine, const std::vector<std::string>& paths, bool keepPath);

}  // namespace velk::cli
