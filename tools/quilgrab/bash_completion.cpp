#include "tools/quilgrab/bash_completion.h"

#include <regex>
#include <sstream>
#include <vector>

namespace quil::grab {

namespace {

std::string Joined(const std::vector<std::string>& words, const char* separator) {
    std::string text;
    for (const auto& word : words) text += (text.empty() ? "" : separator) + word;
    return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);)
        if (!part.empty()) parts.push_back(part);
    return parts;
}

std::vector<std::string> Names(const CLI::Option& option) {
    std::vector<std::string> names;
    for (const auto& name : option.get_snames()) names.push_back("-" + name);
    for (const auto& name : option.get_lnames()) names.push_back("--" + name);
    return names;
}

// The words an option takes, read from its validators' description as the help shows it:
// "wav|mp3|wma|ogg" or "{4,7,8,9}". Empty when the value is free.
std::vector<std::string> Choices(const CLI::Option& option) {
    const std::string type = option.get_type_name();
    const auto colon = type.find(':');
    if (colon == std::string::npos) return {};
    const std::string described = type.substr(colon + 1);
    static const std::regex kBarList(R"(^[A-Za-z0-9._-]+(\|[A-Za-z0-9._-]+)+$)");
    static const std::regex kBraceList(R"(^\{[A-Za-z0-9._-]+(,[A-Za-z0-9._-]+)*\}$)");
    if (std::regex_match(described, kBarList)) return Split(described, '|');
    if (std::regex_match(described, kBraceList))
        return Split(described.substr(1, described.size() - 2), ',');
    return {};
}

// What completes the value of an option that names a file; empty for other values.
std::string PathCompletion(const CLI::Option& option) {
    std::string type = option.get_type_name();
    type = type.substr(0, type.find(':'));
    if (type == "DIR") return "_filedir -d";
    if (type == "FILE") return "_filedir";
    if (type == "IMAGE") return "_filedir '@(cue|toc|nrg)'";
    if (type == "CAPTURE") return "_filedir '@(pcap|pcapng|cap)'";
    return {};
}

void WriteCommand(std::ostream& out, const CLI::App& command) {
    std::vector<std::string> offered, free;
    std::ostringstream values;
    bool positional = false;
    for (const CLI::Option* option : command.get_options()) {
        if (!option->nonpositional()) {
            positional = true;
            continue;
        }
        const auto names = Names(*option);
        offered.insert(offered.end(), names.begin(), names.end());
        if (option->get_items_expected_max() == 0) continue;  // a flag
        const std::string pattern = Joined(names, " | ");
        if (auto choices = Choices(*option); !choices.empty())
            values << "                " << pattern
                   << ")\n                    COMPREPLY=($(compgen -W '" << Joined(choices, " ")
                   << "' -- \"$cur\"))\n                    return ;;\n";
        else if (auto path = PathCompletion(*option); !path.empty())
            values << "                " << pattern << ")\n                    " << path
                   << "\n                    return ;;\n";
        else
            free.insert(free.end(), names.begin(), names.end());
    }
    // Values nobody can guess (numbers, names, titles): nothing to offer.
    if (!free.empty())
        values << "                " << Joined(free, " | ") << ")\n                    return ;;\n";
    out << "        " << command.get_name() << ")\n";
    if (!values.str().empty())
        out << "            case $prev in\n" << values.str() << "            esac\n";
    out << "            if [[ $cur == -* ]]; then\n"
        << "                COMPREPLY=($(compgen -W '" << Joined(offered, " ")
        << "' -- \"$cur\"))\n";
    if (positional) out << "            else\n                _filedir\n";
    out << "            fi\n            ;;\n";
}

}  // namespace

std::string BashCompletion(const CLI::App& program) {
    std::vector<std::string> commands;
    for (const CLI::App* command : program.get_subcommands([](const CLI::App*) { return true; }))
        commands.push_back(command->get_name());
    std::vector<std::string> programOptions;
    for (const CLI::Option* option : program.get_options()) {
        auto names = Names(*option);
        programOptions.insert(programOptions.end(), names.begin(), names.end());
    }

    std::ostringstream out;
    const std::string name = program.get_name();
    out << "# bash completion for " << name
        << ", generated from its command line parser when it was built.\n\n"
        << "_" << name << "() {\n"
        << "    local cur prev words cword split\n"
        << "    _init_completion -s || return\n\n"
        << "    if [[ $cword -eq 1 ]]; then\n"
        << "        COMPREPLY=($(compgen -W '" << Joined(commands, " ") << " "
        << Joined(programOptions, " ") << "' -- \"$cur\"))\n"
        << "        return\n"
        << "    fi\n\n"
        << "    case ${words[1]} in\n";
    for (const CLI::App* command : program.get_subcommands([](const CLI::App*) { return true; }))
        WriteCommand(out, *command);
    out << "    esac\n"
        << "} && complete -F _" << name << " " << name << "\n";
    return out.str();
}

}  // namespace quil::grab
