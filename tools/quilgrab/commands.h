#pragma once

// Each command registers its options on its own subcommand of the program's parser and returns
// what runs it once the command line is parsed: a function giving the exit status.

#include <CLI/CLI.hpp>

#include <functional>

namespace quil::grab {

using CommandRun = std::function<int()>;

CommandRun AddFileCommand(CLI::App& program);
CommandRun AddStreamCommand(CLI::App& program);
CommandRun AddProfilesCommand(CLI::App& program);
CommandRun AddSniffCommand(CLI::App& program);
CommandRun AddTagsCommand(CLI::App& program);
CommandRun AddLiveCommand(CLI::App& program);
CommandRun AddCdCommand(CLI::App& program);

// Judges an output file its grabber has closed: prints its path when it holds audio, else says
// why nothing is kept (an empty file is removed). Returns the exit status.
int FinishOutput(const std::string& path, int status);

}  // namespace quil::grab
