#include "testsupport/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>

namespace quil::test {

std::filesystem::path TestDir() {
    static const std::filesystem::path dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "quiltest.XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        return std::filesystem::path(pattern);
    }();
    return dir;
}

std::filesystem::path MakeTempDir(const std::string& name) {
    auto dir = TestDir() / "tmp" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

bool HavePulse() {
    const char* server = std::getenv("PULSE_SERVER");
    return server && *server;
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        if (output) output->append(buffer, got);
    }
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<int16_t> SineSamples(int rate, int channels, double seconds, double frequency,
                                 double amplitude) {
    size_t frames = static_cast<size_t>(rate * seconds);
    std::vector<int16_t> samples(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        double v = amplitude * std::sin(2 * std::numbers::pi * frequency * i / rate);
        for (int c = 0; c < channels; ++c) samples[i * channels + c] = static_cast<int16_t>(v * 32767);
    }
    return samples;
}

static void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

bool WriteWav(const std::filesystem::path& path, int rate, int channels, int bits,
              const std::vector<uint8_t>& data) {
    std::vector<uint8_t> header;
    header.insert(header.end(), {'R', 'I', 'F', 'F'});
    PutLe(header, 36 + static_cast<uint32_t>(data.size()), 4);
    header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe(header, 16, 4);
    PutLe(header, 1, 2);
    PutLe(header, channels, 2);
    PutLe(header, rate, 4);
    PutLe(header, rate * channels * bits / 8, 4);
    PutLe(header, channels * bits / 8, 2);
    PutLe(header, bits, 2);
    header.insert(header.end(), {'d', 'a', 't', 'a'});
    PutLe(header, static_cast<uint32_t>(data.size()), 4);
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(header.data()), header.size());
    file.write(reinterpret_cast<const char*>(data.data()), data.size());
    return static_cast<bool>(file);
}

bool WriteSineWav(const std::filesystem::path& path, int rate, int channels, double seconds,
                  double frequency) {
    auto samples = SineSamples(rate, channels, seconds, frequency);
    std::vector<uint8_t> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return WriteWav(path, rate, channels, 16, bytes);
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

static uint32_t GetLe(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(p[i]) << (8 * i);
    return value;
}

bool ReadWav(const std::filesystem::path& path, WavData* out) {
    auto bytes = ReadFile(path);
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) ||
        std::memcmp(bytes.data() + 8, "WAVE", 4))
        return false;
    out->riffSize = GetLe(bytes.data() + 4, 4);
    size_t pos = 12;
    bool haveFormat = false;
    while (pos + 8 <= bytes.size()) {
        uint32_t size = GetLe(bytes.data() + pos + 4, 4);
        const uint8_t* body = bytes.data() + pos + 8;
        if (!std::memcmp(bytes.data() + pos, "fmt ", 4) && pos + 8 + 16 <= bytes.size()) {
            out->channels = GetLe(body + 2, 2);
            out->rate = GetLe(body + 4, 4);
            out->bits = GetLe(body + 14, 2);
            haveFormat = true;
        } else if (!std::memcmp(bytes.data() + pos, "data", 4)) {
            out->dataSize = size;
            size_t available = bytes.size() - (pos + 8);
            out->data.assign(body, body + std::min<size_t>(available, size));
            return haveFormat;
        }
        pos += 8 + size + (size & 1);
    }
    return false;
}

double Rms16(const uint8_t* data, size_t bytes) {
    size_t count = bytes / 2;
    if (!count) return 0;
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        int16_t s;
        std::memcpy(&s, data + 2 * i, 2);
        sum += static_cast<double>(s) * s;
    }
    return std::sqrt(sum / count) / 32768.0;
}

}  // namespace quil::test
