#pragma once

// Reads and writes the descriptive attributes of WAV, MP3 and WMA files through the Windows
// Media metadata editor. Both operations print diagnostic lines to the standard output.

#include <cstddef>
#include <cstdint>

namespace quil {

// Texts are zero-terminated UTF-8 of at most kTagTextSize - 1 bytes.
constexpr size_t kTagTextSize = 260;

struct MediaTagRecord {
    char szTitle[kTagTextSize] = {};
    char szAuthor[kTagTextSize] = {};       // shown as Artist
    char szDescription[kTagTextSize] = {};  // shown as Comment
    char szGenre[kTagTextSize] = {};
    char szYear[kTagTextSize] = {};
    char szAlbumTitle[kTagTextSize] = {};
    char szCopyright[kTagTextSize] = {};
    int32_t nTrack = -1;      // -1: none
    uint32_t dwDuration = 0;  // 100-ns units, low 32 bits; 0: none
    uint32_t dwBitrate = 0;   // bits per second; 0: none
};

class MediaTagEditor {
public:
    // Starts from a new record. True when the file was opened and every attribute was asked
    // for; absent attributes keep the record's defaults.
    bool ReadTags(const char* path, MediaTagRecord& record);

    // Writes the seven texts and the track (-1 removes it) in one editor pass. False at the
    // first text that cannot be written; the texts before it are still written. A failed track
    // write does not count.
    bool WriteTags(const char* path, const MediaTagRecord& record);
};

}  // namespace quil
