#pragma once

// The engine's calls into the encoders' configuration interfaces and the profile lookup.

#include <string>

#include "engine/core/grabber_core.h"

struct IWMProfile;

namespace quil::engine {

// The eight one-value setters of the MP3 encoder, in the engine's order; results are ignored.
bool ApplyMp3Settings(IBaseFilter* encoder, const Mp3EncoderOptions& options);
// Writes "Quality" into the OGG encoder's property bag; the result is ignored.
void WriteOggQuality(IBaseFilter* encoder, float quality);
// The first system profile of `version` whose name equals `name` exactly; empty when the
// version does not read back as set or no name matches.
ComPtr<IWMProfile> FindSystemProfile(IWMProfileManager* manager, DWORD version, const char* name);
bool ConfigureAsfWriter(IBaseFilter* writer, IWMProfile* profile);
// A profile's name or description as UTF-8.
std::string ProfileText(IWMProfile* profile, bool description);

}  // namespace quil::engine
