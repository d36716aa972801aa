// quilgrab file / stream / profiles: grabs the audio of media files or stream URLs through the
// media-file grabber library, and lists the WMA profiles.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/grabber_types.h"
#include "engine/media/file_audio_grabber.h"
#include "platform/com/strings.h"
#include "platform/graph/source_file.h"
#include "platform/window/window.h"
#include "platform/wmf/profile_manager.h"
#include "tools/quilgrab/commands.h"

namespace quil::grab {

namespace {

constexpr const char* kFileUsage =
    "Usage: quilgrab file INPUT... --format wav|mp3|wma|ogg [options]\n"
    "       quilgrab stream URL... --format wav|mp3|wma|ogg [options]\n"
    "Options:\n"
    "  --out DIR            output folder (default: the current folder)\n"
    "  --mp3-bitrate N      MP3 bit rate in kbit/s (default 128)\n"
    "  --mp3-rate N         MP3 sample rate in Hz (default 44100)\n"
    "  --mp3-quality N      LAME quality 0 (best) to 9 (fastest) (default 5)\n"
    "  --wma-version V      Windows Media version 4, 7, 8 or 9 (default 7)\n"
    "  --wma-profile NAME   a profile name as \"quilgrab profiles\" lists it\n"
    "  --ogg-quality Q      Vorbis quality 0 to 10 (default 6)\n"
    "  --seconds N          stop a stream after N seconds\n"
    "Output files are named after the input with the date and time of the grab.\n";

std::atomic<bool> interrupted{false};

void OnInterrupt(int) { interrupted = true; }

struct Options {
    std::vector<std::string> inputs;
    int format = -1;
    std::string outDir = ".";
    int mp3Bitrate = 128, mp3Rate = 44100, mp3Quality = 5;
    int wmaVersion = 7;
    std::string wmaProfile;
    float oggQuality = 6.0f;
    double seconds = 0;
};

const char* kExtensions[] = {".wav", ".mp3", ".wma", ".ogg"};

bool ParseNumber(const char* text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end && *end == '\0' && end != text;
}

// All audio-only system profiles of a version, in catalogue order.
std::vector<std::pair<std::string, std::string>> AudioProfiles(int version) {
    std::vector<std::pair<std::string, std::string>> list;
    ComPtr<IWMProfileManager> manager;
    if (FAILED(WMCreateProfileManager(manager.Put()))) return list;
    auto manager2 = QueryAs<IWMProfileManager2>(manager.Get());
    WMT_VERSION wanted = version == 4 ? WMT_VER_4_0 : version == 8 ? WMT_VER_8_0
                         : version == 9 ? WMT_VER_9_0 : WMT_VER_7_0;
    if (!manager2 || FAILED(manager2->SetSystemProfileVersion(wanted))) return list;
    DWORD count = 0;
    manager->GetSystemProfileCount(&count);
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IWMProfile> profile;
        if (FAILED(manager->LoadSystemProfile(i, profile.Put()))) continue;
        DWORD streams = 0;
        profile->GetStreamCount(&streams);
        ComPtr<IWMStreamConfig> stream;
        GUID type = GUID_NULL;
        if (streams != 1 || FAILED(profile->GetStream(0, stream.Put()))) continue;
        stream->GetStreamType(&type);
        if (type != MEDIATYPE_Audio) continue;
        auto text = [&](bool description) {
            DWORD length = 0;
            if (description) profile->GetDescription(nullptr, &length);
            else profile->GetName(nullptr, &length);
            std::vector<WCHAR> buffer(length + 1, 0);
            if (description) profile->GetDescription(buffer.data(), &length);
            else profile->GetName(buffer.data(), &length);
            return Narrow(buffer.data());
        };
        list.emplace_back(text(false), text(true));
    }
    return list;
}

std::string OutputPath(const Options& options, const std::string& input, bool isStream) {
    std::string stem = isStream ? "stream" : std::filesystem::path(input).stem().string();
    if (stem.empty()) stem = "grab";
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d %H%M%S", &local);
    std::filesystem::path base = std::filesystem::path(options.outDir) / (stem + " " + stamp);
    std::string extension = kExtensions[options.format];
    // Never overwrite an earlier grab.
    std::filesystem::path candidate = base.string() + extension;
    for (int n = 2; std::filesystem::exists(candidate); ++n)
        candidate = base.string() + " (" + std::to_string(n) + ")" + extension;
    return candidate.string();
}

int GrabOne(const Options& options, const std::string& input, bool isStream) {
    if (!isStream && CheckSourceFile(input) == HRESULT_FROM_WIN32(ERROR_BAD_FILE_TYPE)) {
        std::fprintf(stderr, "quilgrab: %s is not a regular file (a FIFO, device or folder)\n",
                     input.c_str());
        return 1;
    }
    std::string output = OutputPath(options, input, isStream);
    if (output.size() >= static_cast<size_t>(quil::engine::kPathBytes)) {
        std::fprintf(stderr, "quilgrab: the output path is longer than %d bytes: %s\n",
                     quil::engine::kPathBytes - 1, output.c_str());
        return 1;
    }
    auto* grabber = static_cast<FileAudioGrabber*>(FileAudioGrabberCreateInstance());
    if (!grabber) return 1;
    grabber->SetMp3Options(options.mp3Rate, options.mp3Bitrate, 0, options.mp3Quality, 0, 0, 0, 0);
    grabber->SetOggOptions(2, options.oggQuality, 0, 0, 0);
    std::string profile = options.wmaProfile;
    if (options.format == 2 && profile.empty()) {
        auto profiles = AudioProfiles(options.wmaVersion);
        if (!profiles.empty()) profile = profiles.back().first;
    }
    grabber->SetWmaProfile(options.wmaVersion, profile.c_str());
    int result = 1;
    QueueWindow window;
    int opened = 0;
    {
        // Opening a stream blocks; Ctrl-C or SIGTERM meanwhile stops it through the grabber.
        std::jthread watcher([&](std::stop_token stop) {
            while (!stop.stop_requested() && !interrupted)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (interrupted) grabber->Stop();
        });
        opened =
            grabber->Open(0, isStream ? 1 : 0, options.format, input.c_str(), output.c_str(), 0, 0);
    }
    if (!opened && interrupted) {
        std::fprintf(stderr, "quilgrab: interrupted while opening %s\n", input.c_str());
    } else if (!opened) {
        std::fprintf(stderr, "quilgrab: cannot grab %s (not a readable media file or stream, "
                             "or the output cannot be written)\n", input.c_str());
    } else {
        int hasAudio = 0, hasVideo = 0, unused = 0;
        grabber->GetStreamPresence(&hasAudio, &unused, &hasVideo, &unused);
        if (!hasAudio) {
            std::fprintf(stderr, "quilgrab: %s has no audio\n", input.c_str());
        } else if (!grabber->SetNotifyWindow(window.handle(), 2139) || !grabber->Run()) {
            std::fprintf(stderr, "quilgrab: cannot start the grab of %s\n", input.c_str());
        } else {
            double duration = 0;
            grabber->GetDuration(&duration);
            bool terminal = isatty(STDERR_FILENO);
            auto started = std::chrono::steady_clock::now();
            bool done = false;
            while (!done) {
                if (interrupted || (options.seconds > 0 &&
                                    std::chrono::steady_clock::now() - started >
                                        std::chrono::duration<double>(options.seconds))) {
                    if (interrupted) std::fprintf(stderr, "\nquilgrab: interrupted, keeping what was written\n");
                    result = 0;
                    break;
                }
                if (window.Take(std::chrono::milliseconds(500))) {
                    long code, p1, p2;
                    while (grabber->GetEvent(&code, &p1, &p2)) {
                        grabber->FreeEventParams(code, p1, p2);
                        if (code == 1) {
                            result = 0;
                            done = true;
                        } else if (code == 3) {
                            bool full = static_cast<int32_t>(p1) == static_cast<int32_t>(0x80070070);
                            std::fprintf(stderr, "\nquilgrab: %s failed: %s (0x%08X)\n",
                                         input.c_str(), full ? "the disk is full" : "error",
                                         static_cast<unsigned>(p1));
                            done = true;
                        }
                    }
                }
                double position = 0;
                grabber->GetPosition(&position);
                double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                               started).count();
                if (terminal)
                    std::fprintf(stderr, "\r%s  %8.1f / %.1f s  %6.1fx ", output.c_str(), position,
                                 duration, elapsed > 0 ? position / elapsed : 0.0);
            }
            grabber->Stop();
            if (terminal) std::fprintf(stderr, "\n");
            if (result == 0) std::printf("%s\n", output.c_str());
        }
    }
    grabber->ReleaseGraph();
    grabber->Destroy();
    return result;
}

