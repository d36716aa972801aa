#pragma once

// What a tag save checks so that it never loses audio: the container's own size fields before
// anything is written, and the audio of the written copy against the original's before the copy
// replaces it.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/wmf/header_info.h"

namespace quil::wmf {

// A file whose size fields disagree with its contents (a RIFF or ASF header claiming more or
// fewer bytes than it holds, a WAV of tens of thousands of chunks). Writing tags into such a
// file moves or cuts the wrong bytes, so it is refused.
constexpr HRESULT kInconsistentFile = HRESULT_FROM_WIN32(1392);  // ERROR_FILE_CORRUPT
// The written copy's audio differs from the original's; the original was left as it was.
constexpr HRESULT kAudioChanged = HRESULT_FROM_WIN32(23);  // ERROR_CRC

// S_OK when the container's sizes are consistent with the file of `fd`.
HRESULT CheckContainerSizes(MediaKind kind, int fd);

// The audio stream of a file as a demuxer delivers it.
struct AudioFingerprint {
    uint64_t packets = 0;
    uint64_t bytes = 0;
    uint64_t checksum = 0;
    bool operator==(const AudioFingerprint&) const = default;
};
// Empty when no demuxer opens the file or it has no audio stream.
std::optional<AudioFingerprint> FingerprintAudio(const std::string& path);

}  // namespace quil::wmf
