// "ASF Writer": writes PCM as a Windows Media Audio file with the audio settings of the
// configured profile (codec, rate, channels, bit rate), on FFmpeg's wmav1/wmav2 encoders and
// its ASF muxer. The input pin is always there and takes any PCM; streaming needs a profile
// with exactly one audio stream and a file name. The file is finalised at end of stream, or at
// stop when the stream did not end. A failed write (a full disk is
// HRESULT_FROM_WIN32(ERROR_DISK_FULL)) aborts the stream, and the file is cut back to its last
// whole data packet with its header made to match (asf_repair.h).

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "platform/com/strings.h"
#include "platform/filters/asf_repair.h"
#include "platform/filters/class_ids.h"
#include "platform/filters/encoder_interfaces.h"
#include "platform/filters/ffmpeg_util.h"
#include "platform/filters/file_errors.h"
#include "platform/filters/filter_factories.h"
#include "platform/graph/sink_filter.h"

namespace quil::filters {

namespace {

struct AudioSettings {
    AVCodecID codec;
    int rate;
    int channels;
    int64_t bitrate;
};

struct OutputClose {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};
struct IoClose {
    void operator()(AVIOContext* io) const {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct FifoFree {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};

AVSampleFormat SampleFormatOf(const WAVEFORMATEX& format) {
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 32)
        return AV_SAMPLE_FMT_FLT;
    if (format.wFormatTag != WAVE_FORMAT_PCM) return AV_SAMPLE_FMT_NONE;
    switch (format.wBitsPerSample) {
        case 8:
            return AV_SAMPLE_FMT_U8;
        case 16:
            return AV_SAMPLE_FMT_S16;
        case 32:
            return AV_SAMPLE_FMT_S32;
        default:
            return AV_SAMPLE_FMT_NONE;
    }
}

// What the profile says about its one audio stream.
HRESULT ReadProfile(IWMProfile* profile, AudioSettings* settings) {
    DWORD count = 0;
    if (FAILED(profile->GetStreamCount(&count)) || count != 1) return E_INVALIDARG;
    ComPtr<IWMStreamConfig> stream;
    GUID major{};
    if (FAILED(profile->GetStream(0, stream.Put())) || FAILED(stream->GetStreamType(&major)) ||
        major != WMMEDIATYPE_Audio)
        return E_INVALIDARG;
    auto props = stream.As<IWMMediaProps>();
    DWORD size = 0;
    if (!props || FAILED(props->GetMediaType(nullptr, &size)) || size < sizeof(WM_MEDIA_TYPE))
        return E_INVALIDARG;
    std::vector<BYTE> buffer(size);
    auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
    if (FAILED(props->GetMediaType(type, &size))) return E_INVALIDARG;
    if (type->formattype != WMFORMAT_WaveFormatEx || type->cbFormat < sizeof(WAVEFORMATEX) ||
        !type->pbFormat)
        return E_INVALIDARG;
    WAVEFORMATEX format;
    std::memcpy(&format, type->pbFormat, sizeof(format));
    DWORD bitrate = 0;
    if (FAILED(stream->GetBitrate(&bitrate))) return E_INVALIDARG;
    if (type->subtype == WMMEDIASUBTYPE_WMAudioV1)
        settings->codec = AV_CODEC_ID_WMAV1;
    else if (type->subtype == WMMEDIASUBTYPE_WMAudioV2)
        settings->codec = AV_CODEC_ID_WMAV2;
    else
        return E_INVALIDARG;
    // The encoders' limits: at most 48 kHz and two channels, at least 24 kbit/s.
    if (format.nChannels < 1 || format.nChannels > 2 || format.nSamplesPerSec < 8000 ||
        format.nSamplesPerSec > 48000 || bitrate < 24000)
        return E_INVALIDARG;
    settings->rate = static_cast<int>(format.nSamplesPerSec);
    settings->channels = format.nChannels;
    settings->bitrate = bitrate;
    return S_OK;
}

class AsfWriter : public SinkFilter, public IFileSinkFilter2, public IConfigAsfWriter {
public:
    AsfWriter() : SinkFilter(CLSID_AsfWriter, false, L"Audio Input 01") { ffmpeg::Initialise(); }
    ~AsfWriter() override { Close(); }

    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (InterfaceMatches<IFileSinkFilter2>(iid))
            return GetInterface<IFileSinkFilter2>(this, out);
        if (InterfaceMatches<IConfigAsfWriter>(iid))
            return GetInterface<IConfigAsfWriter>(this, out);
        return SinkFilter::NonDelegatingQueryInterface(iid, out);
    }

