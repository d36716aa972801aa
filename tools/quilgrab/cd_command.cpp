// quilgrab cd: lists the drives and the tracks of a disc, and rips tracks through the CD grabber
// library into WAV, MP3, WMA or OGG. Disc images named in "Virtual CD drives" are drives too.

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cdsource/cd_interfaces.h"
#include "engine/cd/cd_audio_grabber.h"
#include "platform/com/class_registry.h"
#include "platform/registry/registry.h"
#include "platform/sectorlink/sectorlink.h"
#include "platform/window/window.h"
#include "tools/quilgrab/commands.h"

namespace quil::grab {

namespace {

constexpr const char* kCdUsage =
    "Usage: quilgrab cd --drives\n"
    "       quilgrab cd --list [--drive D]\n"
    "       quilgrab cd --track N[,N-M...] --format wav|mp3|wma|ogg [--drive D] [options]\n"
    "Options:\n"
    "  --drive D            drive letter (default D, the first drive)\n"
    "  --out DIR            output folder (default: the current folder)\n"
    "  --mp3-bitrate N      MP3 bit rate in kbit/s (default 128)\n"
    "  --mp3-rate N         MP3 sample rate in Hz (default 44100)\n"
    "  --wav-format N       WAV format index 0 to 35 (default 2: 44100 Hz, 16 bits, stereo)\n"
    "  --wma-version V      Windows Media version 4, 7, 8 or 9 (default 7)\n"
    "  --wma-profile NAME   a profile name as \"quilgrab profiles\" lists it\n"
    "  --ogg-quality Q      Vorbis quality 0 to 10 (default 6)\n"
    "Drive letters name the optical drives from D on, then the disc images listed in the\n"
    "settings value \"Virtual CD drives\".\n";

constexpr UINT kRipMessage = 2138;
const char* kExtensions[] = {".wav", ".mp3", ".wma", ".ogg"};
const char* kDiscKinds[] = {"No Disk",   "Audio CD", "Data CD",  "Mixed CD",
                            "Audio DVD", "Data DVD", "Mixed DVD"};

std::atomic<bool> interrupted{false};
void OnInterrupt(int) {
    interrupted = true;
}

struct Options {
    bool listDrives = false, listTracks = false;
    int drive = 'D';
    std::vector<int> tracks;
    int format = -1;
    std::string outDir = ".";
    int mp3Bitrate = 128, mp3Rate = 44100, wavFormat = 2, wmaVersion = 7;
    std::string wmaProfile;
    float oggQuality = 6.0f;
};

// The grabber and its graph, released in reverse order of creation.
class Grabber {
public:
    Grabber() : grabber_(static_cast<CDAudioGrabber*>(CDAudioGrabberCreateInstance())) {}
    ~Grabber() {
        if (!grabber_) return;
        grabber_->ReleaseGraph();
        grabber_->Destroy();
    }
    Grabber(const Grabber&) = delete;
    Grabber& operator=(const Grabber&) = delete;
    CDAudioGrabber* operator->() const { return grabber_; }
    explicit operator bool() const { return grabber_ != nullptr; }

private:
    CDAudioGrabber* grabber_;
};

std::string ProgramFolder() {
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
}

// The plug-in registers itself at first use, from the folder of this program.
bool EnsureTrackSourceRegistered() {
    auto server =
        registry::Key::Open(registry::Root::ClassesRoot,
                            "CLSID\\" + GuidToString(CLSID_CdTrackSource) + "\\InprocServer32");
    auto path = server ? server->ReadString("") : std::nullopt;
    if (path && std::filesystem::exists(*path)) return true;
    std::string plugin = ProgramFolder() + "/trackpump.so";
    void* handle = dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "quilgrab: the CD track source %s cannot be loaded: %s\n",
                     plugin.c_str(), dlerror());
        return false;
    }
    auto entry = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllRegisterServer"));
    HRESULT hr = entry ? entry() : E_FAIL;
    dlclose(handle);
    if (FAILED(hr))
        std::fprintf(stderr, "quilgrab: the CD track source cannot be registered (0x%08X)\n",
                     static_cast<unsigned>(hr));
    return SUCCEEDED(hr);
}

