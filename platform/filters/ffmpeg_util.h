#pragma once

// What the FFmpeg source and decoder share: handles, media types that carry codec parameters
// from the splitter to the decoder, result codes, and opening a file or stream URL safely.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "platform/graph/media_types.h"

namespace quil::ffmpeg {

struct FormatCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecCloser {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct ParametersFree {
    void operator()(AVCodecParameters* parameters) const { avcodec_parameters_free(&parameters); }
};
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ResamplerFree {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
struct ScalerFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using ParametersPtr = std::unique_ptr<AVCodecParameters, ParametersFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerFree>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerFree>;

constexpr AVRational kReferenceTimeBase{1, 10'000'000};

// Quiets FFmpeg's console output (broken input is reported through results, not logs).
void Initialise();

HRESULT HresultFromAverror(int error);

// Compressed streams travel with a subtype made from the codec id and a format block that
// holds the usual WAVEFORMATEX or VIDEOINFOHEADER followed by the codec parameters.
GUID CodecSubtype(AVCodecID codec);
bool IsCodecSubtype(const GUID& subtype);

MediaType CompressedMediaType(const AVCodecParameters* parameters, AVRational frameRate);
// The codec parameters of a compressed media type, or of PCM in a layout other than plain
// 8/16-bit integers (24 and 32 bits, float, WAVE_FORMAT_EXTENSIBLE); empty for anything else
// and for a malformed format block.
ParametersPtr ParametersFromMediaType(const AM_MEDIA_TYPE& type);

// Stops a blocking FFmpeg call: set abort from another thread, or let the deadline pass. Also
// rations the requests a stream makes (HLS playlists and segments): opening may make a few
// dozen, playing a few per second on average, so a playlist that names itself fails instead of
// requesting without end.
class Interrupter {
public:
    static constexpr int kOpenRequests = 48;
    static constexpr int kRequestsPerSecond = 5;

    void Abort() { abort_ = true; }
    void Reset() {
        abort_ = false;
        deadline_ = kNoDeadline;
    }
    // Whether one more request may go out now.
    bool TakeRequest();
    // Opening: the whole allowance at once and no more until EndOpening.
    void StartOpening();
    void EndOpening();
    int RequestsMade() const { return requestsMade_; }
    // True once opening ran out of requests; the opening then ends at once.
    bool RequestsExhausted() const { return exhausted_; }
    void SetDeadline(std::chrono::steady_clock::duration fromNow);
    void ClearDeadline() { deadline_ = kNoDeadline; }
    bool Aborted() const { return abort_; }
    AVIOInterruptCB Callback() { return {&Interrupter::Check, this}; }

private:
    static int Check(void* self);
    static constexpr int64_t kNoDeadline = INT64_MAX;
    std::atomic<bool> abort_{false};
    std::atomic<int64_t> deadline_{kNoDeadline};
    std::mutex requestMutex_;
    double requestTokens_ = kOpenRequests;  // guarded by requestMutex_
    bool opening_ = false;                  // guarded by requestMutex_
    std::chrono::steady_clock::time_point refilled_;
    std::atomic<int> requestsMade_{0};
    std::atomic<bool> exhausted_{false};
};

// True for the stream URL schemes a source may open (http, https, rtsp, mms, mmsh, mmst).
bool IsStreamUrl(const std::string& location);
// True when the text names any URL ("scheme://...").
bool LooksLikeUrl(const std::string& location);

// Opens a local path or stream URL and reads its stream information. Local paths are read only
// through FFmpeg's file protocol, URLs only through network protocols, and every blocking step
// ends within a time-out or when the interrupter aborts.
HRESULT OpenInput(const std::string& location, Interrupter* interrupter, FormatPtr* out);

}  // namespace quil::ffmpeg
