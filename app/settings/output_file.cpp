#include "app/settings/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace quil::settings {

namespace {

// More copies of one name than anyone keeps; past it the name is left to fail on write.
constexpr int kMaxCopies = 100000;

}  // namespace

ClaimedName ClaimOutputName(const std::string& base, const std::string& extension) {
    ClaimedName first{base + extension, false};
    std::string candidate = first.path;
    for (int copy = 2; copy <= kMaxCopies; ++copy) {
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            return {candidate, true};
        }
        if (errno == EINTR) {
            --copy;
            continue;
        }
        if (errno != EEXIST) return first;
        candidate = base + " (" + std::to_string(copy) + ")" + extension;
    }
    return first;
}

namespace {

// Decodes until the first sample; encoders leave header packets and padding that decode to
// nothing when they were given no audio.
bool DecodesASample(AVFormatContext* format, int stream) {
    const AVCodecParameters* parameters = format->streams[stream]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    AVCodecContext* context = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool usable = context && packet && frame &&
                  avcodec_parameters_to_context(context, parameters) >= 0 &&
                  avcodec_open2(context, codec, nullptr) >= 0;
    bool packets = false, sample = false;
    auto drain = [&] {
        while (!sample && avcodec_receive_frame(context, frame) >= 0) {
            sample = frame->nb_samples > 0;
            av_frame_unref(frame);
        }
    };
    while (!sample && packet && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream && packet->size > 0) {
            packets = true;
            if (usable && avcodec_send_packet(context, packet) >= 0) drain();
        }
        av_packet_unref(packet);
    }
    if (usable && !sample && avcodec_send_packet(context, nullptr) >= 0) drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    // Without a decoder, a packet with data has to count as audio.
    return usable ? sample : packets;
}

// Below this, a file that no demuxer recognises cannot hold a playable moment of audio (a
// lone MP3 Info frame is 417 bytes).
constexpr uintmax_t kSmallestUnknownAudio = 1024;

}  // namespace

bool HoldsAudio(const std::string& path) {
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    if (error) return true;
    if (size == 0) return false;
    // Quiet like the program's own filters: FFmpeg's warnings would land in the user's terminal.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0)
        return size >= kSmallestUnknownAudio;
    bool audio = true;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        int stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        audio = stream >= 0 && DecodesASample(format, stream);
    }
    avformat_close_input(&format);
    return audio;
}

FinishedOutput CheckFinishedOutput(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return FinishedOutput::kMissing;
    if (HoldsAudio(path)) return FinishedOutput::kKept;
    std::filesystem::remove(path, error);
    return FinishedOutput::kNoAudio;
}

}  // namespace quil::settings
