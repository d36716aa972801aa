// Rips a track of a disc image to each output format through Quildisc's factory, as the CD page
// calls it, and decodes the files with ffmpeg: WAV holds exactly the track's PCM, the lossy
// formats its tone at its length.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "cdsource/tests/cd_test_util.h"
#include "engine/cd/cd_audio_grabber.h"
#include "platform/window/window.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kToneSectors = 375;  // 5 seconds
constexpr double kToneHz = 440;

// The last audio-only profile of a Windows Media version, as the main program picks its default.
std::string LastAudioProfile(CDAudioGrabber* grabber, int version) {
    int count = 0;
    std::string name;
    if (!grabber->GetProfileCount(version, &count)) return name;
    for (int i = 0; i < count; ++i) {
        quil::engine::WmaProfileInfo info{};
        if (!grabber->GetProfileInfo(version, i, &info) || !info.audioOnly) continue;
        std::vector<char> text(static_cast<size_t>(info.nameLength) + 1);
        std::vector<char> description(static_cast<size_t>(info.descriptionLength) + 1);
        info.name = text.data();
        info.description = description.data();
        if (grabber->GetProfileInfo(version, i, &info)) name = text.data();
    }
    return name;
}

// Decodes a file to 44100 Hz stereo 16-bit samples.
std::vector<int16_t> Decode(const fs::path& file) {
    fs::path raw = file.string() + ".raw";
    std::string command = "ffmpeg -v error -y -i '" + file.string() +
                          "' -f s16le -acodec pcm_s16le -ac 2 -ar 44100 '" + raw.string() + "'";
    EXPECT_EQ(quil::test::RunCommand(command), 0) << command;
    auto bytes = quil::test::ReadFile(raw);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return samples;
}

class CdRipTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        ASSERT_EQ(quil::test::CallTrackpump("DllRegisterServer"), S_OK);
        dir_ = quil::test::MakeTempDir("rip");
        image_ = quil::test::WriteCdImage(dir_, "disc",
                                          {{true, 0, 100, 0}, {true, 0, kToneSectors, kToneHz}});
        letter_ = quil::test::MountImages({image_.cue})[0];
        grabber_ = static_cast<CDAudioGrabber*>(CDAudioGrabberCreateInstance());
        ASSERT_TRUE(grabber_);
        ASSERT_EQ(grabber_->CreateGraph(), 1);
    }
    void TearDown() override {
        grabber_->ReleaseGraph();
        grabber_->Destroy();
    }

    // The CD page's grab sequence for one track; the event code that ended it.
    long Grab(int track, int format, const fs::path& output) {
        quil::QueueWindow window;
        EXPECT_EQ(grabber_->SetDrive(letter_), 1);
        EXPECT_EQ(grabber_->LockDoor(1), 1);
        grabber_->Stop();
        grabber_->ClearOutput();
        switch (format) {
            case 0:
                grabber_->SetWavFormat(2);
                break;
            case 1:
                grabber_->SetMp3Options(44100, 128, 0, 5, 0, 0, 0, 0);
                break;
            case 2:
                grabber_->SetWmaProfile(7, LastAudioProfile(grabber_, 7).c_str());
                break;
            case 3:
                grabber_->SetOggOptions(2, 6.0f, 0, 0, 0);
                break;
        }
        int capability = 0;
        EXPECT_EQ(grabber_->GetReadCapability(&capability), 1);
        EXPECT_EQ(grabber_->SetSectorsPerRead(capability), 1);
        EXPECT_EQ(grabber_->SetNotifyWindow(window.handle(), 2138), 1);
        EXPECT_EQ(grabber_->SetCurrentTrack(track), 1);
        EXPECT_EQ(grabber_->SetOutputFile(output.c_str()), 1);
        if (grabber_->BuildOutput(1, 0, format) != 1 || grabber_->Run() != 1) {
            grabber_->Stop();
            grabber_->ClearOutput();
            return 0;
        }
        long ending = 0;
        for (int i = 0; i < 1200 && !ending; ++i) {
            if (!window.Take(std::chrono::milliseconds(100))) continue;
            long code, p1, p2;
            while (grabber_->GetEvent(&code, &p1, &p2)) {
                grabber_->FreeEventParams(code, p1, p2);
                if (code == 1 || code == 3) ending = code;
            }
        }
        grabber_->Stop();
        return ending;
    }

    fs::path dir_;
    quil::test::CdImage image_;
    int letter_ = 0;
    CDAudioGrabber* grabber_ = nullptr;
};

