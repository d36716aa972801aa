#include "tools/quilgrab/media_grab.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "engine/media/file_audio_grabber.h"
#include "platform/window/window.h"
#include "tools/quilgrab/interrupt.h"
#include "tools/quilgrab/wma_profiles.h"

namespace quil::grab {

namespace {

constexpr UINT kGrabMessage = 2139;
constexpr long kComplete = 1, kErrorAbort = 3;

struct GrabberHandle {
    FileAudioGrabber* grabber = static_cast<FileAudioGrabber*>(FileAudioGrabberCreateInstance());
    ~GrabberHandle() { Release(); }
    // The output file is complete only once the grabber is gone.
    void Release() {
        if (!grabber) return;
        grabber->ReleaseGraph();
        grabber->Destroy();
        grabber = nullptr;
    }
};

uint32_t Le32(const unsigned char* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void PutLe32(unsigned char* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

bool TrimWav(const std::string& path, double seconds) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool trimmed = false;
    unsigned char header[12];
    if (::fstat(fd, &info) == 0 && ::pread(fd, header, 12, 0) == 12 &&
        std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVE", 4) == 0) {
        off_t at = 12;
        uint32_t bytesPerSecond = 0, blockAlign = 0;
        unsigned char chunk[16];
        while (at + 8 <= info.st_size && ::pread(fd, chunk, 8, at) == 8) {
            uint32_t size = Le32(chunk + 4);
            if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16 &&
                ::pread(fd, chunk, 16, at + 8) == 16) {
                bytesPerSecond = Le32(chunk + 8);
                blockAlign = chunk[12] | chunk[13] << 8;
            } else if (std::memcmp(chunk, "data", 4) == 0) {
                off_t dataStart = at + 8;
                off_t present = std::min<off_t>(size, info.st_size - dataStart);
                // The grabber writes nothing after its data chunk, so cutting the file there loses
                // only audio past the limit.
                if (bytesPerSecond == 0 || blockAlign == 0) break;
                off_t wanted = static_cast<off_t>(seconds * bytesPerSecond);
                wanted -= wanted % blockAlign;
                if (wanted >= present) break;
                unsigned char value[4];
                PutLe32(value, static_cast<uint32_t>(wanted));
                trimmed = ::pwrite(fd, value, 4, at + 4) == 4;
                PutLe32(value, static_cast<uint32_t>(dataStart + wanted - 8));
                trimmed = trimmed && ::pwrite(fd, value, 4, 4) == 4 &&
                          ::ftruncate(fd, dataStart + wanted) == 0;
                break;
            }
            at += 8 + size + (size & 1);
        }
    }
    ::close(fd);
    return trimmed;
}

std::string LocalInputProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return path + ": " + std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return path + ": is a folder, not a media file";
    if (!S_ISREG(info.st_mode)) return path + ": not a regular file (a pipe or a device)";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return path + ": " + std::strerror(errno);
    ::close(fd);
    if (info.st_size == 0) return path + ": the file is empty";
    return {};
}

std::string GraphErrorText(long code) {
    switch (static_cast<uint32_t>(code)) {
        case 0x80070070u:
        case 0x80070027u:
            return "the disk is full";
        case 0x80070005u:
            return "Permission denied";
        case 0x80070002u:
        case 0x80070003u:
            return "No such file or directory";
        case 0x8007001Eu:
        case 0x8007001Du:
            return "read error";
        case 0x800705B4u:
            return "timed out";
        case 0x800704C9u:
            return "Connection refused";
        case 0x80072EFDu:
            return "the connection was lost";
        case 0x80004004u:
            return "stopped";
        default:
            return "the audio could not be decoded or written";
    }
}

GrabResult RunMediaGrab(const GrabRequest& request) {
    GrabResult result;
    const FormatOptions& format = *request.format;
    GrabberHandle handle;
    FileAudioGrabber* grabber = handle.grabber;
    if (!grabber) {
        result.error = "out of memory";
        return result;
    }
    grabber->SetMp3Options(format.mp3.sampleRate, format.mp3.bitRate, format.mp3.channelMode,
                           format.mp3.quality, format.mp3.copyright, format.mp3.crc,
                           format.mp3.original, format.mp3.privateBit);
    grabber->SetOggOptions(format.ogg.attribute, format.oggQuality, 0, 0, 0);
    std::string profile = format.wmaProfile;
    if (format.format == 2 && profile.empty()) profile = LastAudioProfile(format.wmaVersion);
    grabber->SetWmaProfile(format.wmaVersion, profile.c_str());

    if (!request.isStream) {
        if (std::string problem = LocalInputProblem(request.input); !problem.empty()) {
            result.error = problem;
            return result;
        }
    }
    QueueWindow window;
    int opened = 0;
    if (!Interrupted()) {
        // Opening a stream blocks; Ctrl-C or SIGTERM meanwhile stops it through the grabber.
        // A Stop that came before the open had begun is not seen by it, so it is repeated
        // until the open gives up.
        std::jthread watcher([&](std::stop_token stop) {
            while (!stop.stop_requested()) {
                if (Interrupted()) grabber->Stop();
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
        opened = grabber->Open(0, request.isStream ? 1 : 0, format.format, request.input.c_str(),
                               request.output.c_str(), 0, 0);
    }
    if (!opened) {
        result.error = request.input + (Interrupted()      ? ": interrupted while opening"
                                        : request.isStream ? ": the stream cannot be opened"
                                                           : ": not a media file");
        return result;
    }
    int hasAudio = 0, hasVideo = 0, unused = 0;
    grabber->GetStreamPresence(&hasAudio, &unused, &hasVideo, &unused);
    if (!hasAudio) {
        result.error = request.input + ": has no audio";
        return result;
    }
    if (!grabber->SetNotifyWindow(window.handle(), kGrabMessage) || !grabber->Run()) {
        result.error = request.input + ": the grab cannot start";
        return result;
    }
    grabber->GetDuration(&result.duration);
    // Short waits while a limit is near: the check counts audio time, which a fast
    // extraction covers many times faster than the clock.
    auto lastReport = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    bool finished = false;
    while (!finished) {
        double position = 0;
        grabber->GetPosition(&position);
        result.audioSeconds = std::max(result.audioSeconds, position);
        if (Interrupted()) {
            result.outcome = GrabOutcome::kCut;
            break;
        }
        if (request.seconds && position >= *request.seconds) {
            result.outcome = GrabOutcome::kLimitReached;
            break;
        }
        auto wait = request.seconds ? std::chrono::milliseconds(2) : std::chrono::milliseconds(100);
        if (window.Take(wait)) {
            long code, p1, p2;
            while (grabber->GetEvent(&code, &p1, &p2)) {
                grabber->FreeEventParams(code, p1, p2);
                if (code == kComplete) {
                    result.outcome = GrabOutcome::kDone;
                    finished = true;
                } else if (code == kErrorAbort) {
                    result.outcome = GrabOutcome::kFailed;
                    result.error = request.input + ": " + GraphErrorText(p1);
                    finished = true;
                }
            }
        }
        auto now = std::chrono::steady_clock::now();
        if (request.onProgress && now - lastReport >= std::chrono::milliseconds(200)) {
            lastReport = now;
            request.onProgress(result.audioSeconds, result.duration);
        }
    }
    double position = 0;
    if (grabber->GetPosition(&position))
        result.audioSeconds = std::max(result.audioSeconds, position);
    if (result.outcome == GrabOutcome::kDone && result.duration > 0)
        result.audioSeconds = result.duration;
    // The end can arrive before the position shows the limit passed.
    if (result.outcome == GrabOutcome::kDone && request.seconds &&
        result.audioSeconds >= *request.seconds)
        result.outcome = GrabOutcome::kLimitReached;
    grabber->Stop();
    handle.Release();
    // An extraction runs far ahead of the position it reports; a WAV file can be cut exactly.
    if (result.outcome == GrabOutcome::kLimitReached && format.format == 0 &&
        TrimWav(request.output, *request.seconds))
        result.audioSeconds = *request.seconds;
    if (request.onProgress) request.onProgress(result.audioSeconds, result.duration);
    return result;
}

}  // namespace quil::grab
