#include "testsupport/cd_image.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>

namespace quil::test {

namespace {

// Sectors are filled in place: a push per byte made images of a few minutes take minutes to
// write in the sanitizer build.
uint8_t* PutSample(uint8_t* at, int16_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
    return at + 2;
}

void AppendAudio(std::vector<uint8_t>& out, int track, uint32_t count, double toneHz,
                 uint64_t* toneFrame) {
    auto first = static_cast<uint32_t>(out.size() / kCdSectorBytes);
    size_t start = out.size();
    out.resize(start + size_t{count} * kCdSectorBytes);
    uint8_t* at = out.data() + start;
    for (uint32_t s = 0; s < count; ++s) {
        uint32_t sector = first + s;
        for (int frame = 0; frame < 588; ++frame) {
            if (toneHz == 0) {
                at = PutSample(at, static_cast<int16_t>(sector & 0x7FFF));
                at = PutSample(at, static_cast<int16_t>(track * 1000 + frame));
            } else {
                double v = 0.5 * std::sin(2 * std::numbers::pi * toneHz * (*toneFrame)++ / 44100);
                auto sample = static_cast<int16_t>(std::lround(v * 32767));
                at = PutSample(at, sample);
                at = PutSample(at, sample);
            }
        }
    }
}

void AppendData(std::vector<uint8_t>& out, uint32_t count) {
    for (uint32_t s = 0; s < count; ++s) {
        uint32_t address = static_cast<uint32_t>(out.size() / kCdSectorBytes) + 150;
        std::vector<uint8_t> sector(kCdSectorBytes, 0);
        for (int i = 1; i <= 10; ++i) sector[i] = 0xFF;
        auto bcd = [](uint32_t v) { return static_cast<uint8_t>((v / 10) << 4 | (v % 10)); };
        sector[12] = bcd(address / 4500);
        sector[13] = bcd(address / 75 % 60);
        sector[14] = bcd(address % 75);
        sector[15] = 1;
        for (int i = 16; i < 16 + 2048; ++i) sector[i] = static_cast<uint8_t>('D' + i % 7);
        out.insert(out.end(), sector.begin(), sector.end());
    }
}

}  // namespace

std::string CueMsf(uint32_t sectors) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", sectors / 4500, sectors / 75 % 60,
                  sectors % 75);
    return text;
}

CdImage WriteCdImage(const std::filesystem::path& dir, const std::string& name,
                     const std::vector<CdImageTrack>& tracks) {
    CdImage image;
    image.cue = dir / (name + ".cue");
    image.bin = dir / (name + ".bin");
    std::string cue = "FILE \"" + name + ".bin\" BINARY\n";
    int number = 1;
    for (const auto& track : tracks) {
        char header[64];
        std::snprintf(header, sizeof header, "  TRACK %02d %s\n", number,
                      track.audio ? "AUDIO" : "MODE1/2352");
        cue += header;
        uint32_t here = static_cast<uint32_t>(image.data.size() / kCdSectorBytes);
        uint64_t toneFrame = 0;
        if (track.pregapSectors) {
            cue += "    INDEX 00 " + CueMsf(here) + "\n";
            if (track.audio)
                AppendAudio(image.data, number, track.pregapSectors, 0, &toneFrame);
            else
                AppendData(image.data, track.pregapSectors);
            here += track.pregapSectors;
            toneFrame = 0;
        }
        cue += "    INDEX 01 " + CueMsf(here) + "\n";
        image.index01.push_back(here);
        if (track.audio)
            AppendAudio(image.data, number, track.sectors, track.toneHz, &toneFrame);
        else
            AppendData(image.data, track.sectors);
        ++number;
    }
    std::ofstream(image.bin, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data.data()),
               static_cast<std::streamsize>(image.data.size()));
    std::ofstream(image.cue, std::ios::binary) << cue;
    return image;
}

}  // namespace quil::test