TEST_P(CdRipTest, DecodedFileMatchesTheTrack) {
    const char* extensions[] = {".wav", ".mp3", ".wma", ".ogg"};
    int format = GetParam();
    fs::path output = dir_ / (std::string("Track 02") + extensions[format]);
    ASSERT_EQ(Grab(2, format, output), 1);
    ASSERT_TRUE(fs::exists(output));
    auto decoded = Decode(output);

    const double frames = kToneSectors * 588.0;
    if (format == 0) {
        quil::test::WavData wav;
        ASSERT_TRUE(quil::test::ReadWav(output, &wav));
        EXPECT_TRUE(wav.data == quil::test::BinSectors(image_, 100, kToneSectors));
        ASSERT_EQ(decoded.size(), static_cast<size_t>(frames * 2));
        EXPECT_EQ(std::memcmp(decoded.data(), wav.data.data(), wav.data.size()), 0);
        return;
    }
    // Lossy codecs pad and delay a little; the length, level and pitch must hold.
    double decodedFrames = static_cast<double>(decoded.size() / 2);
    EXPECT_NEAR(decodedFrames, frames, 44100 * 0.15);
    double sumSquares = 0;
    // Cycles counted with hysteresis, so coding noise around zero does not add crossings.
    int rising = 0;
    bool low = false;
    for (size_t i = 0; i < decoded.size(); i += 2) {
        double value = decoded[i] / 32768.0;
        sumSquares += value * value;
        if (value < -0.1) low = true;
        if (low && value > 0.1) {
            ++rising;
            low = false;
        }
    }
    EXPECT_NEAR(std::sqrt(sumSquares / decodedFrames), 0.5 / std::sqrt(2.0), 0.04);
    EXPECT_NEAR(rising, kToneHz * frames / 44100, kToneHz * 0.05);
}

std::string FormatName(const ::testing::TestParamInfo<int>& info) {
    const char* names[] = {"Wav", "Mp3", "Wma", "Ogg"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Formats, CdRipTest, ::testing::Values(0, 1, 2, 3), FormatName);

// A rip of a track the disc does not have fails at the start instead of writing an empty file.
TEST_F(CdRipTest, AMissingTrackCannotStart) {
    fs::path output = dir_ / "missing.wav";
    EXPECT_EQ(Grab(9, 0, output), 0);
    EXPECT_EQ(grabber_->GetState(), 3);
}

// Paths are taken whole up to PATH_MAX, whatever bytes they hold; a longer one is refused
// rather than cut to the name of another file.
TEST_F(CdRipTest, LongPathsAreTakenWholeOrRefused) {
    fs::path folder = dir_ / std::string(200, 'a') / std::string(200, 'b');
    fs::create_directories(folder);
    fs::path output = folder / (std::string(150, 'c') +
                                " Tr\xE4"
                                "ck 02.wav");
    ASSERT_GT(output.string().size(), 560u);
    ASSERT_EQ(Grab(2, 0, output), 1);
    quil::test::WavData wav;
    ASSERT_TRUE(quil::test::ReadWav(output, &wav));
    EXPECT_TRUE(wav.data == quil::test::BinSectors(image_, 100, kToneSectors));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    std::string tooLong = (folder / std::string(PATH_MAX, 'd')).string() + ".wav";
    EXPECT_EQ(grabber_->SetOutputFile(tooLong.c_str()), 0);
    // The refused path leaves no earlier one behind to be written instead.
    EXPECT_EQ(grabber_->BuildOutput(1, 0, 0), 0);
    grabber_->ClearOutput();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

}  // namespace
