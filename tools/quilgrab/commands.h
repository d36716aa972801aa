#pragma once

// Each subcommand gets the arguments after its name and returns the program's exit status:
// 0 done, 1 failed, 2 bad usage.

#include <span>
#include <string>

namespace quil::grab {

int RunSniffCommand(std::span<char* const> arguments);
int RunTagsCommand(std::span<char* const> arguments);
int RunFileCommand(std::span<char* const> arguments);
int RunStreamCommand(std::span<char* const> arguments);
int RunProfilesCommand(std::span<char* const> arguments);
int RunLiveCommand(std::span<char* const> arguments);
int RunCdCommand(std::span<char* const> arguments);

// Judges an output file its grabber has closed: prints its path when it holds audio, else says
// why nothing is kept (an empty file is removed). Returns the exit status.
int FinishOutput(const std::string& path, int status);

}  // namespace quil::grab
