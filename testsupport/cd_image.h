#pragma once

// CUE/BIN disc images written at test time, read through libcdio like a disc.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quil::test {

struct CdImageTrack {
    bool audio = true;           // false: a MODE1/2352 data track
    uint32_t pregapSectors = 0;  // INDEX 00 sectors stored in the BIN before INDEX 01
    uint32_t sectors = 0;        // from INDEX 01 up to the next track's pregap or the end
    // 0: a counting pattern in which every sample is distinct: left = the BIN's sector number
    // (modulo 32768), right = track number * 1000 + frame within the sector. Else a sine tone
    // of that frequency at half scale on both channels.
    double toneHz = 0;
};

struct CdImage {
    std::filesystem::path cue;
    std::filesystem::path bin;
    std::vector<uint8_t> data;      // the BIN's bytes
    std::vector<uint32_t> index01;  // per track, the BIN sector of INDEX 01
};

constexpr uint32_t kCdSectorBytes = 2352;

// Writes <dir>/<name>.cue and <dir>/<name>.bin (one BINARY file, MSF positions within it).
CdImage WriteCdImage(const std::filesystem::path& dir, const std::string& name,
                     const std::vector<CdImageTrack>& tracks);

// A CUE sheet's MSF text ("mm:ss:ff") for a sector count.
std::string CueMsf(uint32_t sectors);

}  // namespace quil::test