bool ParseNumber(const char* text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end && *end == '\0' && end != text;
}

// "1,3-5" -> 1 3 4 5.
bool ParseTracks(const std::string& text, std::vector<int>* tracks) {
    size_t at = 0;
    while (at <= text.size()) {
        size_t comma = text.find(',', at);
        std::string item =
            text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        size_t dash = item.find('-');
        char* end = nullptr;
        long first = std::strtol(item.c_str(), &end, 10);
        long last = first;
        if (end == item.c_str()) return false;
        if (dash != std::string::npos) {
            const char* rest = item.c_str() + dash + 1;
            last = std::strtol(rest, &end, 10);
            if (end == rest) return false;
        }
        if (*end != '\0' || first < 1 || last < first || last > 99) return false;
        for (long t = first; t <= last; ++t) tracks->push_back(static_cast<int>(t));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return !tracks->empty();
}

std::string OutputPath(const Options& options, int track) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d %H%M%S", &local);
    char name[64];
    std::snprintf(name, sizeof name, "Track %02d %s", track, stamp);
    std::filesystem::path base = std::filesystem::path(options.outDir) / name;
    std::string extension = kExtensions[options.format];
    std::filesystem::path candidate = base.string() + extension;
    for (int n = 2; std::filesystem::exists(candidate); ++n)
        candidate = base.string() + " (" + std::to_string(n) + ")" + extension;
    return candidate.string();
}

std::string LastAudioProfile(Grabber& grabber, int version) {
    int count = 0;
    std::string name;
    if (!grabber->GetProfileCount(version, &count)) return name;
    for (int i = 0; i < count; ++i) {
        engine::WmaProfileInfo info{};
        if (!grabber->GetProfileInfo(version, i, &info) || !info.audioOnly) continue;
        std::vector<char> text(static_cast<size_t>(info.nameLength) + 1);
        std::vector<char> description(static_cast<size_t>(info.descriptionLength) + 1);
        info.name = text.data();
        info.description = description.data();
        if (grabber->GetProfileInfo(version, i, &info)) name = text.data();
    }
    return name;
}

int ListDrives() {
    auto slots = sectorlink::DriveSlots();
    if (slots.empty()) std::printf("No drives (no optical drive, no \"Virtual CD drives\").\n");
    for (const auto& slot : slots)
        std::printf("%c:  %s%s\n", slot.letter, slot.image ? "image " : "", slot.source.c_str());
    return 0;
}

// Selects the drive; false (with a message) when there is no audio disc to read.
bool OpenDisc(Grabber& grabber, const Options& options, int* trackCount) {
    int count = -1, kind = 0;
    bool selected = grabber->SetDrive(options.drive) != 0;
    // The drive library says why on this thread; later calls may overwrite it.
    std::string reason = GetSectorlinkError();
    if (!selected || !grabber->GetTrackCount(&count) || count < 0) {
        if (reason.empty()) reason = "no disc or no such drive";
        std::fprintf(stderr, "quilgrab: drive %c: cannot be opened (%s)\n", options.drive,
                     reason.c_str());
        return false;
    }
    grabber->GetDiscKind(&kind);
    if (kind != 1 && kind != 4) {
        std::fprintf(stderr, "quilgrab: drive %c: holds no audio disc (%s)\n", options.drive,
                     kind >= 0 && kind <= 6 ? kDiscKinds[kind] : "No Disk");
        return false;
    }
    *trackCount = count;
    return true;
}

