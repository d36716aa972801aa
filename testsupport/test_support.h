#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quil::test {

// The private folder of this test process (XDG folders live below it); removed at exit.
std::filesystem::path TestDir();

// A fresh empty folder below TestDir().
std::filesystem::path MakeTempDir(const std::string& name);

// True when the private PulseAudio server of scripts/with-pulse is reachable.
bool HavePulse();

// Runs a shell command; returns its exit status and, if asked, its standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

// Interleaved 16-bit PCM of a sine tone.
std::vector<int16_t> SineSamples(int rate, int channels, double seconds, double frequency,
                                 double amplitude = 0.5);

// Writes a canonical 44-byte-header PCM WAV file.
bool WriteWav(const std::filesystem::path& path, int rate, int channels, int bits,
              const std::vector<uint8_t>& data);
bool WriteSineWav(const std::filesystem::path& path, int rate, int channels, double seconds,
                  double frequency = 440.0);

struct WavData {
    int rate = 0;
    int channels = 0;
    int bits = 0;
    uint32_t riffSize = 0;
    uint32_t dataSize = 0;  // as the header says
    std::vector<uint8_t> data;  // as the file holds
};
// Reads a RIFF WAV file; false when it is not one.
bool ReadWav(const std::filesystem::path& path, WavData* out);

std::vector<uint8_t> ReadFile(const std::filesystem::path& path);

// Root mean square of 16-bit samples, 0..1.
double Rms16(const uint8_t* data, size_t bytes);

}  // namespace quil::test
