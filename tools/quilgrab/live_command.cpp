// quilgrab live: lists the recording devices, or records one of them into a WAV, MP3, WMA or
// OGG file through the live grabber library, until a time is up or Ctrl-C.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/core/grabber_types.h"
#include "engine/live/live_audio_grabber.h"
#include "platform/audio/recording_devices.h"
#include "platform/com/strings.h"
#include "platform/window/window.h"
#include "platform/wmf/profile_manager.h"
#include "tools/quilgrab/commands.h"

namespace quil::grab {

namespace {

constexpr const char* kLiveUsage =
    "Usage: quilgrab live --list\n"
    "       quilgrab live --device NAME --format wav|mp3|wma|ogg [options]\n"
    "Options:\n"
    "  --device NAME        a device as --list shows it, or the sound server's source name\n"
    "  --line NAME          the recording line to record from (default: the enabled one)\n"
    "  --level L            the line's recording level, 0.0 to 1.0\n"
    "  --seconds N          stop after N seconds (default: at Ctrl-C)\n"
    "  --out DIR            output folder (default: the current folder)\n"
    "  --wav-format I       PCM format index 0 to 35 for WAV, WMA and OGG (default 2:\n"
    "                       44100 Hz, 16 bits, stereo)\n"
    "  --mp3-bitrate N      MP3 bit rate in kbit/s (default 128)\n"
    "  --mp3-rate N         MP3 sample rate in Hz (default 44100)\n"
    "  --mp3-quality N      LAME quality 0 (best) to 9 (fastest) (default 5)\n"
    "  --wma-version V      Windows Media version 4, 7, 8 or 9 (default 7)\n"
    "  --wma-profile NAME   a profile name as \"quilgrab profiles\" lists it\n"
    "  --ogg-quality Q      Vorbis quality 0 to 10 (default 6)\n";

constexpr UINT kLiveEvent = 2137;
constexpr long kComplete = 1, kErrorAbort = 3, kDeviceLost = 31;
const char* kExtensions[] = {".wav", ".mp3", ".wma", ".ogg"};

std::atomic<bool> interrupted{false};

void OnInterrupt(int) {
    interrupted = true;
}

struct Options {
    bool list = false;
    std::string device, line;
    std::optional<double> level;
    int format = -1;
    double seconds = 0;
    std::string outDir = ".";
    int wavFormat = 2;
    int mp3Bitrate = 128, mp3Rate = 44100, mp3Quality = 5;
    int wmaVersion = 7;
    std::string wmaProfile;
    float oggQuality = 6.0f;
};

struct Grabber {
    LiveAudioGrabber* g = static_cast<LiveAudioGrabber*>(LiveAudioGrabberCreateInstance());
    ~Grabber() {
        if (!g) return;
        g->ReleaseGraph();
        g->Destroy();
    }
    LiveAudioGrabber* operator->() { return g; }
};

bool ParseNumber(const char* text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end && *end == '\0' && end != text;
}

// The last audio-only system profile of a version, as the program's default.
std::string DefaultWmaProfile(int version) {
    ComPtr<IWMProfileManager> manager;
    if (FAILED(WMCreateProfileManager(manager.Put()))) return {};
    auto manager2 = QueryAs<IWMProfileManager2>(manager.Get());
    WMT_VERSION wanted = version == 4   ? WMT_VER_4_0
                         : version == 8 ? WMT_VER_8_0
                         : version == 9 ? WMT_VER_9_0
                                        : WMT_VER_7_0;
    if (!manager2 || FAILED(manager2->SetSystemProfileVersion(wanted))) return {};
    DWORD count = 0;
    manager->GetSystemProfileCount(&count);
    std::string last;
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IWMProfile> profile;
        DWORD streams = 0;
        ComPtr<IWMStreamConfig> stream;
        GUID type = GUID_NULL;
        if (FAILED(manager->LoadSystemProfile(i, profile.Put()))) continue;
        profile->GetStreamCount(&streams);
        if (streams != 1 || FAILED(profile->GetStream(0, stream.Put()))) continue;
        stream->GetStreamType(&type);
        if (type != MEDIATYPE_Audio) continue;
        DWORD length = 0;
        profile->GetName(nullptr, &length);
        std::vector<WCHAR> name(length + 1, 0);
        profile->GetName(name.data(), &length);
        last = Narrow(name.data());
    }
    return last;
}

int ListDevices() {
    Grabber grabber;
    if (!grabber.g || !grabber->BeginDeviceEnumeration()) {
        std::fprintf(stderr, "quilgrab: no recording devices (is a sound server running?)\n");
        return 1;
    }
    std::vector<std::string> names;
    const char* name = nullptr;
    while (grabber->NextDeviceName(&name)) names.push_back(name);
    for (const std::string& device : names) {
        auto info = audio::FindRecordingDevice(device);
        std::printf("%s\n", device.c_str());
        if (info)
            std::printf("    source: %s%s\n", info->sourceName.c_str(),
                        info->monitor ? " (records what is played)" : "");
        Grabber lines;
        if (!lines->SelectDevice(device.c_str(), 0)) continue;
        const InputLineList* list = lines->GetInputLines();
        for (int i = 0; i < list->count; ++i) {
            const InputLine& line = list->lines[i];
            double level = 0;
            if (line.mixer) line.mixer->get_MixLevel(&level);
            std::printf("    line %d: %s%s, level %.0f%%\n", line.id, line.name,
                        line.enabled ? " (enabled)" : "", level * 100);
        }
    }
    return 0;
}

std::string OutputPath(const Options& options) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d %H%M%S", &local);
    std::filesystem::path base =
        std::filesystem::path(options.outDir) / ("live " + std::string(stamp));
    std::string extension = kExtensions[options.format];
    // Never overwrite an earlier recording.
    std::filesystem::path candidate = base.string() + extension;
    for (int n = 2; std::filesystem::exists(candidate); ++n)
        candidate = base.string() + " (" + std::to_string(n) + ")" + extension;
    return candidate.string();
}

