#pragma once

// The system profiles the profile manager offers, per format version. Audio streams are coded
// with Windows Media Audio 1 in the version 4.0 profiles and Windows Media Audio 2 in the
// others, at rates, channel counts and bit rates that the ASF Writer's encoders produce.

#include <span>
#include <string>
#include <vector>

#include "platform/wmf/profile_manager.h"

namespace quil::wmf {

struct StreamDescription {
    GUID majorType;
    GUID subtype;
    DWORD bitrate;  // bits per second
    // Audio streams.
    DWORD sampleRate = 0;
    WORD channels = 0;
    // Video streams.
    LONG width = 0;
    LONG height = 0;
    DWORD framesPerSecond = 0;
};

struct ProfileDescription {
    WMT_VERSION version;
    std::wstring name;
    std::wstring description;
    std::vector<StreamDescription> streams;
};

bool IsSystemProfileVersion(WMT_VERSION version);

// Ordered from low to high quality; empty for a version that has none.
std::span<const ProfileDescription> SystemProfiles(WMT_VERSION version);

}  // namespace quil::wmf
