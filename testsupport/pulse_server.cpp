#include "testsupport/pulse_server.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "testsupport/test_support.h"

namespace quil::test {

namespace {

std::string UniqueTag(const std::string& tag) {
    static std::atomic<int> counter{0};
    return "quil_" + tag + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
}

std::string Trim(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

long LoadModule(const std::string& arguments) {
    int status = 0;
    std::string out = Trim(Pactl("load-module " + arguments, &status));
    if (status != 0 || out.empty()) return -1;
    return std::strtol(out.c_str(), nullptr, 10);
}

// "Volume: front-left: 32768 /  50% / ..." -> 32768
std::optional<uint32_t> FirstVolume(const std::string& text) {
    auto colon = text.find(':', text.find("Volume:") + 7);
    if (text.find("Volume:") == std::string::npos || colon == std::string::npos)
        return std::nullopt;
    return static_cast<uint32_t>(std::strtoul(text.c_str() + colon + 1, nullptr, 10));
}

}  // namespace

std::string Pactl(const std::string& arguments, int* status) {
    std::string out;
    int result = RunCommand("pactl " + arguments + " 2>/dev/null", &out);
    if (status) *status = result;
    return out;
}

NullSink::NullSink(const std::string& tag) : name_(UniqueTag(tag)) {
    description_ = "Quillet_" + name_.substr(5);
    module_ = LoadModule("module-null-sink sink_name=" + name_ +
                         " sink_properties=device.description=" + description_);
}

NullSink::~NullSink() {
    Unload();
}

void NullSink::Unload() {
    if (module_ >= 0) Pactl("unload-module " + std::to_string(module_));
    module_ = -1;
}

NullSource::NullSource(const std::string& tag) : name_(UniqueTag(tag)) {
    description_ = "Quillet_" + name_.substr(5);
}

NullSource::~NullSource() {
    Unload();
}

bool NullSource::Load() {
    if (module_ < 0)
        module_ =
            LoadModule("module-null-source source_name=" + name_ + " description=" + description_);
    return module_ >= 0;
}

void NullSource::Unload() {
    if (module_ >= 0) Pactl("unload-module " + std::to_string(module_));
    module_ = -1;
}

TonePlayer::TonePlayer(const std::string& sink, double frequency, double /*seconds*/)
    : sink_(sink) {
    // The server makes the tone itself: a player process with a small buffer drops out on a busy
    // machine, and its gaps would read as audio the recorder lost.
    module_ = LoadModule("module-sine sink=" + sink +
                         " frequency=" + std::to_string(std::lround(frequency)));
    // A silent stream asking for 20 ms keeps the sink (and its monitor) at a small latency, as a
    // real player would; when it drops out under load, only silence goes missing.
    anchor_ = fork();
    if (anchor_ == 0) {
        execlp("pacat", "pacat", "--playback", "--raw", "--latency-msec=20", "-d", sink.c_str(),
               "/dev/zero", static_cast<char*>(nullptr));
        _exit(127);
    }
}

TonePlayer::~TonePlayer() {
    if (anchor_ > 0) {
        kill(anchor_, SIGTERM);
        waitpid(anchor_, nullptr, 0);
    }
    if (module_ >= 0) Pactl("unload-module " + std::to_string(module_));
}

bool TonePlayer::WaitAudible(int timeoutMs) const {
    if (module_ < 0) return false;
    // A fresh null sink hands its monitor the first block only after about two seconds; the
    // tone is audible once a recorder of the monitor hears it.
    std::string command = "timeout " + std::to_string(timeoutMs / 1000 + 1) +
                          " parec --raw --format=s16le --rate=44100 --channels=2 "
                          "--latency-msec=20 -d " +
                          sink_ + ".monitor 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    bool heard = false;
    int16_t chunk[2048];
    size_t got;
    while (!heard && (got = fread(chunk, sizeof chunk[0], 2048, pipe)) > 0)
        for (size_t i = 0; i < got && !heard; ++i) heard = std::abs(chunk[i]) > 4000;
    pclose(pipe);
    return heard;
}

std::optional<uint32_t> SourceVolume(const std::string& source) {
    int status = 0;
    std::string out = Pactl("get-source-volume " + source, &status);
    if (status != 0) return std::nullopt;
    return FirstVolume(out);
}

std::optional<bool> SourceMute(const std::string& source) {
    int status = 0;
    std::string out = Pactl("get-source-mute " + source, &status);
    if (status != 0) return std::nullopt;
    return out.find("yes") != std::string::npos;
}

std::optional<uint32_t> SinkVolume(const std::string& sink) {
    int status = 0;
    std::string out = Pactl("get-sink-volume " + sink, &status);
    if (status != 0) return std::nullopt;
    return FirstVolume(out);
}

std::string DefaultSink() {
    return Trim(Pactl("get-default-sink"));
}

std::optional<DecodedAudio> DecodeAudio(const std::filesystem::path& path) {
    DecodedAudio audio;
    std::string probe;
    if (RunCommand("ffprobe -v error -select_streams a:0 -show_entries "
                   "stream=codec_name,sample_rate,channels:format=duration -of "
                   "default=noprint_wrappers=1 '" +
                       path.string() + "'",
                   &probe) != 0)
        return std::nullopt;
    std::istringstream lines(probe);
    std::string line;
    while (std::getline(lines, line)) {
        auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        if (key == "codec_name") audio.codec = value;
        if (key == "sample_rate") audio.rate = std::atoi(value.c_str());
        if (key == "channels") audio.channels = std::atoi(value.c_str());
        if (key == "duration") audio.duration = std::atof(value.c_str());
    }
    auto raw = MakeTempDir(UniqueTag("decoded")) / "audio.raw";
    if (RunCommand("ffmpeg -v error -y -i '" + path.string() + "' -f s16le -ac 1 '" + raw.string() +
                   "'") != 0)
        return std::nullopt;
    auto bytes = ReadFile(raw);
    audio.samples.resize(bytes.size() / 2);
    std::memcpy(audio.samples.data(), bytes.data(), audio.samples.size() * 2);
    return audio;
}

double ToneFrequency(const std::vector<int16_t>& samples, int rate) {
    if (samples.size() < 2 || rate <= 0) return 0;
    // A small dead band keeps noise around zero from counting; only the span from the first to
    // the last crossing counts, so silence at either end (encoder padding) does not.
    int crossings = 0;
    int sign = 0;
    size_t first = 0, last = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        int now = samples[i] > 200 ? 1 : samples[i] < -200 ? -1 : 0;
        if (now != 0 && sign != 0 && now != sign) {
            if (crossings++ == 0) first = i;
            last = i;
        }
        if (now != 0) sign = now;
    }
    if (crossings < 3) return 0;
    return (crossings - 1) / 2.0 * rate / static_cast<double>(last - first);
}

}  // namespace quil::test