    // IFileSinkFilter2
    HRESULT SetFileName(LPCWSTR file, const AM_MEDIA_TYPE*) override {
        if (!file) return E_POINTER;
        std::lock_guard lock(stateLock_);
        if (!IsStopped()) return VFW_E_NOT_STOPPED;
        std::string path = Narrow(file);
        if (path.empty()) return E_INVALIDARG;
        path_ = path;
        return S_OK;
    }
    HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* type) override;
    HRESULT SetMode(DWORD flags) override {
        mode_ = flags;
        return S_OK;
    }
    HRESULT GetMode(DWORD* flags) override {
        if (!flags) return E_POINTER;
        *flags = mode_;
        return S_OK;
    }

    // IConfigAsfWriter
    HRESULT ConfigureFilterUsingProfileId(DWORD) override { return E_NOTIMPL; }
    HRESULT GetCurrentProfileId(DWORD*) override { return E_NOTIMPL; }
    HRESULT ConfigureFilterUsingProfileGuid(REFGUID) override { return E_NOTIMPL; }
    HRESULT GetCurrentProfileGuid(GUID*) override { return E_NOTIMPL; }
    HRESULT ConfigureFilterUsingProfile(IWMProfile* profile) override;
    HRESULT GetCurrentProfile(IWMProfile** profile) override {
        if (!profile) return E_POINTER;
        std::lock_guard lock(stateLock_);
        *profile = profile_.Get();
        if (!*profile) return E_FAIL;
        (*profile)->AddRef();
        return S_OK;
    }
    // FFmpeg's muxer indexes only files with video; the flag is kept for the caller.
    HRESULT SetIndexMode(BOOL indexFile) override {
        indexMode_ = indexFile;
        return S_OK;
    }
    HRESULT GetIndexMode(BOOL* indexFile) override {
        if (!indexFile) return E_POINTER;
        *indexFile = indexMode_;
        return S_OK;
    }

