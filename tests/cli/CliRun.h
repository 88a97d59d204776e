// Runs velk-cli as a user would, through the shell, and keeps what it printed.
#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace velk::testing {

struct CliRun {
    int status = -1;
    std::string output;
};

// Runs a shell command line and keeps its standard output and exit status.
inline CliRun runShell(const std::string& command) {
    CliRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

// `arguments` go to the shell as written; stderr is merged into the output.
// `environment` is put in front of the command (NAME=value ...).
inline CliRun velkCli(const std::string& arguments, const std::string& environment = "") {
    return runShell(environment + " " + std::string(VELK_BINARY_DIR) + "/cli/velk-cli " + arguments + " 2>&1");
}

inline std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace velk::testing
