// quilgrab live: lists the recording devices, or records one of them into a WAV, MP3, WMA or
// OGG file through the live grabber library, until a time is up or Ctrl-C.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/live/live_audio_grabber.h"
#include "platform/audio/recording_devices.h"
#include "platform/com/strings.h"
#include "platform/window/window.h"
#include "tools/quilgrab/cli_options.h"
#include "tools/quilgrab/commands.h"
#include "tools/quilgrab/interrupt.h"
#include "tools/quilgrab/media_grab.h"
#include "tools/quilgrab/output_names.h"
#include "tools/quilgrab/progress.h"
#include "tools/quilgrab/wma_profiles.h"

namespace quil::grab {

namespace {

constexpr UINT kLiveEvent = 2137;
constexpr long kComplete = 1, kErrorAbort = 3, kDeviceLost = 31;

struct Options {
    CommonOptions common = LoadStoredDefaults();
    bool list = false;
    std::string device, line;
    std::optional<double> level;
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

// Seconds of audio in the output so far: exact for WAV from its size; for the encoded formats
// the time since the first audio reached the file.
class AudioClock {
public:
    AudioClock(std::string path, int format, const PCMWAVEFORMAT& capture)
        : path_(std::move(path)), format_(format), bytesPerSecond_(capture.nAvgBytesPerSec) {}
    double Seconds() {
        std::error_code error;
        auto size = std::filesystem::file_size(path_, error);
        if (error) return 0;
        if (format_ == 0 && bytesPerSecond_ > 0)
            return size > kWavHeader ? static_cast<double>(size - kWavHeader) / bytesPerSecond_ : 0;
        if (!started_ && size > firstSize_) {
            if (firstSize_ == kUnknown) {
                firstSize_ = size;
                return 0;
            }
            started_ = std::chrono::steady_clock::now();
        }
        if (firstSize_ == kUnknown) firstSize_ = size;
        if (!started_) return 0;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - *started_).count();
    }

private:
    static constexpr uintmax_t kWavHeader = 44;
    static constexpr uintmax_t kUnknown = static_cast<uintmax_t>(-1);
    std::string path_;
    int format_;
    uint32_t bytesPerSecond_;
    uintmax_t firstSize_ = kUnknown;
    std::optional<std::chrono::steady_clock::time_point> started_;
};

int Record(const Options& options) {
    const FormatOptions& format = options.common.format;
    std::string device = options.device;
    if (!audio::FindRecordingDevice(device))
        if (auto bySource = audio::FindRecordingSource(device)) device = bySource->name;
    NameFields fields;
    fields.stem = "live";
    fields.when = LocalNow();
    fields.extension = FormatExtension(format.format) + 1;
    ClaimedOutput claim =
        ClaimOutput(WantedOutputPath(options.common.output, "live {date} {time}", fields),
                    options.common.output.clobber);
    if (!claim.error.empty() || claim.skipped) {
        std::fprintf(stderr, "quilgrab: %s\n",
                     claim.skipped ? (claim.path + " exists (-n); nothing recorded").c_str()
                                   : claim.error.c_str());
        return claim.skipped ? exit_code::kDone : exit_code::kSomeFailed;
    }
    const std::string& output = claim.path;
    auto discard = [&] {
        std::error_code ignored;
        std::filesystem::remove(output, ignored);
    };
    Grabber grabber;
    if (!grabber.g) return exit_code::kSomeFailed;
    if (!grabber->SelectDevice(device.c_str(), 0)) {
        std::fprintf(stderr,
                     "quilgrab: %s: no such recording device (\"quilgrab live --list\" "
                     "shows them)\n",
                     options.device.c_str());
        discard();
        return exit_code::kSomeFailed;
    }
    if (!options.line.empty() && !grabber->EnableInputLineByName(options.line.c_str(), 1)) {
        std::fprintf(stderr, "quilgrab: %s has no recording line \"%s\"\n", device.c_str(),
                     options.line.c_str());
        discard();
        return exit_code::kSomeFailed;
    }
    if (options.level && !grabber->SetInputLevel(*options.level))
        std::fprintf(stderr, "quilgrab: the recording level could not be set\n");
    grabber->SetWavFormat(format.wav.attribute);
    grabber->SetMp3Options(format.mp3.sampleRate, format.mp3.bitRate, format.mp3.channelMode,
                           format.mp3.quality, format.mp3.copyright, format.mp3.crc,
                           format.mp3.original, format.mp3.privateBit);
    grabber->SetOggOptions(format.ogg.attribute, format.oggQuality, 0, 0, 0);
    std::string profile = format.wmaProfile;
    if (format.format == 2 && profile.empty()) profile = LastAudioProfile(format.wmaVersion);
    grabber->SetWmaProfile(format.wmaVersion, profile.c_str());

    QueueWindow window;
    if (!grabber->BuildGraph(format.format, output.c_str()) ||
        !grabber->SetNotifyWindow(window.handle(), kLiveEvent) || !grabber->Run()) {
        std::fprintf(stderr, "quilgrab: recording from %s failed to start\n", device.c_str());
        grabber->ReleaseGraph();
        discard();
        return exit_code::kSomeFailed;
    }
    PCMWAVEFORMAT capture{};
    grabber->GetCaptureFormat(&capture);
    if (!options.common.quiet)
        std::fprintf(stderr, "Recording %s (%u Hz, %u bits, %s) into %s\n", device.c_str(),
                     capture.nSamplesPerSec, capture.wBitsPerSample,
                     capture.nChannels > 1 ? "stereo" : "mono", output.c_str());
    ProgressLine line(options.common.quiet);
    AudioClock clock(output, format.format, capture);
    auto started = std::chrono::steady_clock::now();
    int result = exit_code::kDone;
    double recorded = 0;
    for (bool done = false; !done;) {
        recorded = clock.Seconds();
        if (Interrupted() || (options.common.seconds && recorded >= *options.common.seconds)) break;
        if (window.Take(std::chrono::milliseconds(20))) {
            long code, p1, p2;
            while (grabber->GetEvent(&code, &p1, &p2)) {
                grabber->FreeEventParams(code, p1, p2);
                if (code == kDeviceLost && p2 == 0) {
                    line.Note("quilgrab: " + device + " is lost; the recording so far is kept");
                    result = exit_code::kSomeFailed;
                    done = true;
                } else if (code == kErrorAbort) {
                    line.Note("quilgrab: the recording failed: " + GraphErrorText(p1));
                    result = exit_code::kSomeFailed;
                    done = true;
                } else if (code == kComplete) {
                    done = true;
                }
            }
        }
        ProgressFigures figures;
        figures.label = output;
        figures.position = recorded;
        figures.duration = options.common.seconds.value_or(0);
        figures.elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        line.Draw(figures);
    }
    grabber->Stop();
    grabber->ReleaseGraph();
    line.Clear();
    if (FinishOutput(output, 0) != 0) return 1;
    std::fflush(stdout);
    if (Interrupted()) {
        std::fprintf(stderr, "quilgrab: interrupted; the recording was cut at %s and %s keeps it\n",
                     ClockText(recorded).c_str(), output.c_str());
        return InterruptedExitStatus();
    }
    return result;
}

}  // namespace

CommandRun AddLiveCommand(CLI::App& program) {
    auto options = std::make_shared<Options>();
    CLI::App* command = program.add_subcommand(
        "live", "list the recording devices or record one into WAV, MP3, WMA or OGG");
    auto* list = command->add_flag("-l,--list", options->list, "list the devices and their lines");
    auto* device =
        command->add_option("-D,--device", options->device,
                            "a device as --list shows it, or the sound server's source name");
    device->excludes(list);
    command->add_option("--line", options->line, "the recording line (default: the enabled one)")
        ->needs(device);
    command->add_option("--level", options->level, "the line's recording level, 0.0 to 1.0")
        ->check(NumberRange(0, 1))
        ->needs(device);
    AddVerbosityOptions(*command, options->common);
    AddDurationOption(*command, options->common.seconds, "the recording");
    AddOutputOptions(*command, options->common.output);
    AddFormatOptions(*command, options->common.format);
    command->footer(std::string("Without --seconds the recording runs until Ctrl-C.\n") +
                    kExitCodesText);
    return [options, command] {
        if (options->list) return ListDevices();
        if (options->device.empty()) throw CLI::RequiredError("--device or --list");
        CheckFormatOptions(*command, options->common.format);
        if (options->common.output.file == "-")
            throw CLI::ValidationError("-o",
                                       "a recording is written into a file; - is not possible");
        InstallInterruptHandlers();
        return Record(*options);
    };
}

}  // namespace quil::grab