    // SinkFilter
    HRESULT CheckMediaType(const MediaType& type) override {
        const WAVEFORMATEX* format = type.WaveFormat();
        if (type.majortype != MEDIATYPE_Audio || !format) return S_FALSE;
        if (type.subtype != MEDIASUBTYPE_PCM && type.subtype != MEDIASUBTYPE_IEEE_FLOAT)
            return S_FALSE;
        if (SampleFormatOf(*format) == AV_SAMPLE_FMT_NONE) return S_FALSE;
        if (format->nChannels < 1 || format->nChannels > 8) return S_FALSE;
        if (format->nSamplesPerSec < 1000 || format->nSamplesPerSec > 384000) return S_FALSE;
        return format->nBlockAlign == format->nChannels * format->wBitsPerSample / 8 ? S_OK
                                                                                     : S_FALSE;
    }
    HRESULT GetPreferredType(int position, MediaType* type) override {
        if (position != 0 || !settings_) return VFW_S_NO_MORE_ITEMS;
        *type = PcmMediaType(settings_->rate, settings_->channels, 16);
        return S_OK;
    }
    HRESULT StartStreaming() override;
    HRESULT RenderSample(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override { return Finish(); }
    // A failure while finishing at stop is reported as an abort like any other; the stop
    // itself goes through.
    HRESULT StopStreaming() override {
        HRESULT hr = Finish();
        if (FAILED(hr)) ReportError(hr);
        return S_OK;
    }

private:
    using SinkFilter::PrimaryInterface;

    HRESULT OpenOutput();
    HRESULT OpenConverter(const WAVEFORMATEX& in);
    // Converts input frames (none: what the resampler holds back) into the FIFO.
    HRESULT Resample(const uint8_t* const* input, int frames);
    // Encodes whole frames from the FIFO; with pad, the rest too, filled up with silence.
    HRESULT EncodeFrames(bool pad);
    HRESULT EncodeSilence(int frames);
    HRESULT WritePackets();
    HRESULT Finish();
    void Close();
    HRESULT Failure(int error) {
        if (FAILED(ioError_)) return ioError_;
        return ffmpeg::HresultFromAverror(error);
    }

    static int WriteCallback(void* self, uint8_t* data, int size);
    static int64_t SeekCallback(void* self, int64_t offset, int whence);

    std::string path_;
    DWORD mode_ = AM_FILE_OVERWRITE;
    BOOL indexMode_ = TRUE;
    ComPtr<IWMProfile> profile_;
    std::optional<AudioSettings> settings_;

    // One stream's output, live from StartStreaming to Finish.
    int fd_ = -1;
    HRESULT ioError_ = S_OK;
    int64_t dataStart_ = 0;
    int64_t packetSize_ = 0;
    std::unique_ptr<AVIOContext, IoClose> io_;
    std::unique_ptr<AVFormatContext, OutputClose> format_;
    ffmpeg::CodecPtr encoder_;
    ffmpeg::ResamplerPtr resampler_;
    std::unique_ptr<AVAudioFifo, FifoFree> fifo_;
    ffmpeg::FramePtr frame_;
    ffmpeg::PacketPtr packet_;
    int inBlock_ = 4;
    int64_t nextPts_ = 0;
    bool open_ = false;
};

HRESULT AsfWriter::GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* type) {
    if (!file) return E_POINTER;
    std::wstring wide = Widen(path_);
    *file = static_cast<LPWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(WCHAR)));
    if (!*file) return E_OUTOFMEMORY;
    std::copy_n(wide.c_str(), wide.size() + 1, *file);
    if (type) {
        MediaType none;
        CopyMediaType(type, &none);
    }
    return S_OK;
}

HRESULT AsfWriter::ConfigureFilterUsingProfile(IWMProfile* profile) {
    if (!profile) return E_POINTER;
    std::lock_guard lock(stateLock_);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    AudioSettings settings;
    HRESULT hr = ReadProfile(profile, &settings);
    if (FAILED(hr)) return hr;
    profile_ = ComPtr<IWMProfile>(profile);
    settings_ = settings;
    return S_OK;
}

int AsfWriter::WriteCallback(void* self, uint8_t* data, int size) {
    auto* writer = static_cast<AsfWriter*>(self);
    int left = size;
    while (left > 0) {
        ssize_t written = ::write(writer->fd_, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            int error = written < 0 ? errno : ENOSPC;
            if (SUCCEEDED(writer->ioError_)) writer->ioError_ = HresultFromErrno(error);
            return AVERROR(error);
        }
        data += written;
        left -= static_cast<int>(written);
    }
    return size;
}

