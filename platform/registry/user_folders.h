#pragma once

#include <filesystem>

namespace quil {

// $XDG_CONFIG_HOME (default ~/.config).
std::filesystem::path ConfigHome();
// $XDG_DATA_HOME/Quillet/ (default ~/.local/share/Quillet/): files written at run time.
std::filesystem::path DataFolder();
// The folder of the running program: files that ship with a release live beside it.
std::filesystem::path ProgramFolder();

}  // namespace quil
