// The FFmpeg decoder: compressed audio (and PCM in layouts other than 8 or 16 bits) to 16-bit
// interleaved PCM at the stream's rate and channel count, compressed video to RGB32 frames.
// Output time stamps follow the decoded samples, so a seek's pre-roll before time 0 is cut.

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/filters/class_ids.h"
#include "platform/filters/ffmpeg_util.h"
#include "platform/filters/filter_factories.h"
#include "platform/filters/packet_sample.h"
#include "platform/graph/transform_filter.h"

namespace quil::filters {

namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10'000'000;
// Jumps in the input time stamps bigger than this move the output clock; smaller ones are
// jitter that would only make gaps or overlaps.
constexpr REFERENCE_TIME kTimeJumpTolerance = 500'000;
constexpr REFERENCE_TIME kDefaultFrameTime = 400'000;
// This many packets in a row without a single decoded frame mean the stream is broken.
constexpr int kMaxFailedPackets = 200;
constexpr LONG kAudioBuffers = 8;
constexpr LONG kVideoBuffers = 3;

bool IsPcmCodec(AVCodecID codec) {
    return codec >= AV_CODEC_ID_PCM_S16LE && codec < AV_CODEC_ID_ADPCM_IMA_QT;
}

ffmpeg::CodecPtr OpenDecoder(const AVCodecParameters* parameters) {
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (!decoder) return {};
    ffmpeg::CodecPtr context(avcodec_alloc_context3(decoder));
    if (!context || avcodec_parameters_to_context(context.get(), parameters) < 0) return {};
    context->pkt_timebase = ffmpeg::kReferenceTimeBase;
    context->thread_count = parameters->codec_type == AVMEDIA_TYPE_VIDEO ? 0 : 1;
    if (avcodec_open2(context.get(), decoder, nullptr) < 0) return {};
    return context;
}

MediaType Rgb32Type(int width, int height, REFERENCE_TIME frameTime) {
    MediaType type;
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB32;
    type.formattype = FORMAT_VideoInfo;
    type.bFixedSizeSamples = 1;
    type.lSampleSize = static_cast<ULONG>(width) * static_cast<ULONG>(height) * 4;
    VIDEOINFOHEADER info{};
    info.rcSource = {0, 0, width, height};
    info.rcTarget = info.rcSource;
    info.AvgTimePerFrame = frameTime;
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biSizeImage = type.lSampleSize;
    type.SetFormat(&info, sizeof info);
    return type;
}

class FfmpegDecoder : public TransformFilter {
public:
    FfmpegDecoder() : TransformFilter(CLSID_FfmpegDecoder, L"In", L"Out") { ffmpeg::Initialise(); }
    ~FfmpegDecoder() override { av_channel_layout_uninit(&inputLayout_); }