int64_t AsfWriter::SeekCallback(void* self, int64_t offset, int whence) {
    auto* writer = static_cast<AsfWriter*>(self);
    if (whence == AVSEEK_SIZE) {
        off_t end = ::lseek(writer->fd_, 0, SEEK_END);
        return end < 0 ? AVERROR(errno) : end;
    }
    off_t at = ::lseek(writer->fd_, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

HRESULT AsfWriter::OpenOutput() {
    // Read access too: repairing a cut-off file reads its header back.
    int flags = O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC;
    fd_ = ::open(path_.c_str(), flags, 0644);
    if (fd_ < 0) return HresultFromErrno(errno);
    ioError_ = S_OK;

    constexpr int kIoBufferSize = 64 * 1024;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (!buffer) return E_OUTOFMEMORY;
    io_.reset(
        avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &WriteCallback, &SeekCallback));
    if (!io_) {
        av_free(buffer);
        return E_OUTOFMEMORY;
    }
    io_->seekable = AVIO_SEEKABLE_NORMAL;

    AVFormatContext* context = nullptr;
    int error = avformat_alloc_output_context2(&context, nullptr, "asf", nullptr);
    if (error < 0) return Failure(error);
    format_.reset(context);
    format_->pb = io_.get();
    // No "encoder" attribute or other metadata in the file: tags are the tag editor's.
    format_->flags |= AVFMT_FLAG_BITEXACT;

    const AVCodec* codec = avcodec_find_encoder(settings_->codec);
    if (!codec) return REGDB_E_CLASSNOTREG;
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_) return E_OUTOFMEMORY;
    encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder_->sample_rate = settings_->rate;
    av_channel_layout_default(&encoder_->ch_layout, settings_->channels);
    encoder_->bit_rate = settings_->bitrate;
    encoder_->time_base = AVRational{1, settings_->rate};
    if (format_->oformat->flags & AVFMT_GLOBALHEADER)
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if ((error = avcodec_open2(encoder_.get(), codec, nullptr)) < 0) return Failure(error);

    AVStream* stream = avformat_new_stream(format_.get(), nullptr);
    if (!stream) return E_OUTOFMEMORY;
    if ((error = avcodec_parameters_from_context(stream->codecpar, encoder_.get())) < 0)
        return Failure(error);
    stream->time_base = encoder_->time_base;
    if ((error = avformat_write_header(format_.get(), nullptr)) < 0) return Failure(error);
    avio_flush(io_.get());
    if (FAILED(ioError_)) return ioError_;
    // Data packets start right behind the header, each of the muxer's packet size.
    dataStart_ = avio_tell(io_.get());
    if (av_opt_get_int(format_->priv_data, "packet_size", 0, &packetSize_) < 0) packetSize_ = 0;
    open_ = true;
    return S_OK;
}

HRESULT AsfWriter::OpenConverter(const WAVEFORMATEX& in) {
    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, in.nChannels);
    SwrContext* context = nullptr;
    int error = swr_alloc_set_opts2(&context, &encoder_->ch_layout, AV_SAMPLE_FMT_FLTP,
                                    encoder_->sample_rate, &inLayout, SampleFormatOf(in),
                                    static_cast<int>(in.nSamplesPerSec), 0, nullptr);
    resampler_.reset(context);
    if (error < 0 || (error = swr_init(context)) < 0) return Failure(error);
    inBlock_ = in.nBlockAlign;

    fifo_.reset(
        av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, settings_->channels, encoder_->frame_size * 4));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!fifo_ || !frame_ || !packet_) return E_OUTOFMEMORY;
    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->nb_samples = encoder_->frame_size;
    frame_->sample_rate = encoder_->sample_rate;
    if ((error = av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout)) < 0 ||
        (error = av_frame_get_buffer(frame_.get(), 0)) < 0)
        return Failure(error);
    return S_OK;
}

HRESULT AsfWriter::StartStreaming() {
    if (!settings_) return NS_E_INVALID_REQUEST;
    if (path_.empty()) return E_INVALIDARG;
    const WAVEFORMATEX* in = InputType().WaveFormat();
    if (!in) return VFW_E_NOT_CONNECTED;
    nextPts_ = 0;
    HRESULT hr = OpenOutput();
    if (SUCCEEDED(hr)) hr = OpenConverter(*in);
    if (FAILED(hr)) {
        Close();
        return hr;
    }
    return S_OK;
}

HRESULT AsfWriter::WritePackets() {
    while (true) {
        int error = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return S_OK;
        if (error < 0) return Failure(error);
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, format_->streams[0]->time_base);
        packet_->stream_index = 0;
        error = av_write_frame(format_.get(), packet_.get());
        av_packet_unref(packet_.get());
        if (error < 0) return Failure(error);
        if (FAILED(ioError_)) return ioError_;
    }
}

