#pragma once

// One-time steps of start-up that need no window.

#include <string>

#include "app/settings/wma_profile_catalogue.h"

namespace quil::shell {

// Defaults of outside media components, written at every start (keys made when missing).
void WriteComponentDefaults(int oggQuality = 6);

// Registers the CD track source plug-in from the program's folder when it is not registered.
bool EnsureTrackSourceRegistered(const std::string& programFolder);

// The Windows Media profile lists, asked once of a temporary CD grabber; empty lists when the
// grabber cannot build its graph.
settings::WmaProfileCatalogue LoadWmaProfiles();

}  // namespace quil::shell
