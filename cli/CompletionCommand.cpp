#include "cli/CompletionCommand.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>


namespace velk::cli {
namespace {

constexpr const char* ProgramName = "velk-cli";

// One command (the program, a subcommand, a subcommand's subcommand) as the
// scripts need it. Its path is the words that name it: "velk-cli vdisc create".
struct CommandTable {
    std::string path;
    std::vector<std::string> subcommands;
    std::vector<std::string> options;  // every name, short and long
    std::vector<std::string> valued;   // the names that take a value
    std::map<std::string, std::vector<std::string>> choices;  // by name, for a value from a set
};

bool hidden(const CLI::App* command) { return command->get_group().empty(); }

// The members of a set check (CLI::IsMember shows them as "{a,b,c}" in the
// option's type name).
std::vector<std::string> choicesOf(const CLI::Option& option) {
    const std::string type = option.get_type_name();
    const std::size_t open = type.find('{');
    const std::size_t close = type.find('}', open);
    std::vector<std::string> members;
    if (open == std::string::npos || close == std::string::npos) return members;
    std::size_t start = open + 1;
    while (start < close) {
        std::size_t comma = type.find(',', start);
        if (comma == std::string::npos || comma > close) comma = close;
        members.push_back(type.substr(start, comma - start));
        start = comma + 1;
    }
    return members;
}

void collect(const CLI::App& command, const std::string& path, std::vector<CommandTable>& tables) {
    CommandTable table;
    table.path = path;
    for (const CLI::Option* option : command.get_options()) {
        if (!option->nonpositional() || option->get_group().empty()) continue;
        std::vector<std::string> names;
        for (const std::string& name : option->get_snames()) names.push_back("-" + name);
        for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
        const bool takesValue = option->get_expected_max() > 0;  // a flag expects none
        const std::vector<std::string> members = choicesOf(*option);
        for (const std::string& name : names) {
            table.options.push_back(name);
            if (takesValue) table.valued.push_back(name);
            if (takesValue && !members.empty()) table.choices[name] = members;
        }
    }
    std::vector<const CLI::App*> subcommands =
        command.get_subcommands([](const CLI::App* sub) { return !hidden(sub); });
    for (const CLI::App* sub : subcommands) table.subcommands.push_back(sub->get_name());
    tables.push_back(table);
    for (const CLI::App* sub : subcommands) collect(*sub, path + " " + sub->get_name(), tables);
}

std::vector<CommandTable> commandTables(const CLI::App& app) {
    std::vector<CommandTable> tables;
    collect(app, ProgramName, tables);
    return tables;
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

// The four tables, each a list of key and value pairs; `entry` formats one.
template <typename Entry>
std::string tableLines(const std::vector<CommandTable>& tables, Entry entry) {
    std::string subcommands, options, valued, choices;
    for (const CommandTable& table : tables) {
        if (!table.subcommands.empty()) subcommands += entry(table.path, joined(table.subcommands));
        options += entry(table.path, joined(table.options));
        for (const std::string& name : table.valued) valued += entry(table.path + " " + name, "1");
        for (const auto& [name, members] : table.choices) choices += entry(table.path + " " + name, joined(members));
    }
    return "    subcommands=(\n" + subcommands + "    )\n    options=(\n" + options + "    )\n    valued=(\n" +
           valued + "    )\n    choices=(\n" + choices + "    )\n";
}

}  // namespace

std::string bashCompletion(const CLI::App& app) {
    const std::string tables = tableLines(commandTables(app), [](const std::string& key, const std::string& value) {
        return "        [" + quoted(key) + "]=" + quoted(value) + "\n";
    });
    return "# bash completion for velk-cli, made by `velk-cli completion bash` from its option tables.\n"
           "_velk_cli() {\n"
           "    local -A subcommands options valued choices\n" +
           tables +
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
           "    local command=velk-cli word i\n"
           "    # The subcommands named so far; an option's value is no subcommand.\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        word=${COMP_WORDS[i]}\n"
           "        if [[ -n ${valued[\"$command $word\"]} ]]; then\n"
           "            i=$((i + 1))\n"
           "        elif [[ -n $word && \" ${subcommands[$command]} \" == *\" $word \"* ]]; then\n"
           "            command=\"$command $word\"\n"
           "        fi\n"
           "    done\n"
           "    COMPREPLY=()\n"
           "    if [[ -n ${choices[\"$command $prev\"]} ]]; then\n"
           "        COMPREPLY=($(compgen -W \"${choices[\"$command $prev\"]}\" -- \"$cur\"))\n"
           "    elif [[ -n ${valued[\"$command $prev\"]} ]]; then\n"
           "        return 0  # a file or a number: bash's own completion\n"
           "    elif [[ $cur == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"${options[$command]}\" -- \"$cur\"))\n"
           "    elif [[ -n ${subcommands[$command]} ]]; then\n"
           "        COMPREPLY=($(compgen -W \"${subcommands[$command]}\" -- \"$cur\"))\n"
           "    fi\n"
           "}\n"
           "complete -o default -F _velk_cli velk-cli\n";
}

std::string zshCompletion(const CLI::App& app) {
    const std::string tables = tableLines(commandTables(app), [](const std::string& key, const std::string& value) {
        return "        " + quoted(key) + " " + quoted(value) + "\n";
    });
    return "#compdef velk-cli\n"
           "# zsh completion for velk-cli, made by `velk-cli completion zsh` from its option tables.\n"
           "_velk-cli() {\n"
           "    local -A subcommands options valued choices\n" +
           tables +
           "    local command=velk-cli word key i\n"
           "    # The subcommands named so far; an option's value is no subcommand.\n"
           "    for ((i = 2; i < CURRENT; i++)); do\n"
           "        word=${words[i]}\n"
           "        key=\"$command $word\"\n"
           "        if [[ -n ${valued[$key]} ]]; then\n"
           "            i=$((i + 1))\n"
           "        elif [[ -n $word && \" ${subcommands[$command]} \" == *\" $word \"* ]]; then\n"
           "            command=$key\n"
           "        fi\n"
           "    done\n"
           "    key=\"$command ${words[CURRENT-1]}\"\n"
           "    if [[ -n ${choices[$key]} ]]; then\n"
           "        compadd -- ${=choices[$key]}\n"
           "    elif [[ -n ${valued[$key]} ]]; then\n"
           "        _files\n"
           "    elif [[ ${words[CURRENT]} == -* ]]; then\n"
           "        compadd -- ${=options[$command]}\n"
           "    elif [[ -n ${subcommands[$command]} ]]; then\n"
           "        compadd -- ${=subcommands[$command]}\n"
           "    else\n"
           "        _files\n"
           "    fi\n"
           "}\n"
           "_velk-cli \"$@\"\n";
}

void addCompletionCommand(CLI::App& app) {
    auto shell = std::make_shared<std::string>();
    CLI::App* command = app.add_subcommand("completion", "Print the shell completion script");
    command->group("");  // hidden: the scripts come installed
    command->add_option("SHELL", *shell, "bash, zsh, or options (the option tables as a list)")
        ->required()
        ->check(CLI::IsMember({"bash", "zsh", "options"}));
    const CLI::App* program = &app;
    command->callback([shell, program] {
        if (*shell == "bash") {
            std::fputs(bashCompletion(*program).c_str(), stdout);
        } else if (*shell == "zsh") {
            std::fputs(zshCompletion(*program).c_str(), stdout);
        } else {
            for (const CommandTable& table : commandTables(*program)) {
                std::printf("%s\n", table.path.c_str());
                for (const std::string& name : table.options) std::printf("%s\t%s\n", table.path.c_str(), name.c_str());
            }
        }
    });
}

}  // namespace velk::cli