int RunGrab(std::span<char* const> arguments, bool isStream) {
    Options options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        auto value = [&]() -> const char* {
            return i + 1 < arguments.size() ? arguments[++i] : nullptr;
        };
        double number = 0;
        if (argument == "--help" || argument == "-h") {
            std::fputs(kFileUsage, stdout);
            return 0;
        } else if (argument == "--format") {
            const char* v = value();
            std::string f = v ? v : "";
            options.format = f == "wav" ? 0 : f == "mp3" ? 1 : f == "wma" ? 2 : f == "ogg" ? 3 : -1;
            if (options.format < 0) {
                std::fprintf(stderr, "quilgrab: unknown format \"%s\"\n", f.c_str());
                return 2;
            }
        } else if (argument == "--out") {
            const char* v = value();
            if (!v) return 2;
            options.outDir = v;
        } else if (argument == "--wma-profile") {
            const char* v = value();
            if (!v) return 2;
            options.wmaProfile = v;
        } else if (argument == "--mp3-bitrate" || argument == "--mp3-rate" ||
                   argument == "--mp3-quality" || argument == "--wma-version" ||
                   argument == "--ogg-quality" || argument == "--seconds") {
            const char* v = value();
            if (!v || !ParseNumber(v, &number)) {
                std::fprintf(stderr, "quilgrab: %s needs a number\n", argument.c_str());
                return 2;
            }
            if (argument == "--mp3-bitrate") options.mp3Bitrate = static_cast<int>(number);
            if (argument == "--mp3-rate") options.mp3Rate = static_cast<int>(number);
            if (argument == "--mp3-quality") options.mp3Quality = static_cast<int>(number);
            if (argument == "--wma-version") options.wmaVersion = static_cast<int>(number);
            if (argument == "--ogg-quality") options.oggQuality = static_cast<float>(number);
            if (argument == "--seconds") options.seconds = number;
        } else if (!argument.empty() && argument[0] == '-') {
            std::fprintf(stderr, "quilgrab: unknown option %s\n\n%s", argument.c_str(), kFileUsage);
            return 2;
        } else {
            options.inputs.push_back(argument);
        }
    }
    if (options.inputs.empty() || options.format < 0) {
        std::fputs(kFileUsage, stderr);
        return 2;
    }
    std::error_code error;
    std::filesystem::create_directories(options.outDir, error);
    signal(SIGINT, OnInterrupt);
    signal(SIGTERM, OnInterrupt);
    int failures = 0;
    for (const auto& input : options.inputs) {
        if (interrupted) break;
        if (GrabOne(options, input, isStream) != 0) ++failures;
    }
    return failures ? 1 : 0;
}

}  // namespace

int RunFileCommand(std::span<char* const> arguments) { return RunGrab(arguments, false); }
int RunStreamCommand(std::span<char* const> arguments) { return RunGrab(arguments, true); }

int RunProfilesCommand(std::span<char* const>) {
    for (int version : {4, 7, 8, 9}) {
        std::printf("Windows Media version %d:\n", version);
        for (const auto& [name, description] : AudioProfiles(version))
            std::printf("  %s\n      %s\n", name.c_str(), description.c_str());
    }
    return 0;
}

}  // namespace quil::grab
