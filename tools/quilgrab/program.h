#pragma once

// quilgrab's whole command line: the program's parser with every command on it, and what runs
// each command. main() parses and runs it; the build turns the same parser into the bash
// completion, so the completion cannot miss an option.

#include <CLI/CLI.hpp>

#include <map>
#include <memory>

#include "tools/quilgrab/commands.h"

namespace quil::grab {

struct Program {
    CLI::App parser;
    std::map<CLI::App*, CommandRun> runs;
};

using AddCommandFn = CommandRun (*)(CLI::App& program);

// The parser with only the given commands on it; MakeProgram puts every command on it.
std::unique_ptr<Program> MakeProgramWith(std::initializer_list<AddCommandFn> commands);
std::unique_ptr<Program> MakeProgram();

// Parses the command line and runs the command it names; returns the exit status.
int RunProgram(Program& made, int argc, char** argv);

}  // namespace quil::grab
