// The shell completion and the man page, both held to velk-cli's own option
// tables: the bash script (made at build time by `velk-cli completion bash`)
// completes subcommands, options and choices as bash would call it, and every
// option of every subcommand has its place in packaging/velk-cli.1.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>
#include <sys/wait.h>

#include "cli/CliRun.h"

namespace velk::testing {
namespace {

const std::string BashScript = std::string(VELK_BINARY_DIR) + "/completion/velk-cli";
const std::string ZshScript = std::string(VELK_BINARY_DIR) + "/completion/_velk-cli";

std::string contentsOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs a shell command line; stderr is merged into the output.
CliRun shell(const std::string& command) {
    CliRun run;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

// What the completion function offers for `line`, completing its last word
// (an empty last word when the line ends in a space), as bash calls it.
std::string bashCompletes(const std::string& line) {
    const std::string script = "source " + shellQuoted(BashScript) + "; COMP_LINE=" + shellQuoted(line) +
                               "; read -ra COMP_WORDS <<< \"$COMP_LINE\"; "
                               "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=(''); "
                               "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _velk_cli; "
                               "printf '%s\\n' \"${COMPREPLY[@]}\" | sort | tr '\\n' ' '";
    return shell("bash -c " + shellQuoted(script)).output;
}

TEST(VelkCliCompletionTest, BashCompletesSubcommandsOptionsAndChoices) {
    struct Case {
        std::string line;
        std::string offered;
    };
    const Case cases[] = {
        {"velk-cli bu", "burn burn-image "},
        // `completion` is hidden: only compare.
        {"velk-cli co", "compare "},
        {"velk-cli burn --ver", "--verify "},
        {"velk-cli burn --no-", "--no-follow-links --no-import --no-joliet --no-udf --no-underrun-protection "},
        {"velk-cli burn-image --no-", " "},  // not burn's options
        {"velk-cli vdisc ", "create export show "},
        {"velk-cli vdisc create --f", "--force "},
        {"velk-cli vdisc create --medium dvd+", "dvd+r dvd+r-dl dvd+rw "},
        // A value that reads like a subcommand stays burn's label.
        {"velk-cli burn --label tree --no-j", "--no-joliet "},
        {"velk-cli info --j", "--json "},
        // After an option that takes a file, bash's own file completion.
        {"velk-cli burn --trace ", " "},
    };
    for (const Case& c : cases) EXPECT_EQ(bashCompletes(c.line), c.offered) << c.line;

    CliRun registered = shell("bash -c " + shellQuoted("source " + shellQuoted(BashScript) + "; complete -p velk-cli"));
    EXPECT_NE(registered.output.find("-F _velk_cli velk-cli"), std::string::npos) << registered.output;
}

TEST(VelkCliCompletionTest, TheScriptsAreWhatTheProgramMakesNow) {
    EXPECT_EQ(contentsOf(BashScript), velkCli("completion bash").output);
    const std::string zsh = contentsOf(ZshScript);
    EXPECT_EQ(zsh, velkCli("completion zsh").output);
    EXPECT_EQ(zsh.rfind("#compdef velk-cli\n", 0), 0u);
    if (std::system("command -v zsh >/dev/null 2>&1") == 0) {
        CliRun parsed = shell("zsh -n " + shellQuoted(ZshScript));
        EXPECT_EQ(parsed.status, 0) << parsed.output;
    }
}

// The man page without its font and dash escapes.
std::string plainManPage() {
    std::string page = contentsOf(std::string(VELK_SOURCE_DIR) + "/packaging/velk-cli.1");
    page = std::regex_replace(page, std::regex(R"(\\-)"), "-");
    return std::regex_replace(page, std::regex(R"(\\f[BIRP])"), "");
}

bool mentions(const std::string& text, const std::string& option) {
    const std::regex word("(^|[^A-Za-z0-9-])" + std::regex_replace(option, std::regex(R"([+])"), R"(\+)") +
                          "($|[^A-Za-z0-9-])");
    return std::regex_search(text, word);
}

TEST(VelkCliCompletionTest, TheManPageDescribesEveryOptionOfEveryCommand) {
    // "velk-cli vdisc create<TAB>--medium" lines, and a line per command.
    CliRun listed = velkCli("completion options");
    ASSERT_EQ(listed.status, 0) << listed.output;
    std::map<std::string, std::vector<std::string>> optionsOf;
    std::istringstream lines(listed.output);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t tab = line.find('\t');
        const std::string command = line.substr(0, tab).substr(std::string("velk-cli").size());
        if (tab == std::string::npos) {
            optionsOf[command.empty() ? "" : command.substr(1)];
        } else {
            optionsOf[command.empty() ? "" : command.substr(1)].push_back(line.substr(tab + 1));
        }
    }
    ASSERT_GT(optionsOf.size(), 10u) << listed.output;

    // Each command has a subsection (".SS ls", ".SS "eject, load"") that
    // names all its options; each option is described in a .TP paragraph.
    const std::string page = plainManPage();
    std::map<std::string, std::string> sections;
    std::set<std::string> described;
    std::istringstream manLines(page);
    std::string current, previous;
    for (std::string line; std::getline(manLines, line); previous = line) {
        if (line.rfind(".SS ", 0) == 0 || line.rfind(".SH ", 0) == 0) {
            current.clear();
            if (line.rfind(".SS ", 0) != 0) continue;
            std::string names = std::regex_replace(line.substr(4), std::regex("\""), "");
            std::smatch name;
            for (std::string rest = names; std::regex_search(rest, name, std::regex("[a-z-]+( [a-z-]+)?"));
                 rest = name.suffix()) {
                sections[name.str()];
                current += (current.empty() ? "" : "\n") + name.str();
            }
            continue;
        }
        std::istringstream owners(current);
        for (std::string owner; std::getline(owners, owner);) sections[owner] += line + "\n";
        if (previous == ".TP") described.insert(line);
    }
    const std::string descriptions = [&] {
        std::string all;
        for (const std::string& line : described) all += line + "\n";
        return all;
    }();

    for (const auto& [command, options] : optionsOf) {
        for (const std::string& option : options) {
            EXPECT_TRUE(mentions(descriptions, option)) << option << " (" << command << ") has no .TP entry";
        }
        if (command.empty()) {
            for (const std::string& option : options) EXPECT_TRUE(mentions(page, option)) << option;
            continue;
        }
        ASSERT_TRUE(sections.count(command)) << "no .SS section for " << command;
        for (const std::string& option : options) {
            if (option == "-h" || option == "--help") continue;  // every command's, said once
            EXPECT_TRUE(mentions(sections[command], option)) << command << ": " << option;
        }
    }
}

}  // namespace
}  // namespace velk::testing
