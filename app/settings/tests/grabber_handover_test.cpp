// Stored options reaching a grabber: the values and setters per format, and a real grab by the
// media-file grabber whose output shows the MP3 options it was handed.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/settings/format_settings.h"
#include "app/settings/grabber_handover.h"
#include "app/settings/tests/settings_test_util.h"
#include "app/settings/wma_profile_catalogue.h"
#include "engine/media/file_audio_grabber.h"
#include "platform/window/window.h"
#include "testsupport/test_support.h"

namespace quil::settings::test {
namespace {

static_assert(!TakesWavFormat<FileAudioGrabber>, "the media-file grabber takes no WAV format");

// The setters of the CD and live grabber tables, keeping what they were given.
struct SetterLog {
    std::vector<std::string> calls;
    int wavIndex = -1;
    std::vector<int> mp3;
    int wmaVersion = 0;
    std::string wmaName;
    int oggAttribute = -1;
    float oggQuality = -1;

    int SetWavFormat(int index) {
        calls.push_back("SetWavFormat");
        wavIndex = index;
        return 1;
    }
    int SetMp3Options(int rate, int bitRate, int mode, int quality, int copyright, int crc,
                      int original, int privateBit) {
        calls.push_back("SetMp3Options");
        mp3 = {rate, bitRate, mode, quality, copyright, crc, original, privateBit};
        return 1;
    }
    int SetWmaProfile(int version, const char* name) {
        calls.push_back("SetWmaProfile");
        wmaVersion = version;
        wmaName = name;
        return 1;
    }
    int SetOggOptions(int attribute, float quality, int32_t, int32_t, int32_t) {
        calls.push_back("SetOggOptions");
        oggAttribute = attribute;
        oggQuality = quality;
        return 1;
    }
};

using Handover = FreshSettings;

TEST_F(Handover, EachFormatCallsOnlyItsOwnSetterWithTheStoredValues) {
    SaveWavSettings({1, 27});
    SaveMp3Settings({32000, 96, 1, 7, 1, 0, 1, 0});
    SaveOggSettings({33, 3});
    WmaProfileCatalogue catalogue;
    catalogue.Add(7, {true, 4, "Last", 0, ""});

    SetterLog wav, mp3, wma, ogg, other;
    EXPECT_EQ(HandOverOptions(wav, kWav, catalogue), 1);
    EXPECT_EQ(wav.calls, std::vector<std::string>{"SetWavFormat"});
    EXPECT_EQ(wav.wavIndex, 27);  // the attribute; the preset stays behind

    HandOverOptions(mp3, kMp3, catalogue);
    EXPECT_EQ(mp3.calls, std::vector<std::string>{"SetMp3Options"});
    EXPECT_EQ(mp3.mp3, (std::vector<int>{32000, 96, 1, 7, 1, 0, 1, 0}));

    HandOverOptions(wma, kWma, catalogue);
    EXPECT_EQ(wma.calls, std::vector<std::string>{"SetWmaProfile"});
    EXPECT_EQ(wma.wmaVersion, 7);
    EXPECT_EQ(wma.wmaName, "Last");

    HandOverOptions(ogg, kOgg, catalogue);
    EXPECT_EQ(ogg.calls, std::vector<std::string>{"SetOggOptions"});
    EXPECT_EQ(ogg.oggAttribute, 33);
    EXPECT_FLOAT_EQ(ogg.oggQuality, 3.0f);

    EXPECT_EQ(HandOverOptions(other, 9, catalogue), 1);
    EXPECT_TRUE(other.calls.empty());
}

TEST_F(Handover, StoredWmaProfileAndUntouchedDefaults) {
    SaveWmaSettings({9, "Nine"});
    SetterLog wma, ogg, wav;
    HandOverOptions(wma, kWma, WmaProfileCatalogue{});
    EXPECT_EQ(wma.wmaVersion, 9);
    EXPECT_EQ(wma.wmaName, "Nine");
    HandOverOptions(ogg, kOgg, WmaProfileCatalogue{});
    EXPECT_EQ(ogg.oggAttribute, 2);
    EXPECT_FLOAT_EQ(ogg.oggQuality, 6.0f);
    HandOverOptions(wav, kWav, WmaProfileCatalogue{});
    EXPECT_EQ(wav.wavIndex, 2);
}

std::string Probe(const std::string& path, const char* entries) {
    std::string out;
    quil::test::RunCommand(std::string("ffprobe -v error -select_streams a:0 -show_entries ") +
                               entries + " -of csv=p=0 '" + path + "'",
                           &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

struct MediaGrabber {
    FileAudioGrabber* g = static_cast<FileAudioGrabber*>(FileAudioGrabberCreateInstance());
    ~MediaGrabber() {
        g->ReleaseGraph();
        g->Destroy();
    }
};

bool GrabToEnd(FileAudioGrabber* grabber) {
    QueueWindow window;
    if (grabber->SetNotifyWindow(window.handle(), 2139) != 1 || grabber->Run() != 1) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!window.Take(std::chrono::milliseconds(200))) continue;
        long code, p1, p2;
        while (grabber->GetEvent(&code, &p1, &p2) == 1) {
            grabber->FreeEventParams(code, p1, p2);
            if (code == 1) return true;
            if (code == 3) return false;
        }
    }
    return false;
}

TEST_F(Handover, TheMediaGrabberEncodesWithTheStoredMp3Options) {
    auto dir = quil::test::MakeTempDir("handover");
    std::string input = (dir / "in.wav").string(), output = (dir / "out.mp3").string();
    ASSERT_TRUE(quil::test::WriteSineWav(input, 44100, 2, 2.0));
    SaveMp3Settings({22050, 64, 3, 5, 0, 0, 0, 0});

    MediaGrabber grabber;
    EXPECT_EQ(HandOverOptions(*grabber.g, kMp3, WmaProfileCatalogue{}), 1);
    ASSERT_EQ(grabber.g->Open(0, 0, kMp3, input.c_str(), output.c_str(), 0, 0), 1);
    ASSERT_TRUE(GrabToEnd(grabber.g));
    grabber.g->Stop();
    grabber.g->ReleaseGraph();
    EXPECT_EQ(Probe(output, "stream=codec_name,sample_rate,channels,bit_rate"),
              "mp3,22050,1,64000");
}

}  // namespace
}  // namespace quil::settings::test
