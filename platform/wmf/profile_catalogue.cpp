#include "platform/wmf/profile_catalogue.h"

#include <array>
#include <string_view>

namespace quil::wmf {

namespace {

// What one profile holds, before names are made: up to two audio streams and an optional
// video stream.
struct Recipe {
    const wchar_t* use;  // what the quality is good for, shown in the name
    DWORD audioKbps;
    DWORD sampleRate;
    WORD channels;
    int audioStreams = 1;
    DWORD videoKbps = 0;
    LONG width = 0, height = 0;
    DWORD fps = 0;
};

// The encoders need at least 24 kbit/s per stream; above 192 kbit/s the ASF packets carry one
// block each and the file grows far beyond the stated rate, so the catalogue stops there.
constexpr Recipe kVersion4[] = {
    {L"Speech", 24, 16000, 1},
    {L"Speech", 32, 22050, 1},
    {L"Music, low quality", 32, 22050, 2},
    {L"FM radio quality", 48, 32000, 2},
    {L"Near CD quality", 64, 44100, 2},
    {L"Video for modems", 32, 22050, 1, 1, 56, 176, 144, 15},
    {L"CD quality", 96, 44100, 2},
    {L"Two languages", 64, 44100, 2, 2},
    {L"CD quality", 128, 44100, 2},
    {L"Video for broadband", 64, 44100, 2, 1, 250, 320, 240, 25},
};

constexpr Recipe kVersion7[] = {
    {L"Speech", 24, 16000, 1},
    {L"Speech", 32, 22050, 1},
    {L"Music, low quality", 32, 22050, 2},
    {L"FM radio quality", 48, 32000, 2},
    {L"Near CD quality", 64, 44100, 2},
    {L"Video for modems", 32, 22050, 1, 1, 56, 176, 144, 15},
    {L"CD quality", 96, 44100, 2},
    {L"Two languages", 64, 44100, 2, 2},
    {L"CD quality", 128, 44100, 2},
    {L"Video for broadband", 64, 44100, 2, 1, 250, 320, 240, 25},
};

constexpr Recipe kVersion8[] = {
    {L"Speech", 24, 16000, 1},
    {L"Speech", 32, 22050, 1},
    {L"Music, low quality", 32, 22050, 2},
    {L"FM radio quality", 48, 32000, 2},
    {L"Near CD quality", 64, 44100, 2},
    {L"Video for modems", 32, 22050, 1, 1, 56, 176, 144, 15},
    {L"CD quality", 96, 44100, 2},
    {L"Two languages", 64, 44100, 2, 2},
    {L"CD quality", 128, 44100, 2},
    {L"High quality", 160, 44100, 2},
    {L"High quality", 192, 44100, 2},
    {L"Video for broadband", 64, 44100, 2, 1, 250, 320, 240, 25},
    {L"Two languages", 96, 44100, 2, 2},
};

constexpr Recipe kVersion9[] = {
    {L"Speech", 24, 16000, 1},
    {L"Speech", 32, 22050, 1},
    {L"Music, low quality", 32, 22050, 2},
    {L"FM radio quality", 48, 32000, 2},
    {L"FM radio quality", 48, 44100, 1},
    {L"Near CD quality", 64, 44100, 2},
    {L"Video for modems", 32, 22050, 1, 1, 56, 176, 144, 15},
    {L"CD quality", 96, 44100, 2},
    {L"Two languages", 64, 44100, 2, 2},
    {L"CD quality", 128, 44100, 2},
    {L"CD quality", 128, 48000, 2},
    {L"High quality", 160, 44100, 2},
    {L"High quality", 192, 44100, 2},
    {L"High quality", 192, 48000, 2},
    {L"Video for broadband", 64, 44100, 2, 1, 250, 320, 240, 25},
    {L"Video for broadband", 128, 44100, 2, 1, 500, 640, 480, 30},
    {L"Two languages", 96, 44100, 2, 2},
};

std::wstring RateName(DWORD rate) {
    switch (rate) {
        case 22050:
            return L"22 kHz";
        case 44100:
            return L"44 kHz";
        case 11025:
            return L"11 kHz";
        default:
            return std::to_wstring(rate / 1000) + L" kHz";
    }
}

std::wstring ChannelName(WORD channels) {
    return channels == 1 ? L"mono" : L"stereo";
}

std::wstring AudioText(const std::wstring& codec, const Recipe& r) {
    return codec + L" at " + std::to_wstring(r.audioKbps) + L" kbit/s, " +
           std::to_wstring(r.sampleRate) + L" Hz, " + ChannelName(r.channels);
}

ProfileDescription Make(WMT_VERSION version, const Recipe& r) {
    bool v4 = version == WMT_VER_4_0;
    std::wstring codec = v4 ? L"Windows Media Audio 1" : L"Windows Media Audio 2";
    std::wstring audio = std::to_wstring(r.audioKbps) + L" kbps, " + RateName(r.sampleRate) +
                         L", " + ChannelName(r.channels);
    ProfileDescription p{version, {}, {}, {}};
    StreamDescription audioStream{WMMEDIATYPE_Audio,
                                  v4 ? WMMEDIASUBTYPE_WMAudioV1 : WMMEDIASUBTYPE_WMAudioV2,
                                  r.audioKbps * 1000, r.sampleRate, r.channels};
    if (r.videoKbps) {
        std::wstring size = std::to_wstring(r.width) + L" x " + std::to_wstring(r.height);
        p.name = std::wstring(r.use) + L": video " + std::to_wstring(r.videoKbps) + L" kbps, " +
                 size + L", audio " + audio;
        p.description = L"Audio and video. Windows Media Video " + std::wstring(v4 ? L"1" : L"2") +
                        L" at " + std::to_wstring(r.videoKbps) + L" kbit/s, " + size + L", " +
                        std::to_wstring(r.fps) + L" frames per second, with " +
                        AudioText(codec, r) + L".";
        p.streams.push_back(audioStream);
        p.streams.push_back({WMMEDIATYPE_Video, v4 ? WMMEDIASUBTYPE_WMV1 : WMMEDIASUBTYPE_WMV2,
                             r.videoKbps * 1000, 0, 0, r.width, r.height, r.fps});
    } else if (r.audioStreams == 2) {
        p.name = std::wstring(r.use) + L": 2 x " + audio;
        p.description =
            L"Two audio streams, for example two languages, each " + AudioText(codec, r) + L".";
        p.streams.assign(2, audioStream);
    } else {
        p.name = std::wstring(r.use) + L": " + audio;
        p.description = L"Audio only. " + AudioText(codec, r) + L".";
        p.streams.push_back(audioStream);
    }
    return p;
}

template <size_t N>
std::vector<ProfileDescription> Build(WMT_VERSION version, const Recipe (&recipes)[N]) {
    std::vector<ProfileDescription> profiles;
    for (const auto& r : recipes) profiles.push_back(Make(version, r));
    return profiles;
}

}  // namespace

bool IsSystemProfileVersion(WMT_VERSION version) {
    return version == WMT_VER_4_0 || version == WMT_VER_7_0 || version == WMT_VER_8_0 ||
           version == WMT_VER_9_0;
}

std::span<const ProfileDescription> SystemProfiles(WMT_VERSION version) {
    static const std::array<std::vector<ProfileDescription>, 4> catalogue = {
        Build(WMT_VER_4_0, kVersion4), Build(WMT_VER_7_0, kVersion7), Build(WMT_VER_8_0, kVersion8),
        Build(WMT_VER_9_0, kVersion9)};
    switch (version) {
        case WMT_VER_4_0:
            return catalogue[0];
        case WMT_VER_7_0:
            return catalogue[1];
        case WMT_VER_8_0:
            return catalogue[2];
        case WMT_VER_9_0:
            return catalogue[3];
        default:
            return {};
    }
}

}  // namespace quil::wmf
