#pragma once

// Texts the media list pages show: sizes, durations, the audio format line and the status
// words, shared by the player, media file and network pages.

#include <QString>

#include <cstdint>
#include <string>

#include "platform/graph/media_types.h"

namespace quil::shell {

// "%02d:%02d:%02d" of whole seconds, the value truncated toward zero.
QString DurationText(double seconds);
// Bytes with " bs" below 1024, else whole kilobytes with " kbs"; files above 4 GiB included.
QString SizeText(uint64_t bytes);
// "%2.0fkHz %dBits %s": 44100 Hz reads "44kHz", 8000 Hz " 8kHz".
QString FormatText(const PCMWAVEFORMAT& format);

// A path as the user reads it; the bytes stay the row's key.
QString DisplayPath(const std::string& path);
std::string PathBytes(const QString& path);

}  // namespace quil::shell
