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

std::unique_ptr<Program> MakeProgram();

}  // namespace quil::grab