int ListTracks(Grabber& grabber, const Options& options) {
    int count = 0, kind = 0;
    if (!OpenDisc(grabber, options, &count)) return 1;
    grabber->GetDiscKind(&kind);
    std::printf("Drive %c: %s, %d track%s\n", options.drive, kDiscKinds[kind], count,
                count == 1 ? "" : "s");
    for (int track = 1; track <= count; ++track) {
        int h = 0, m = 0, s = 0, frames = 0, ms = 0, first = 0, length = 0;
        if (!grabber->GetTrackInfo(track, &h, &m, &s, &frames, &ms, &first, &length)) continue;
        int total = h * 3600 + m * 60 + s;
        std::printf("%3d  %02d:%02d:%02d  sectors %d-%d\n", track, total / 3600, total / 60 % 60,
                    total % 60, first, first + length - 1);
    }
    return 0;
}

// One track, in the CD page's order of calls.
int RipTrack(Grabber& grabber, const Options& options, int track) {
    std::string output = OutputPath(options, track);
    if (output.size() >= static_cast<size_t>(quil::engine::kPathBytes)) {
        std::fprintf(stderr, "quilgrab: the output path is longer than %d bytes: %s\n",
                     quil::engine::kPathBytes - 1, output.c_str());
        return 1;
    }
    QueueWindow window;
    grabber->LockDoor(1);
    grabber->Stop();
    grabber->ClearOutput();
    switch (options.format) {
        case 0:
            grabber->SetWavFormat(options.wavFormat);
            break;
        case 1:
            grabber->SetMp3Options(options.mp3Rate, options.mp3Bitrate, 0, 5, 0, 0, 0, 0);
            break;
        case 2: {
            std::string profile = options.wmaProfile.empty()
                                      ? LastAudioProfile(grabber, options.wmaVersion)
                                      : options.wmaProfile;
            grabber->SetWmaProfile(options.wmaVersion, profile.c_str());
            break;
        }
        case 3:
            grabber->SetOggOptions(2, options.oggQuality, 0, 0, 0);
            break;
    }
    int capability = 0;
    if (grabber->GetReadCapability(&capability) && capability > 0)
        grabber->SetSectorsPerRead(capability);
    grabber->SetNotifyWindow(window.handle(), kRipMessage);
    grabber->SetCurrentTrack(track);
    grabber->SetOutputFile(output.c_str());
    if (!grabber->BuildOutput(1, 0, options.format) || !grabber->Run()) {
        std::fprintf(stderr,
                     "quilgrab: track %d cannot be ripped (no such track, or the output "
                     "cannot be written)\n",
                     track);
        grabber->Stop();
        grabber->ClearOutput();
        return 1;
    }
    bool terminal = isatty(STDERR_FILENO);
    int result = 1;
    auto started = std::chrono::steady_clock::now();
    for (bool done = false; !done;) {
        if (interrupted) {
            std::fprintf(stderr, "\nquilgrab: interrupted, keeping what was written\n");
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
                    std::fprintf(stderr, "\nquilgrab: track %d failed: %s (0x%08X)\n", track,
                                 full ? "the disk is full" : "error", static_cast<unsigned>(p1));
                    done = true;
                }
            }
        }
        int first = 0, end = 0;
        grabber->GetTrackRange(&first, &end);
        double progress = std::min(grabber->GetProgress(), 1.0);
        double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        double ripped = progress * (end - first) / 75.0;
        if (terminal)
            std::fprintf(stderr, "\rTrack %02d  %5.1f%%  %6.1fx ", track, progress * 100,
                         elapsed > 0 ? ripped / elapsed : 0.0);
    }
    int unreadable = 0;
    grabber->GetUnreadableSectors(&unreadable);
    grabber->Stop();
    if (terminal) std::fprintf(stderr, "\n");
    if (unreadable > 0)
        std::fprintf(stderr,
                     "quilgrab: %d sector%s of track %d could not be read and %s "
                     "written as silence\n",
                     unreadable, unreadable == 1 ? "" : "s", track,
                     unreadable == 1 ? "was" : "were");
    if (result == 0) std::printf("%s\n", output.c_str());
    return result;
}

}  // namespace

