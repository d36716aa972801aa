#pragma once

// The bash completion script of a CLI11 parser: its commands, every option of each command,
// the values of options that take one of a few words, and file names where a path is expected
// (options whose value is a FILE, DIR, IMAGE or CAPTURE, and the commands' positional inputs).

#include <CLI/CLI.hpp>

#include <string>

namespace quil::grab {

std::string BashCompletion(const CLI::App& program);

}  // namespace quil::grab