HRESULT AsfWriter::EncodeFrames(bool pad) {
    int frameSize = encoder_->frame_size;
    while (av_audio_fifo_size(fifo_.get()) >= frameSize ||
           (pad && av_audio_fifo_size(fifo_.get()) > 0)) {
        int error = av_frame_make_writable(frame_.get());
        if (error < 0) return Failure(error);
        int got =
            av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->data), frameSize);
        if (got < 0) return Failure(got);
        // The encoders take only whole frames: the last one is padded with silence.
        if (got < frameSize)
            av_samples_set_silence(frame_->data, got, frameSize - got, settings_->channels,
                                   AV_SAMPLE_FMT_FLTP);
        frame_->pts = nextPts_;
        nextPts_ += frameSize;
        if ((error = avcodec_send_frame(encoder_.get(), frame_.get())) < 0) return Failure(error);
        HRESULT hr = WritePackets();
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT AsfWriter::EncodeSilence(int frames) {
    std::vector<uint8_t*> planes(static_cast<size_t>(settings_->channels));
    int error = av_samples_alloc(planes.data(), nullptr, settings_->channels, frames,
                                 AV_SAMPLE_FMT_FLTP, 0);
    if (error < 0) return Failure(error);
    av_samples_set_silence(planes.data(), 0, frames, settings_->channels, AV_SAMPLE_FMT_FLTP);
    int written = av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes.data()), frames);
    av_freep(&planes[0]);
    if (written < frames) return E_OUTOFMEMORY;
    return EncodeFrames(true);
}

HRESULT AsfWriter::RenderSample(IMediaSample* sample) {
    if (!open_) return FAILED(ioError_) ? ioError_ : E_UNEXPECTED;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    int frames = sample->GetActualDataLength() / inBlock_;
    if (frames <= 0) return S_OK;
    const uint8_t* input[1] = {data};
    HRESULT hr = Resample(input, frames);
    return FAILED(hr) ? hr : EncodeFrames(false);
}

HRESULT AsfWriter::Resample(const uint8_t* const* input, int frames) {
    int capacity = swr_get_out_samples(resampler_.get(), frames);
    if (capacity <= 0) return S_OK;
    std::vector<uint8_t*> planes(static_cast<size_t>(settings_->channels));
    int error = av_samples_alloc(planes.data(), nullptr, settings_->channels, capacity,
                                 AV_SAMPLE_FMT_FLTP, 0);
    if (error < 0) return Failure(error);
    int produced = swr_convert(resampler_.get(), planes.data(), capacity,
                               input ? const_cast<const uint8_t**>(input) : nullptr, frames);
    if (produced > 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes.data()),
                                            produced) < produced)
        produced = AVERROR(ENOMEM);
    av_freep(&planes[0]);
    return produced < 0 ? Failure(produced) : S_OK;
}

HRESULT AsfWriter::Finish() {
    if (!open_) {
        Close();
        return S_OK;
    }
    HRESULT hr = ioError_;
    if (SUCCEEDED(hr)) {
        // What the resampler holds back, then the padded last frame, then the encoder's delay.
        hr = Resample(nullptr, 0);
    }
    if (SUCCEEDED(hr)) {
        hr = EncodeFrames(true);
        // The encoders hold back one frame for their transform's overlap and give out nothing
        // when flushed: a frame of silence pushes the end of the audio out.
        if (SUCCEEDED(hr)) hr = EncodeSilence(encoder_->frame_size);
        if (SUCCEEDED(hr)) {
            int error = avcodec_send_frame(encoder_.get(), nullptr);
            hr = error < 0 ? Failure(error) : WritePackets();
        }
        if (SUCCEEDED(hr)) {
            int error = av_write_trailer(format_.get());
            avio_flush(io_.get());
            if (error < 0 || FAILED(ioError_)) hr = Failure(error);
        }
    }
    if (FAILED(hr) && fd_ >= 0) RepairTruncatedAsf(fd_, dataStart_, packetSize_);
    if (fd_ >= 0 && ::fsync(fd_) != 0 && errno != EINVAL && SUCCEEDED(hr))
        hr = HresultFromErrno(errno);
    Close();
    return hr;
}

void AsfWriter::Close() {
    open_ = false;
    packet_.reset();
    frame_.reset();
    fifo_.reset();
    resampler_.reset();
    encoder_.reset();
    if (format_) format_->pb = nullptr;
    format_.reset();
    io_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace

HRESULT CreateAsfWriter(REFIID iid, void** out) {
    return CreateObject<AsfWriter>(iid, out);
}

}  // namespace quil::filters