int Record(const Options& options) {
    std::string device = options.device;
    if (!audio::FindRecordingDevice(device))
        if (auto bySource = audio::FindRecordingSource(device)) device = bySource->name;
    std::string output = OutputPath(options);
    if (output.size() >= static_cast<size_t>(quil::engine::kPathBytes)) {
        std::fprintf(stderr, "quilgrab: the output path is longer than %d bytes: %s\n",
                     quil::engine::kPathBytes - 1, output.c_str());
        return 1;
    }
    Grabber grabber;
    if (!grabber.g) return 1;
    if (!grabber->SelectDevice(device.c_str(), 0)) {
        std::fprintf(stderr, "quilgrab: %s is invalid. Please check the audio capture device.\n",
                     options.device.c_str());
        return 1;
    }
    if (!options.line.empty() && !grabber->EnableInputLineByName(options.line.c_str(), 1)) {
        std::fprintf(stderr, "quilgrab: %s has no recording line \"%s\"\n", device.c_str(),
                     options.line.c_str());
        return 1;
    }
    if (options.level && !grabber->SetInputLevel(*options.level))
        std::fprintf(stderr, "quilgrab: the recording level could not be set\n");
    grabber->SetWavFormat(options.wavFormat);
    grabber->SetMp3Options(options.mp3Rate, options.mp3Bitrate, 0, options.mp3Quality, 0, 0, 0, 0);
    grabber->SetOggOptions(options.wavFormat, options.oggQuality, 0, 0, 0);
    std::string profile = options.wmaProfile;
    if (options.format == 2 && profile.empty()) profile = DefaultWmaProfile(options.wmaVersion);
    grabber->SetWmaProfile(options.wmaVersion, profile.c_str());

    QueueWindow window;
    if (!grabber->BuildGraph(options.format, output.c_str()) ||
        !grabber->SetNotifyWindow(window.handle(), kLiveEvent) || !grabber->Run()) {
        std::fprintf(stderr, "quilgrab: recording from %s failed\n", device.c_str());
        return 1;
    }
    PCMWAVEFORMAT format{};
    grabber->GetCaptureFormat(&format);
    std::fprintf(stderr, "Recording %s (%u Hz, %u bits, %s) into %s\n", device.c_str(),
                 format.nSamplesPerSec, format.wBitsPerSample,
                 format.nChannels > 1 ? "stereo" : "mono", output.c_str());
    bool terminal = isatty(STDERR_FILENO);
    auto started = std::chrono::steady_clock::now();
    int result = 0;
    bool done = false;
    while (!done) {
        double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (interrupted || (options.seconds > 0 && elapsed >= options.seconds)) break;
        if (window.Take(std::chrono::milliseconds(100))) {
            long code, p1, p2;
            while (grabber->GetEvent(&code, &p1, &p2)) {
                grabber->FreeEventParams(code, p1, p2);
                if (code == kDeviceLost && p2 == 0) {
                    std::fprintf(stderr, "\nquilgrab: %s is lost; the recording so far is kept\n",
                                 device.c_str());
                    result = 1;
                    done = true;
                } else if (code == kErrorAbort) {
                    bool full = static_cast<int32_t>(p1) == static_cast<int32_t>(0x80070070);
                    std::fprintf(stderr, "\nquilgrab: the recording failed: %s (0x%08X)\n",
                                 full ? "the disk is full" : "error", static_cast<unsigned>(p1));
                    result = 1;
                    done = true;
                } else if (code == kComplete) {
                    done = true;
                }
            }
        }
        if (terminal) {
            std::error_code error;
            auto size = std::filesystem::file_size(output, error);
            std::fprintf(stderr, "\r%8.1f s  %10llu bytes ", elapsed,
                         static_cast<unsigned long long>(error ? 0 : size));
        }
    }
    if (interrupted) std::fprintf(stderr, "\nquilgrab: interrupted, keeping what was recorded\n");
    grabber->Stop();
    grabber->ReleaseGraph();
    if (terminal) std::fprintf(stderr, "\n");
    std::printf("%s\n", output.c_str());
    return result;
}

}  // namespace

