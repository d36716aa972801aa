// quilgrab cd: lists the drives and the tracks of a disc, and rips tracks through the CD grabber
// library into WAV, MP3, WMA or OGG. Disc images named in "Virtual CD drives" are drives too.

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/tags/media_tag_editor.h"
#include "cdsource/cd_interfaces.h"
#include "engine/cd/cd_audio_grabber.h"
#include "platform/com/class_registry.h"
#include "platform/com/strings.h"
#include "platform/registry/registry.h"
#include "platform/sectorlink/sectorlink.h"
#include "platform/window/window.h"
#include "tools/quilgrab/cd_disc.h"
#include "tools/quilgrab/cli_options.h"
#include "tools/quilgrab/commands.h"
#include "tools/quilgrab/interrupt.h"
#include "tools/quilgrab/media_grab.h"
#include "tools/quilgrab/output_names.h"
#include "tools/quilgrab/progress.h"

namespace quil::grab {

namespace {

constexpr UINT kRipMessage = 2138;
const char* kDiscKinds[] = {"No Disk",   "Audio CD", "Data CD",  "Mixed CD",
                            "Audio DVD", "Data DVD", "Mixed DVD"};

struct Options {
    CommonOptions common = LoadStoredDefaults();
    bool listDrives = false, listTracks = false;
    std::string driveText = "D", device, image, trackText;
    int drive = 'D';
    std::vector<int> tracks;  // empty: all
    bool tag = true;
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
    std::string why;
    if (SUCCEEDED(EnsureInprocServerRegistered(CLSID_CdTrackSource,
                                               ProgramFolder() + "/trackpump.so", &why)))
        return true;
    std::fprintf(stderr, "quilgrab: the CD track source: %s\n", why.c_str());
    return false;
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
    const bool selected = grabber->SetDrive(options.drive) != 0;
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

struct TrackResult {
    bool ripped = false;
    bool cut = false;
    int unreadable = 0;
    double seconds = 0;
    std::string output, error;
};

void ApplyFormat(Grabber& grabber, const FormatOptions& format) {
    switch (format.format) {
        case 0:
            grabber->SetWavFormat(format.wav.attribute);
            break;
        case 1:
            grabber->SetMp3Options(format.mp3.sampleRate, format.mp3.bitRate,
                                   format.mp3.channelMode, format.mp3.quality, format.mp3.copyright,
                                   format.mp3.crc, format.mp3.original, format.mp3.privateBit);
            break;
        case 2: {
            std::string profile = format.wmaProfile.empty()
                                      ? LastAudioProfile(grabber, format.wmaVersion)
                                      : format.wmaProfile;
            grabber->SetWmaProfile(format.wmaVersion, profile.c_str());
            break;
        }
        case 3:
            grabber->SetOggOptions(format.ogg.attribute, format.oggQuality, 0, 0, 0);
            break;
    }
}

// Track number, album, artist and title into a ripped WAV, MP3 or WMA file.
bool TagTrack(const std::string& path, int track, const DiscText& disc, bool verbose) {
    MediaTagRecord record;
    CopyBounded(disc.Title(track), record.szTitle, kTagTextSize);
    CopyBounded(disc.Artist(track), record.szAuthor, kTagTextSize);
    CopyBounded(disc.album, record.szAlbumTitle, kTagTextSize);
    record.nTrack = track;
    std::fflush(stdout);
    // The tag editor reports its steps on standard output, which carries our results.
    int saved = ::dup(STDOUT_FILENO);
    int target = verbose ? ::dup(STDERR_FILENO) : ::open("/dev/null", O_WRONLY);
    if (target >= 0) {
        ::dup2(target, STDOUT_FILENO);
        ::close(target);
    }
    bool written = MediaTagEditor().WriteTags(path.c_str(), record);
    std::fflush(stdout);
    if (saved >= 0) {
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
    }
    return written;
}

// One track, in the CD page's order of calls.
TrackResult RipTrack(Grabber& grabber, const Options& options, int track, const DiscText& disc,
                     ProgressLine& line) {
    TrackResult result;
    const FormatOptions& format = options.common.format;
    NameFields fields;
    fields.track = track;
    fields.title = disc.Title(track);
    fields.artist = disc.Artist(track);
    fields.album = disc.album;
    fields.stem = "Track " + std::to_string(track);
    fields.when = LocalNow();
    fields.extension = FormatExtension(format.format) + 1;
    std::string own = disc.Title(track).empty() ? "Track {track}" : "{track} {title}";
    ClaimedOutput claim = ClaimOutput(WantedOutputPath(options.common.output, own, fields),
                                      options.common.output.clobber);
    if (!claim.error.empty() || claim.skipped) {
        result.error = claim.skipped ? "track " + std::to_string(track) +
                                           " skipped: " + claim.path + " exists (-n)"
                                     : claim.error;
        result.ripped = claim.skipped;
        return result;
    }
    result.output = claim.path;
    QueueWindow window;
    grabber->LockDoor(1);
    grabber->Stop();
    grabber->ClearOutput();
    ApplyFormat(grabber, format);
    int capability = 0;
    if (grabber->GetReadCapability(&capability) && capability > 0)
        grabber->SetSectorsPerRead(capability);
    grabber->SetNotifyWindow(window.handle(), kRipMessage);
    grabber->SetCurrentTrack(track);
    grabber->SetOutputFile(claim.path.c_str());
    if (!grabber->BuildOutput(1, 0, format.format) || !grabber->Run()) {
        result.error = "track " + std::to_string(track) + " cannot be ripped into " + claim.path;
        grabber->Stop();
        grabber->ClearOutput();
        std::error_code ignored;
        std::filesystem::remove(claim.path, ignored);
        return result;
    }
    int first = 0, end = 0;
    grabber->GetTrackRange(&first, &end);
    double length = (end - first) / 75.0;
    auto started = std::chrono::steady_clock::now();
    const auto& limit = options.common.seconds;
    for (bool done = false; !done;) {
        result.seconds = std::min(grabber->GetProgress(), 1.0) * length;
        if (Interrupted()) {
            result.cut = true;
            break;
        }
        if (limit && result.seconds >= *limit) {
            result.ripped = true;
            break;
        }
        if (window.Take(std::chrono::milliseconds(limit ? 2 : 100))) {
            long code, p1, p2;
            while (grabber->GetEvent(&code, &p1, &p2)) {
                grabber->FreeEventParams(code, p1, p2);
                if (code == 1) {
                    result.ripped = true;
                    result.seconds = length;
                    done = true;
                } else if (code == 3) {
                    result.error = "track " + std::to_string(track) + ": " + GraphErrorText(p1);
                    done = true;
                }
            }
        }
        ProgressFigures figures;
        figures.label = "Track " + std::to_string(track);
        figures.position = result.seconds;
        figures.duration = limit ? std::min(*limit, length) : length;
        figures.elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        line.Draw(figures);
    }
    grabber->GetUnreadableSectors(&result.unreadable);
    grabber->Stop();
    grabber->ClearOutput();
    line.Clear();
    // Reading runs ahead of the progress it reports; a WAV file can be cut exactly.
    if (result.ripped && limit && *limit < length && format.format == 0 &&
        TrimWav(claim.path, *limit))
        result.seconds = *limit;
    if ((result.ripped || result.cut) && options.tag && format.format != 3 &&
        !TagTrack(claim.path, track, disc, options.common.verbose))
        line.Note("quilgrab: the tags of " + claim.path + " could not be written");
    return result;
}

int RipTracks(Grabber& grabber, const Options& options, const std::string& source) {
    int count = 0;
    if (!OpenDisc(grabber, options, &count)) return exit_code::kSomeFailed;
    std::vector<int> tracks = options.tracks;
    if (tracks.empty())
        for (int track = 1; track <= count; ++track) tracks.push_back(track);
    DiscText disc = ReadDiscText(source);
    InstallInterruptHandlers();
    ProgressLine line(options.common.quiet);
    int failures = 0;
    std::vector<int> notDone;
    for (int track : tracks) {
        if (Interrupted()) {
            notDone.push_back(track);
            continue;
        }
        if (track > count) {
            std::fprintf(stderr, "quilgrab: the disc has no track %d (it has %d)\n", track, count);
            ++failures;
            continue;
        }
        TrackResult result = RipTrack(grabber, options, track, disc, line);
        if (!result.error.empty()) std::fprintf(stderr, "quilgrab: %s\n", result.error.c_str());
        if (!result.ripped && !result.cut) {
            if (result.error.find("skipped") == std::string::npos) ++failures;
            continue;
        }
        if (result.output.empty()) continue;
        if (FinishOutput(result.output, 0) != 0) {
            ++failures;
            continue;
        }
        std::fflush(stdout);
        if (!options.common.quiet || result.unreadable > 0)
            std::fprintf(stderr, "Track %02d  %s  %s  %d unreadable sector%s%s\n", track,
                         ClockText(result.seconds).c_str(),
                         result.cut ? "cut by the interruption" : "ripped", result.unreadable,
                         result.unreadable == 1 ? "" : "s",
                         result.unreadable > 0 ? " (written as silence)" : "");
    }
    grabber->LockDoor(0);
    if (Interrupted()) {
        std::string list;
        for (int track : notDone) list += (list.empty() ? "" : ", ") + std::to_string(track);
        std::fprintf(stderr, "quilgrab: interrupted%s%s\n",
                     list.empty() ? "" : "; not done: tracks ", list.c_str());
        return InterruptedExitStatus();
    }
    return failures ? exit_code::kSomeFailed : exit_code::kDone;
}

int RunCd(Options& options, CLI::App& command) {
    if (options.listDrives) return ListDrives();
    std::unique_ptr<TemporaryVirtualDrive> virtualDrive;
    std::string source;
    if (!options.image.empty()) {
        if (std::string problem = LocalInputProblem(options.image); !problem.empty()) {
            std::fprintf(stderr, "quilgrab: %s\n", problem.c_str());
            return exit_code::kSomeFailed;
        }
        virtualDrive = std::make_unique<TemporaryVirtualDrive>(options.image);
        if (!virtualDrive->letter()) {
            std::fprintf(stderr,
                         "quilgrab: %s: not a disc image libcdio can read, or no drive "
                         "letter is free\n",
                         options.image.c_str());
            return exit_code::kSomeFailed;
        }
        options.drive = *virtualDrive->letter();
        source = options.image;
    } else if (!options.device.empty()) {
        auto letter = LetterOf(options.device);
        if (!letter) {
            std::fprintf(stderr,
                         "quilgrab: %s: no optical drive (\"quilgrab cd --drives\" lists "
                         "them)\n",
                         options.device.c_str());
            return exit_code::kSomeFailed;
        }
        options.drive = *letter;
        source = options.device;
    } else {
        options.drive = std::toupper(static_cast<unsigned char>(options.driveText[0]));
        for (const auto& slot : sectorlink::DriveSlots())
            if (slot.letter == options.drive) source = slot.source;
    }
    if (!options.trackText.empty()) {
        auto tracks = ParseTrackList(options.trackText);
        if (!tracks)
            throw CLI::ValidationError(
                "--tracks",
                "takes track numbers 1 to 99 such as 1-3,5, not \"" + options.trackText + "\"");
        options.tracks = *tracks;
    }
    if (!options.listTracks) CheckFormatOptions(command, options.common.format);
    if (options.common.output.file == "-")
        throw CLI::ValidationError("-o", "tracks are written into files; - is not possible");
    if (!options.common.output.file.empty() && options.tracks.size() != 1)
        throw CLI::ValidationError("-o",
                                   "names the output of a single track; use --name for several");
    if (!EnsureTrackSourceRegistered()) return exit_code::kSomeFailed;
    Grabber grabber;
    if (!grabber || !grabber->CreateGraph()) {
        std::fprintf(stderr, "quilgrab: the CD track source cannot be created\n");
        return exit_code::kSomeFailed;
    }
    if (options.listTracks) return ListTracks(grabber, options);
    return RipTracks(grabber, options, source);
}

}  // namespace

CommandRun AddCdCommand(CLI::App& program) {
    auto options = std::make_shared<Options>();
    CLI::App* command = program.add_subcommand(
        "cd", "list drives and tracks, rip CD tracks (or a disc image) into WAV, MP3, WMA or OGG");
    auto* drives =
        command->add_flag("--drives", options->listDrives, "list the drives and their letters");
    command->add_flag("--list", options->listTracks, "list the tracks of the disc");
    auto* letter =
        command->add_option("--drive", options->driveText, "drive letter (default D)")
            ->check(CLI::Validator(
                [](std::string& text) -> std::string {
                    bool letter = !text.empty() &&
                                  std::isalpha(static_cast<unsigned char>(text[0])) &&
                                  (text.size() == 1 || text.substr(1) == ":");
                    return letter ? "" : "takes a drive letter D to Z, not \"" + text + "\"";
                },
                "LETTER"));
    auto* device =
        command->add_option("--device", options->device, "an optical drive such as /dev/sr0")
            ->type_name("FILE");
    auto* image =
        command->add_option("--image", options->image, "a disc image (.cue, .toc or .nrg)")
            ->type_name("IMAGE");
    letter->excludes(device)->excludes(image);
    device->excludes(image);
    drives->excludes(letter)->excludes(device)->excludes(image);
    command->add_option("--tracks,--track", options->trackText,
                        "tracks to rip, such as 1-3,5 (default: all)");
    command->add_flag(
        "--no-tags", [options](std::int64_t) { options->tag = false; },
        "do not tag the ripped files");
    AddVerbosityOptions(*command, options->common);
    AddDurationOption(*command, options->common.seconds, "each track");
    AddOutputOptions(*command, options->common.output);
    AddFormatOptions(*command, options->common.format, false);
    command->footer(std::string("Files are named \"{track} {title}\" with CD-TEXT or CUE titles, "
                                "else \"Track {track}\",\nand tagged with track number, album, "
                                "artist and title (not OGG).\n") +
                    kExitCodesText);
    return [options, command] { return RunCd(*options, *command); };
}

}  // namespace quil::grab