int RunCdCommand(std::span<char* const> arguments) {
    Options options;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        auto value = [&]() -> const char* {
            return i + 1 < arguments.size() ? arguments[++i] : nullptr;
        };
        double number = 0;
        if (argument == "--help" || argument == "-h") {
            std::fputs(kCdUsage, stdout);
            return 0;
        } else if (argument == "--drives") {
            options.listDrives = true;
        } else if (argument == "--list") {
            options.listTracks = true;
        } else if (argument == "--drive") {
            const char* v = value();
            if (!v || !std::isalpha(static_cast<unsigned char>(v[0])) ||
                (v[1] != '\0' && v[1] != ':')) {
                std::fprintf(stderr, "quilgrab: --drive needs a drive letter\n");
                return 2;
            }
            options.drive = std::toupper(static_cast<unsigned char>(v[0]));
        } else if (argument == "--track" || argument == "--tracks") {
            const char* v = value();
            if (!v || !ParseTracks(v, &options.tracks)) {
                std::fprintf(stderr, "quilgrab: %s needs track numbers such as 1,3-5\n",
                             argument.c_str());
                return 2;
            }
        } else if (argument == "--format") {
            const char* v = value();
            std::string f = v ? v : "";
            options.format = f == "wav" ? 0 : f == "mp3" ? 1 : f == "wma" ? 2 : f == "ogg" ? 3 : -1;
            if (options.format < 0) {
                std::fprintf(stderr, "quilgrab: unknown format \"%s\"\n", f.c_str());
                return 2;
            }
        } else if (argument == "--out" || argument == "--wma-profile") {
            const char* v = value();
            if (!v) return 2;
            (argument == "--out" ? options.outDir : options.wmaProfile) = v;
        } else if (argument == "--mp3-bitrate" || argument == "--mp3-rate" ||
                   argument == "--wav-format" || argument == "--wma-version" ||
                   argument == "--ogg-quality") {
            const char* v = value();
            if (!v || !ParseNumber(v, &number)) {
                std::fprintf(stderr, "quilgrab: %s needs a number\n", argument.c_str());
                return 2;
            }
            if (argument == "--mp3-bitrate") options.mp3Bitrate = static_cast<int>(number);
            if (argument == "--mp3-rate") options.mp3Rate = static_cast<int>(number);
            if (argument == "--wma-version") options.wmaVersion = static_cast<int>(number);
            if (argument == "--ogg-quality") options.oggQuality = static_cast<float>(number);
            if (argument == "--wav-format") {
                if (number < 0 || number > 35) {
                    std::fprintf(stderr, "quilgrab: --wav-format is 0 to 35\n");
                    return 2;
                }
                options.wavFormat = static_cast<int>(number);
            }
        } else {
            std::fprintf(stderr, "quilgrab: unknown option %s\n\n%s", argument.c_str(), kCdUsage);
            return 2;
        }
    }
    if (options.listDrives) return ListDrives();
    if (!options.listTracks && (options.tracks.empty() || options.format < 0)) {
        std::fputs(kCdUsage, stderr);
        return 2;
    }
    if (!EnsureTrackSourceRegistered()) return 1;
    Grabber grabber;
    if (!grabber || !grabber->CreateGraph()) {
        std::fprintf(stderr, "quilgrab: the CD track source cannot be created\n");
        return 1;
    }
    if (options.listTracks) return ListTracks(grabber, options);

    int count = 0;
    if (!OpenDisc(grabber, options, &count)) return 1;
    std::error_code error;
    std::filesystem::create_directories(options.outDir, error);
    signal(SIGINT, OnInterrupt);
    signal(SIGTERM, OnInterrupt);
    int failures = 0;
    for (int track : options.tracks) {
        if (interrupted) break;
        if (track > count) {
            std::fprintf(stderr, "quilgrab: the disc has no track %d\n", track);
            ++failures;
            continue;
        }
        if (RipTrack(grabber, options, track) != 0) ++failures;
    }
    grabber->LockDoor(0);
    return failures ? 1 : 0;
}

}  // namespace quil::grab
