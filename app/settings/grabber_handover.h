#pragma once

// Hands the stored options of one output format to a freshly created grabber, before the
// operation that builds its chain. Works on any grabber table with the setters of that format:
// a table without SetWavFormat (the media-file grabber's) gets nothing for WAV.

#include <cstdint>

#include "app/settings/format_settings.h"
#include "app/settings/option_tables.h"

namespace quil::settings {

class WmaProfileCatalogue;

template <typename Grabber>
concept TakesWavFormat = requires(Grabber& grabber, int index) {
    grabber.SetWavFormat(index);
};

// The grabber's result of the setter it called; 1 when the format needs none.
template <typename Grabber>
int HandOverOptions(Grabber& grabber, int32_t format, const WmaProfileCatalogue& catalogue) {
    switch (format) {
        case kWav:
            if constexpr (TakesWavFormat<Grabber>) {
                return grabber.SetWavFormat(LoadWavSettings().attribute);
            }
            return 1;
        case kMp3: {
            Mp3Settings mp3 = LoadMp3Settings();
            return grabber.SetMp3Options(mp3.sampleRate, mp3.bitRate, mp3.channelMode, mp3.quality,
                                         mp3.copyright, mp3.crc, mp3.original, mp3.privateBit);
        }
        case kWma: {
            WmaSettings wma = LoadWmaSettings(catalogue);
            return grabber.SetWmaProfile(wma.version, wma.profile.c_str());
        }
        case kOgg: {
            OggSettings ogg = LoadOggSettings();
            return grabber.SetOggOptions(ogg.attribute, ogg.QualityValue(), 0, 0, 0);
        }
        default:
            return 1;
    }
}

}  // namespace quil::settings