int RunLiveCommand(std::span<char* const> arguments) {
    Options options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        auto value = [&]() -> const char* {
            return i + 1 < arguments.size() ? arguments[++i] : nullptr;
        };
        double number = 0;
        if (argument == "--help" || argument == "-h") {
            std::fputs(kLiveUsage, stdout);
            return 0;
        } else if (argument == "--list") {
            options.list = true;
        } else if (argument == "--format") {
            const char* v = value();
            std::string f = v ? v : "";
            options.format = f == "wav" ? 0 : f == "mp3" ? 1 : f == "wma" ? 2 : f == "ogg" ? 3 : -1;
            if (options.format < 0) {
                std::fprintf(stderr, "quilgrab: unknown format \"%s\"\n", f.c_str());
                return 2;
            }
        } else if (argument == "--device" || argument == "--line" || argument == "--out" ||
                   argument == "--wma-profile") {
            const char* v = value();
            if (!v) {
                std::fprintf(stderr, "quilgrab: %s needs a value\n", argument.c_str());
                return 2;
            }
            if (argument == "--device") options.device = v;
            if (argument == "--line") options.line = v;
            if (argument == "--out") options.outDir = v;
            if (argument == "--wma-profile") options.wmaProfile = v;
        } else if (argument == "--seconds" || argument == "--duration" || argument == "--level" ||
                   argument == "--wav-format" || argument == "--mp3-bitrate" ||
                   argument == "--mp3-rate" || argument == "--mp3-quality" ||
                   argument == "--wma-version" || argument == "--ogg-quality") {
            const char* v = value();
            if (!v || !ParseNumber(v, &number)) {
                std::fprintf(stderr, "quilgrab: %s needs a number\n", argument.c_str());
                return 2;
            }
            if (argument == "--seconds" || argument == "--duration") options.seconds = number;
            if (argument == "--level") options.level = number;
            if (argument == "--wav-format") options.wavFormat = static_cast<int>(number);
            if (argument == "--mp3-bitrate") options.mp3Bitrate = static_cast<int>(number);
            if (argument == "--mp3-rate") options.mp3Rate = static_cast<int>(number);
            if (argument == "--mp3-quality") options.mp3Quality = static_cast<int>(number);
            if (argument == "--wma-version") options.wmaVersion = static_cast<int>(number);
            if (argument == "--ogg-quality") options.oggQuality = static_cast<float>(number);
        } else {
            std::fprintf(stderr, "quilgrab: unknown option %s\n\n%s", argument.c_str(), kLiveUsage);
            return 2;
        }
    }
    if (options.list) return ListDevices();
    if (options.device.empty() || options.format < 0) {
        std::fputs(kLiveUsage, stderr);
        return 2;
    }
    if (options.wavFormat < 0 || options.wavFormat > 35 ||
        (options.level && !(*options.level >= 0.0 && *options.level <= 1.0))) {
        std::fprintf(stderr, "quilgrab: --wav-format takes 0 to 35 and --level 0.0 to 1.0\n");
        return 2;
    }
    std::error_code error;
    std::filesystem::create_directories(options.outDir, error);
    signal(SIGINT, OnInterrupt);
    signal(SIGTERM, OnInterrupt);
    return Record(options);
}

}  // namespace quil::grab
