#pragma once

// Pieces of the private PulseAudio server (scripts/with-pulse) that sound tests set up and
// read back through pactl: null sinks and sources of their own, a tone played into a sink,
// source and sink volumes.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quil::test {

// pactl with the given arguments; its standard output.
std::string Pactl(const std::string& arguments, int* status = nullptr);

// A null sink of this test (name and description unique to the process); unloaded at the end.
// Its monitor "<name>.monitor" records what is played into it.
class NullSink {
public:
    explicit NullSink(const std::string& tag);
    ~NullSink();
    NullSink(const NullSink&) = delete;
    NullSink& operator=(const NullSink&) = delete;

    bool Loaded() const { return module_ >= 0; }
    void Unload();
    const std::string& name() const { return name_; }
    const std::string& description() const { return description_; }
    std::string monitor() const { return name_ + ".monitor"; }
    // The monitor's description as the server gives it.
    std::string monitorDescription() const { return "Monitor of " + description_; }

private:
    std::string name_, description_;
    long module_ = -1;
};

// A null source (silence) of this test; unload and load it again to make a device go and come.
class NullSource {
public:
    explicit NullSource(const std::string& tag);
    ~NullSource();
    NullSource(const NullSource&) = delete;
    NullSource& operator=(const NullSource&) = delete;

    bool Load();
    void Unload();
    bool Loaded() const { return module_ >= 0; }
    const std::string& name() const { return name_; }
    const std::string& description() const { return description_; }

private:
    std::string name_, description_;
    long module_ = -1;
};

// Plays a sine tone at half scale into a sink (the server's own sine module) until destroyed;
// `seconds` is no longer needed and kept for callers.
class TonePlayer {
public:
    TonePlayer(const std::string& sink, double frequency, double seconds = 60.0);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    bool Playing() const { return module_ >= 0; }
    // Waits until the tone can be heard on the sink's monitor (at most `timeoutMs`).
    bool WaitAudible(int timeoutMs = 5000) const;

private:
    std::string sink_;
    long module_ = -1;
    pid_t anchor_ = -1;
};

std::optional<uint32_t> SourceVolume(const std::string& source);  // first channel
std::optional<bool> SourceMute(const std::string& source);
std::optional<uint32_t> SinkVolume(const std::string& sink);  // first channel
std::string DefaultSink();

// Decodes any audio file with ffmpeg into mono 16-bit samples at its own rate.
struct DecodedAudio {
    int rate = 0;
    int channels = 0;
    std::string codec;
    double duration = 0;           // as ffprobe reports it
    std::vector<int16_t> samples;  // mono
};
std::optional<DecodedAudio> DecodeAudio(const std::filesystem::path& path);

// The frequency of a clean tone, from its zero crossings; 0 for silence.
double ToneFrequency(const std::vector<int16_t>& samples, int rate);

}  // namespace quil::test
