#pragma once

// The 148 genre names of the ID3v1 list, in code order (0 "Blues" to 147 "SynthPop"), spelled
// as the list has them. Files store a genre by its name.

#include <array>
#include <string_view>

namespace quil::tags {

extern const std::array<std::string_view, 148> kGenreList;

}  // namespace quil::tags
