#pragma once

// The audio-only Windows Media system profiles, in catalogue order, for "quilgrab profiles"
// and as the default profile of a version (the last one, as the desktop program picks it).

#include <string>
#include <utility>
#include <vector>

namespace quil::grab {

// Name and description of each profile of version 4, 7, 8 or 9.
std::vector<std::pair<std::string, std::string>> AudioProfiles(int version);
std::string LastAudioProfile(int version);

}  // namespace quil::grab