    HRESULT CheckInputType(const MediaType& type) override {
        if (type.majortype != MEDIATYPE_Audio && type.majortype != MEDIATYPE_Video)
            return VFW_E_TYPE_NOT_ACCEPTED;
        auto parameters = ffmpeg::ParametersFromMediaType(type);
        // A trial open, so a stream nothing can decode fails when it is connected.
        if (!parameters || !OpenDecoder(parameters.get())) return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT OnConnected(PIN_DIRECTION direction) override {
        if (direction == PINDIR_INPUT) {
            parameters_ = ffmpeg::ParametersFromMediaType(InputType());
            if (!parameters_) return VFW_E_TYPE_NOT_ACCEPTED;
            if (const VIDEOINFOHEADER* info = InputType().VideoInfo())
                frameTime_ = info->AvgTimePerFrame > 0 ? info->AvgTimePerFrame : kDefaultFrameTime;
        }
        return S_OK;
    }

    void OnDisconnected(PIN_DIRECTION direction) override {
        if (direction == PINDIR_INPUT) parameters_.reset();
    }

    HRESULT GetOutputType(int position, MediaType* type) override {
        if (position != 0 || !parameters_) return VFW_S_NO_MORE_ITEMS;
        if (IsVideo())
            *type = Rgb32Type(parameters_->width, parameters_->height, frameTime_);
        else
            *type = PcmMediaType(parameters_->sample_rate, parameters_->ch_layout.nb_channels, 16);
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        LONG size;
        if (IsVideo()) {
            size = parameters_->width * parameters_->height * 4;
            request->cBuffers = std::max(request->cBuffers, kVideoBuffers);
        } else {
            // About 50 ms per buffer, in whole sample frames.
            LONG block = parameters_->ch_layout.nb_channels * 2;
            size = std::max<LONG>(parameters_->sample_rate / 20, 256) * block;
            request->cBuffers = std::max(request->cBuffers, kAudioBuffers);
        }
        request->cbBuffer = std::max(request->cbBuffer, size);
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = allocator->SetProperties(request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < size ? E_FAIL : S_OK;
    }

    HRESULT StartStreaming() override {
        codec_ = OpenDecoder(parameters_.get());
        frame_.reset(av_frame_alloc());
        packet_.reset(av_packet_alloc());
        if (!codec_ || !frame_ || !packet_) return VFW_E_TYPE_NOT_ACCEPTED;
        const WAVEFORMATEX* output = OutputType().WaveFormat();
        outputRate_ = output ? static_cast<int>(output->nSamplesPerSec) : 0;
        outputChannels_ = output ? output->nChannels : 0;
        ResetTiming();
        failedPackets_ = 0;
        return S_OK;
    }

    HRESULT StopStreaming() override {
        codec_.reset();
        frame_.reset();
        packet_.reset();
        resampler_.reset();
        scaler_.reset();
        pending_.clear();
        return S_OK;
    }

    HRESULT Receive(IMediaSample* sample) override {
        if (!codec_) return S_FALSE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        LONG length = sample->GetActualDataLength();
        REFERENCE_TIME start = 0, stop = 0;
        bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
        if (length <= 0) return S_OK;

        bool sync = sample->IsSyncPoint() == S_OK;
        size_t size = static_cast<size_t>(length);
        if (IsPcmCodec(parameters_->codec_id) && parameters_->block_align > 0) {
            auto align = static_cast<size_t>(parameters_->block_align);
            // Sample frames may straddle input buffers; the PCM decoders only take whole ones.
            if (!pending_.empty() || size % align != 0) {
                if (!pending_.empty()) timed = false;
                pending_.insert(pending_.end(), data, data + length);
                size_t whole = pending_.size() / align * align;
                if (whole == 0) return S_OK;
                HRESULT hr = CopyPacket(pending_.data(), whole)
                                 ? Decode(timed ? &start : nullptr, sync)
                                 : StreamingError(E_OUTOFMEMORY);
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(whole));
                return hr;
            }
        }
        // A demuxed packet's buffer is shared, not copied.
        auto carried = QueryAs<IPacketSample>(sample);
        bool ready = carried && carried->Buffer() ? ShareBuffer(carried->Buffer(), data, size)
                                                  : CopyPacket(data, size);
        if (ready && carried && !IsVideo()) ready = PassEndDiscard(carried->EndDiscard());
        if (!ready) return StreamingError(E_OUTOFMEMORY);
        return Decode(timed ? &start : nullptr, sync);
    }

    HRESULT OnEndOfStream() override {
        if (!codec_) return S_OK;
        avcodec_send_packet(codec_.get(), nullptr);
        HRESULT hr = ReceiveFrames();
        if (hr == S_OK && resampler_) hr = FlushResampler();
        return hr;
    }

    void OnFlush() override {
        if (codec_) avcodec_flush_buffers(codec_.get());
        resampler_.reset();
        pending_.clear();
        ResetTiming();
    }

private:
    bool IsVideo() const { return parameters_ && parameters_->codec_type == AVMEDIA_TYPE_VIDEO; }

    void ResetTiming() {
        anchored_ = false;
        anchorTime_ = 0;
        samplesSinceAnchor_ = 0;
        nextVideoTime_ = 0;
    }

    bool CopyPacket(const BYTE* data, size_t size) {
        av_packet_unref(packet_.get());
        if (av_new_packet(packet_.get(), static_cast<int>(size)) < 0) return false;
        std::memcpy(packet_->data, data, size);
        return true;
    }

    bool ShareBuffer(AVBufferRef* buffer, const BYTE* data, size_t size) {
        av_packet_unref(packet_.get());
        packet_->buf = av_buffer_ref(buffer);
        if (!packet_->buf) return false;
        packet_->data = const_cast<BYTE*>(data);
        packet_->size = static_cast<int>(size);
        return true;
    }

    // The padding a container declares after the last sample (an MP3's Info frame) is
    // dropped by the codec. The encoder delay at the start is not passed on:
    // the time stamps already place it before 0, where DeliverPcm cuts it.
    bool PassEndDiscard(int samples) {
        if (samples <= 0) return true;
        uint8_t* skip = av_packet_new_side_data(packet_.get(), AV_PKT_DATA_SKIP_SAMPLES, 10);
        if (!skip) return false;
        std::memset(skip, 0, 10);
        AV_WL32(skip + 4, static_cast<uint32_t>(samples));
        return true;
    }

    // Decodes packet_, which holds the input's bytes and nothing else yet.
    HRESULT Decode(const REFERENCE_TIME* start, bool sync) {
        AVPacket* packet = packet_.get();
        packet->pts = start ? *start : AV_NOPTS_VALUE;
        if (sync) packet->flags |= AV_PKT_FLAG_KEY;
        int error = avcodec_send_packet(codec_.get(), packet);
        if (error == AVERROR(EAGAIN)) {
            HRESULT hr = ReceiveFrames();
            if (hr != S_OK) return hr;
            error = avcodec_send_packet(codec_.get(), packet);
        }
        if (error == AVERROR(ENOMEM)) return StreamingError(E_OUTOFMEMORY);
        int before = framesDecoded_;
        HRESULT hr = ReceiveFrames();
        // Damaged packets are skipped as players do; only a stream that stays undecodable
        // ends the run.
        failedPackets_ = framesDecoded_ > before || error >= 0 ? 0 : failedPackets_ + 1;
        if (failedPackets_ >= kMaxFailedPackets) return StreamingError(VFW_E_INVALID_FILE_FORMAT);
        return hr;
    }

    HRESULT ReceiveFrames() {
        while (true) {
            int error = avcodec_receive_frame(codec_.get(), frame_.get());
            if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return S_OK;
            if (error == AVERROR(ENOMEM)) return StreamingError(E_OUTOFMEMORY);
            if (error < 0) return S_OK;  // a damaged frame; the next packet goes on
            ++framesDecoded_;
            HRESULT hr = IsVideo() ? DeliverVideo(frame_.get()) : DeliverAudio(frame_.get());
            av_frame_unref(frame_.get());
            if (hr != S_OK) return hr;
        }
    }

    HRESULT DeliverAudio(AVFrame* frame) {
        AVChannelLayout layout{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels < 1)
            av_channel_layout_default(&layout, std::max(frame->ch_layout.nb_channels, 1));
        else
            av_channel_layout_copy(&layout, &frame->ch_layout);
        bool changed = !resampler_ || frame->format != inputFormat_ ||
                       frame->sample_rate != inputRate_ ||
                       av_channel_layout_compare(&layout, &inputLayout_) != 0;
        if (changed) {
            av_channel_layout_uninit(&inputLayout_);
            av_channel_layout_copy(&inputLayout_, &layout);
            inputFormat_ = frame->format;
            inputRate_ = frame->sample_rate;
            AVChannelLayout outputLayout{};
            av_channel_layout_default(&outputLayout, outputChannels_);
            SwrContext* resampler = nullptr;
            int error = swr_alloc_set_opts2(
                &resampler, &outputLayout, AV_SAMPLE_FMT_S16, outputRate_, &layout,
                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
            resampler_.reset(resampler);
            av_channel_layout_uninit(&outputLayout);
            if (error < 0 || swr_init(resampler_.get()) < 0) {
                resampler_.reset();
                av_channel_layout_uninit(&layout);
                return S_OK;  // a format we cannot convert: skip the frame
            }
        }
        av_channel_layout_uninit(&layout);
        if (!anchored_ || frame->best_effort_timestamp != AV_NOPTS_VALUE) {
            REFERENCE_TIME stamp = frame->best_effort_timestamp;
            if (stamp != AV_NOPTS_VALUE &&
                (!anchored_ || std::abs(stamp - NextAudioTime()) > kTimeJumpTolerance)) {
                anchorTime_ = stamp;
                samplesSinceAnchor_ = 0;
            }
            anchored_ = true;
        }
        int capacity = swr_get_out_samples(resampler_.get(), frame->nb_samples);
        if (capacity <= 0) return S_OK;
        converted_.resize(static_cast<size_t>(capacity) * outputChannels_ * 2);
        uint8_t* out = converted_.data();
        int samples =
            swr_convert(resampler_.get(), &out, capacity,
                        const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
        return samples > 0 ? DeliverPcm(samples) : S_OK;
    }

    HRESULT FlushResampler() {
        int capacity = swr_get_out_samples(resampler_.get(), 0);
        if (capacity <= 0) return S_OK;
        converted_.resize(static_cast<size_t>(capacity) * outputChannels_ * 2);
        uint8_t* out = converted_.data();
        int samples = swr_convert(resampler_.get(), &out, capacity, nullptr, 0);
        return samples > 0 ? DeliverPcm(samples) : S_OK;
    }

    REFERENCE_TIME NextAudioTime() const {
        return anchorTime_ + samplesSinceAnchor_ * kUnitsPerSecond / outputRate_;
    }

    // Delivers the first `samples` sample frames of converted_, cut at time 0.
    HRESULT DeliverPcm(int samples) {
        size_t block = static_cast<size_t>(outputChannels_) * 2;
        size_t offset = 0;
        size_t left = static_cast<size_t>(samples);
        REFERENCE_TIME start = NextAudioTime();
        if (start < 0) {
            // Pre-roll after a seek, or the encoder delay the container says to skip: drop
            // what lies before time 0. The time came through 100 ns units, so the count is
            // rounded to the nearest sample; rounding up would drop one sample too many and
            // shift everything after it.
            auto early =
                static_cast<size_t>((-start * outputRate_ + kUnitsPerSecond / 2) / kUnitsPerSecond);
            early = std::min(early, left);
            samplesSinceAnchor_ += static_cast<int64_t>(early);
            offset = early;
            left -= early;
            // Less than half a sample before 0 is left by the rounding: start the clock at 0.
            if (NextAudioTime() < 0) anchorTime_ -= NextAudioTime();
        }
        while (left > 0) {
            ComPtr<IMediaSample> out;
            HRESULT hr = output_->GetDeliveryBuffer(out.Put());
            if (FAILED(hr)) return S_FALSE;  // stopping or flushing
            size_t chunk = std::min(left, static_cast<size_t>(out->GetSize()) / block);
            BYTE* buffer = nullptr;
            out->GetPointer(&buffer);
            std::memcpy(buffer, converted_.data() + offset * block, chunk * block);
            out->SetActualDataLength(static_cast<LONG>(chunk * block));
            REFERENCE_TIME begin = NextAudioTime();
            samplesSinceAnchor_ += static_cast<int64_t>(chunk);
            REFERENCE_TIME end = NextAudioTime();
            out->SetTime(&begin, &end);
            out->SetSyncPoint(TRUE);
            hr = output_->Deliver(out.Get());
            if (hr != S_OK) return hr;
            offset += chunk;
            left -= chunk;
        }
        return S_OK;
    }

    HRESULT DeliverVideo(AVFrame* frame) {
        REFERENCE_TIME start = frame->best_effort_timestamp != AV_NOPTS_VALUE
                                   ? frame->best_effort_timestamp
                                   : nextVideoTime_;
        REFERENCE_TIME duration = frame->pkt_duration > 0 ? frame->pkt_duration : frameTime_;
        nextVideoTime_ = start + duration;
        if (start < 0) return S_OK;  // pre-roll after a seek
        int width = parameters_->width, height = parameters_->height;
        scaler_.reset(sws_getCachedContext(scaler_.release(), frame->width, frame->height,
                                           static_cast<AVPixelFormat>(frame->format), width, height,
                                           AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                           nullptr));
        if (!scaler_) return S_OK;  // a pixel format we cannot convert: skip the frame
        ComPtr<IMediaSample> out;
        if (FAILED(output_->GetDeliveryBuffer(out.Put()))) return S_FALSE;
        BYTE* buffer = nullptr;
        out->GetPointer(&buffer);
        uint8_t* planes[4] = {buffer, nullptr, nullptr, nullptr};
        int strides[4] = {width * 4, 0, 0, 0};
        sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
        out->SetActualDataLength(width * height * 4);
        REFERENCE_TIME stop = start + duration;
        out->SetTime(&start, &stop);
        out->SetSyncPoint(TRUE);
        return output_->Deliver(out.Get());
    }

    ffmpeg::ParametersPtr parameters_;
    REFERENCE_TIME frameTime_ = kDefaultFrameTime;
    ffmpeg::CodecPtr codec_;
    ffmpeg::FramePtr frame_;
    ffmpeg::PacketPtr packet_;  // reused for every input; the codec keeps its own reference
    ffmpeg::ResamplerPtr resampler_;
    ffmpeg::ScalerPtr scaler_;
    AVChannelLayout inputLayout_{};
    int inputFormat_ = -1;
    int inputRate_ = 0;
    int outputRate_ = 0;
    int outputChannels_ = 0;
    std::vector<uint8_t> converted_;
    std::vector<uint8_t> pending_;
    int framesDecoded_ = 0;
    int failedPackets_ = 0;

    bool anchored_ = false;
    REFERENCE_TIME anchorTime_ = 0;
    int64_t samplesSinceAnchor_ = 0;
    REFERENCE_TIME nextVideoTime_ = 0;
};

}  // namespace

HRESULT CreateFfmpegDecoder(REFIID iid, void** out) {
    return CreateObject<FfmpegDecoder>(iid, out);
}

}  // namespace quil::filters
