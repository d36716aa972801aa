#include "platform/filters/ffmpeg_util.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/com/strings.h"
#include "platform/graph/interfaces.h"
#include "platform/graph/source_file.h"

namespace quil::ffmpeg {

namespace {

constexpr uint32_t ERROR_READ_FAULT = 30;
constexpr uint32_t ERROR_CONNECTION_REFUSED = 1225;
constexpr uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;

// Connect and read time-outs of stream sources; opening as a whole (connect, handshake,
// probing) must also end within kOpenTimeout.
constexpr int64_t kSocketTimeoutUs = 10'000'000;
constexpr auto kOpenTimeout = std::chrono::seconds(30);

// Local files never reach the network; URLs never reach local files or pipes.
constexpr const char* kLocalProtocols = "file";
constexpr const char* kStreamProtocols = "http,https,tls,tcp,udp,rtp,rtsp,mmsh,mmst,crypto";

constexpr uint32_t kCodecBlockMagic = 0x43464651;  // "QFFC"

// Travels behind the WAVEFORMATEX or VIDEOINFOHEADER of a compressed type, followed by the
// codec's extra data.
struct CodecBlock {
    uint32_t magic;
    uint32_t size;
    int32_t codecType;
    int32_t codecId;
    uint32_t codecTag;
    int32_t format;
    int64_t bitRate;
    int32_t bitsPerCodedSample;
    int32_t bitsPerRawSample;
    int32_t profile;
    int32_t level;
    int32_t width;
    int32_t height;
    int32_t aspectNum;
    int32_t aspectDen;
    int32_t fieldOrder;
    int32_t colorRange;
    int32_t colorPrimaries;
    int32_t colorTrc;
    int32_t colorSpace;
    int32_t chromaLocation;
    int32_t channels;
    int32_t channelOrder;
    uint64_t channelMask;
    int32_t sampleRate;
    int32_t blockAlign;
    int32_t frameSize;
    int32_t initialPadding;
    int32_t trailingPadding;
    int32_t seekPreroll;
    uint32_t extradataSize;
};

constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
constexpr size_t kExtensibleSize = 40;

// {XXXXXXXX-4646-6D70-8C51-2E6B903D417A}: codec id in the first field.
constexpr GUID kCodecSubtypeBase = quil::Guid("{00000000-4646-6D70-8C51-2E6B903D417A}");

std::string Scheme(const std::string& location) {
    auto colon = location.find("://");
    if (colon == std::string::npos || colon < 2) return {};
    std::string scheme = location.substr(0, colon);
    bool valid = std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    });
    return valid ? ToLowerAscii(scheme) : std::string();
}

ParametersPtr PcmParameters(const BYTE* raw, size_t formatSize) {
    WAVEFORMATEX format;
    std::memcpy(&format, raw, sizeof format);
    WORD tag = format.wFormatTag;
    int bits = format.wBitsPerSample;
    bool isFloat = tag == WAVE_FORMAT_IEEE_FLOAT;
    uint64_t mask = 0;
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        if (formatSize < kExtensibleSize || format.cbSize < 22) return {};
        WORD validBits;
        DWORD channelMask;
        GUID subFormat;
        std::memcpy(&validBits, raw + 18, 2);
        std::memcpy(&channelMask, raw + 20, 4);
        std::memcpy(&subFormat, raw + 24, 16);
        if (subFormat == MEDIASUBTYPE_IEEE_FLOAT)
            isFloat = true;
        else if (subFormat != MEDIASUBTYPE_PCM)
            return {};
        if (validBits && validBits != bits) return {};
        mask = channelMask;
    } else if (tag == WAVE_FORMAT_PCM) {
        // Plain 8 and 16 bits are for the PCM converter.
        if (bits != 24 && bits != 32) return {};
    } else if (!isFloat) {
        return {};
    }
    AVCodecID codec = AV_CODEC_ID_NONE;
    if (isFloat)
        codec = bits == 32 ? AV_CODEC_ID_PCM_F32LE : bits == 64 ? AV_CODEC_ID_PCM_F64LE : codec;
    else
        codec = bits == 8    ? AV_CODEC_ID_PCM_U8
                : bits == 16 ? AV_CODEC_ID_PCM_S16LE
                : bits == 24 ? AV_CODEC_ID_PCM_S24LE
                : bits == 32 ? AV_CODEC_ID_PCM_S32LE
                             : codec;
    int channels = format.nChannels;
    if (codec == AV_CODEC_ID_NONE || channels < 1 || channels > 64 || format.nSamplesPerSec < 1 ||
        format.nSamplesPerSec > 768000 || format.nBlockAlign != channels * bits / 8)
        return {};
    ParametersPtr parameters(avcodec_parameters_alloc());
    if (!parameters) return {};
    parameters->codec_type = AVMEDIA_TYPE_AUDIO;
    parameters->codec_id = codec;
    parameters->sample_rate = static_cast<int>(format.nSamplesPerSec);
    parameters->block_align = format.nBlockAlign;
    parameters->bits_per_coded_sample = bits;
    if (mask && av_popcount64(mask) == channels)
        av_channel_layout_from_mask(&parameters->ch_layout, mask);
    else
        av_channel_layout_default(&parameters->ch_layout, channels);
    return parameters;
}

}  // namespace

void Initialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_FATAL);
        avformat_network_init();
    });
}

HRESULT HresultFromAverror(int error) {
    switch (error) {
        case AVERROR(ENOENT):
        case AVERROR_HTTP_NOT_FOUND:
            return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        case AVERROR(EACCES):
        case AVERROR(EPERM):
        case AVERROR_HTTP_FORBIDDEN:
        case AVERROR_HTTP_UNAUTHORIZED:
        case AVERROR_PROTOCOL_NOT_FOUND:
            return E_ACCESSDENIED;
        case AVERROR(ENOMEM):
            return E_OUTOFMEMORY;
        case AVERROR(ETIMEDOUT):
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        case AVERROR(ECONNREFUSED):
            return HRESULT_FROM_WIN32(ERROR_CONNECTION_REFUSED);
        case AVERROR(EHOSTUNREACH):
        case AVERROR(ENETUNREACH):
        case AVERROR(ECONNRESET):
            return HRESULT_FROM_WIN32(ERROR_INTERNET_CANNOT_CONNECT);
        case AVERROR(EIO):
            return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
        case AVERROR_EXIT:
            return E_ABORT;
        case AVERROR_INVALIDDATA:
        case AVERROR_EOF:
        case AVERROR_STREAM_NOT_FOUND:
            return VFW_E_INVALID_FILE_FORMAT;
        case AVERROR_DEMUXER_NOT_FOUND:
        case AVERROR_DECODER_NOT_FOUND:
            return VFW_E_UNKNOWN_FILE_TYPE;
        default:
            return E_FAIL;
    }
}

GUID CodecSubtype(AVCodecID codec) {
    GUID subtype = kCodecSubtypeBase;
    subtype.Data1 = static_cast<uint32_t>(codec);
    return subtype;
}

bool IsCodecSubtype(const GUID& subtype) {
    GUID base = subtype;
    base.Data1 = 0;
    return base == kCodecSubtypeBase && subtype.Data1 != 0;
}

MediaType CompressedMediaType(const AVCodecParameters* parameters, AVRational frameRate) {
    MediaType type;
    type.subtype = CodecSubtype(parameters->codec_id);
    type.bFixedSizeSamples = 0;
    type.bTemporalCompression = 1;
    type.lSampleSize = 0;

    CodecBlock block{};
    block.magic = kCodecBlockMagic;
    block.size = sizeof(CodecBlock);
    block.codecType = parameters->codec_type;
    block.codecId = parameters->codec_id;
    block.codecTag = parameters->codec_tag;
    block.format = parameters->format;
    block.bitRate = parameters->bit_rate;
    block.bitsPerCodedSample = parameters->bits_per_coded_sample;
    block.bitsPerRawSample = parameters->bits_per_raw_sample;
    block.profile = parameters->profile;
    block.level = parameters->level;
    block.width = parameters->width;
    block.height = parameters->height;
    block.aspectNum = parameters->sample_aspect_ratio.num;
    block.aspectDen = parameters->sample_aspect_ratio.den;
    block.fieldOrder = parameters->field_order;
    block.colorRange = parameters->color_range;
    block.colorPrimaries = parameters->color_primaries;
    block.colorTrc = parameters->color_trc;
    block.colorSpace = parameters->color_space;
    block.chromaLocation = parameters->chroma_location;
    block.channels = parameters->ch_layout.nb_channels;
    block.channelOrder = parameters->ch_layout.order;
    block.channelMask =
        parameters->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? parameters->ch_layout.u.mask : 0;
    block.sampleRate = parameters->sample_rate;
    block.blockAlign = parameters->block_align;
    block.frameSize = parameters->frame_size;
    block.initialPadding = parameters->initial_padding;
    block.trailingPadding = parameters->trailing_padding;
    block.seekPreroll = parameters->seek_preroll;
    block.extradataSize =
        parameters->extradata ? static_cast<uint32_t>(parameters->extradata_size) : 0;

    std::vector<BYTE> bytes;
    auto append = [&](const void* data, size_t size) {
        const BYTE* p = static_cast<const BYTE*>(data);
        bytes.insert(bytes.end(), p, p + size);
    };
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) {
        type.majortype = MEDIATYPE_Audio;
        type.formattype = FORMAT_WaveFormatEx;
        WAVEFORMATEX format{};
        uint32_t tag = parameters->codec_tag;
        // Never tag a compressed stream as plain PCM or float.
        format.wFormatTag = (tag > 0xFFFF || tag == WAVE_FORMAT_PCM ||
                             tag == WAVE_FORMAT_IEEE_FLOAT || tag == WAVE_FORMAT_EXTENSIBLE)
                                ? 0
                                : static_cast<WORD>(tag);
        format.nChannels = static_cast<WORD>(parameters->ch_layout.nb_channels);
        format.nSamplesPerSec = static_cast<DWORD>(parameters->sample_rate);
        format.nAvgBytesPerSec = static_cast<DWORD>(std::max<int64_t>(parameters->bit_rate, 0) / 8);
        format.nBlockAlign = static_cast<WORD>(std::max(parameters->block_align, 1));
        format.wBitsPerSample = static_cast<WORD>(parameters->bits_per_coded_sample);
        format.cbSize =
            static_cast<WORD>(std::min<size_t>(sizeof(CodecBlock) + block.extradataSize, 0xFFFF));
        append(&format, sizeof format);
    } else {
        type.majortype = MEDIATYPE_Video;
        type.formattype = FORMAT_VideoInfo;
        VIDEOINFOHEADER info{};
        info.rcSource = {0, 0, parameters->width, parameters->height};
        info.rcTarget = info.rcSource;
        info.dwBitRate =
            static_cast<DWORD>(std::clamp<int64_t>(parameters->bit_rate, 0, UINT32_MAX));
        if (frameRate.num > 0 && frameRate.den > 0)
            info.AvgTimePerFrame = av_rescale(10'000'000, frameRate.den, frameRate.num);
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = parameters->width;
        info.bmiHeader.biHeight = parameters->height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = static_cast<WORD>(parameters->bits_per_coded_sample);
        info.bmiHeader.biCompression = parameters->codec_tag;
        append(&info, sizeof info);
    }
    append(&block, sizeof block);
    if (block.extradataSize) append(parameters->extradata, block.extradataSize);
    type.SetFormat(bytes.data(), bytes.size());
    return type;
}

ParametersPtr ParametersFromMediaType(const AM_MEDIA_TYPE& type) {
    if (!type.pbFormat) return {};
    if (type.majortype == MEDIATYPE_Audio && type.formattype == FORMAT_WaveFormatEx &&
        (type.subtype == MEDIASUBTYPE_PCM || type.subtype == MEDIASUBTYPE_IEEE_FLOAT) &&
        type.cbFormat >= sizeof(WAVEFORMATEX)) {
        return PcmParameters(type.pbFormat, type.cbFormat);
    }
    if (!IsCodecSubtype(type.subtype)) return {};
    size_t header = 0;
    if (type.majortype == MEDIATYPE_Audio && type.formattype == FORMAT_WaveFormatEx)
        header = sizeof(WAVEFORMATEX);
    else if (type.majortype == MEDIATYPE_Video && type.formattype == FORMAT_VideoInfo)
        header = sizeof(VIDEOINFOHEADER);
    else
        return {};
    if (type.cbFormat < header + sizeof(CodecBlock)) return {};
    CodecBlock block;
    std::memcpy(&block, type.pbFormat + header, sizeof block);
    size_t available = type.cbFormat - header - sizeof(CodecBlock);
    if (block.magic != kCodecBlockMagic || block.size != sizeof(CodecBlock) ||
        block.extradataSize > available ||
        block.codecId != static_cast<int32_t>(type.subtype.Data1))
        return {};
    bool audio = type.majortype == MEDIATYPE_Audio;
    if (block.codecType != (audio ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO)) return {};
    if (audio && (block.channels < 1 || block.channels > 64 || block.sampleRate < 1 ||
                  block.sampleRate > 768000))
        return {};
    if (!audio &&
        (block.width < 1 || block.height < 1 || block.width > 16384 || block.height > 16384))
        return {};

    ParametersPtr parameters(avcodec_parameters_alloc());
    if (!parameters) return {};
    parameters->codec_type = static_cast<AVMediaType>(block.codecType);
    parameters->codec_id = static_cast<AVCodecID>(block.codecId);
    parameters->codec_tag = block.codecTag;
    parameters->format = block.format;
    parameters->bit_rate = block.bitRate;
    parameters->bits_per_coded_sample = block.bitsPerCodedSample;
    parameters->bits_per_raw_sample = block.bitsPerRawSample;
    parameters->profile = block.profile;
    parameters->level = block.level;
    parameters->width = block.width;
    parameters->height = block.height;
    parameters->sample_aspect_ratio = {block.aspectNum, block.aspectDen};
    parameters->field_order = static_cast<AVFieldOrder>(block.fieldOrder);
    parameters->color_range = static_cast<AVColorRange>(block.colorRange);
    parameters->color_primaries = static_cast<AVColorPrimaries>(block.colorPrimaries);
    parameters->color_trc = static_cast<AVColorTransferCharacteristic>(block.colorTrc);
    parameters->color_space = static_cast<AVColorSpace>(block.colorSpace);
    parameters->chroma_location = static_cast<AVChromaLocation>(block.chromaLocation);
    if (audio) {
        if (block.channelOrder == AV_CHANNEL_ORDER_NATIVE && block.channelMask &&
            av_popcount64(block.channelMask) == block.channels)
            av_channel_layout_from_mask(&parameters->ch_layout, block.channelMask);
        else
            av_channel_layout_default(&parameters->ch_layout, block.channels);
    }
    parameters->sample_rate = block.sampleRate;
    parameters->block_align = block.blockAlign;
    parameters->frame_size = block.frameSize;
    parameters->initial_padding = block.initialPadding;
    parameters->trailing_padding = block.trailingPadding;
    parameters->seek_preroll = block.seekPreroll;
    if (block.extradataSize) {
        parameters->extradata =
            static_cast<uint8_t*>(av_mallocz(block.extradataSize + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!parameters->extradata) return {};
        std::memcpy(parameters->extradata, type.pbFormat + header + sizeof(CodecBlock),
                    block.extradataSize);
        parameters->extradata_size = static_cast<int>(block.extradataSize);
    }
    return parameters;
}

void Interrupter::SetDeadline(std::chrono::steady_clock::duration fromNow) {
    auto deadline = std::chrono::steady_clock::now() + fromNow;
    deadline_ =
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
}

bool Interrupter::TakeRequest() {
    std::lock_guard lock(requestMutex_);
    auto now = std::chrono::steady_clock::now();
    if (!opening_) {
        double seconds = std::chrono::duration<double>(now - refilled_).count();
        requestTokens_ =
            std::min<double>(kOpenRequests, requestTokens_ + seconds * kRequestsPerSecond);
    }
    refilled_ = now;
    if (requestTokens_ < 1) {
        if (opening_) exhausted_ = true;
        return false;
    }
    requestTokens_ -= 1;
    ++requestsMade_;
    return true;
}

void Interrupter::StartOpening() {
    std::lock_guard lock(requestMutex_);
    opening_ = true;
    exhausted_ = false;
    requestTokens_ = kOpenRequests;
    refilled_ = std::chrono::steady_clock::now();
}

void Interrupter::EndOpening() {
    std::lock_guard lock(requestMutex_);
    opening_ = false;
    refilled_ = std::chrono::steady_clock::now();
}

int Interrupter::Check(void* self) {
    auto* interrupter = static_cast<Interrupter*>(self);
    if (interrupter->abort_ || interrupter->exhausted_) return 1;
    int64_t deadline = interrupter->deadline_;
    if (deadline == kNoDeadline) return 0;
    int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
    return now > deadline ? 1 : 0;
}

bool LooksLikeUrl(const std::string& location) {
    return !Scheme(location).empty();
}

bool IsStreamUrl(const std::string& location) {
    std::string scheme = Scheme(location);
    return scheme == "http" || scheme == "https" || scheme == "rtsp" || scheme == "mms" ||
           scheme == "mmsh" || scheme == "mmst";
}

namespace {

// FFmpeg's own opener, which every request of a stream goes through once rationed.
using IoOpen = int (*)(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**);
std::atomic<IoOpen> defaultIoOpen{nullptr};

int RationedIoOpen(AVFormatContext* context, AVIOContext** pb, const char* url, int flags,
                   AVDictionary** options) {
    auto* interrupter = static_cast<Interrupter*>(context->opaque);
    if (interrupter && !interrupter->TakeRequest()) return AVERROR(EMLINK);
    return defaultIoOpen.load()(context, pb, url, flags, options);
}

}  // namespace

HRESULT OpenInput(const std::string& location, Interrupter* interrupter, FormatPtr* out) {
    Initialise();
    out->reset();
    std::vector<std::string> candidates;
    bool url = LooksLikeUrl(location);
    if (url) {
        if (!IsStreamUrl(location)) return E_ACCESSDENIED;
        std::string rest = location.substr(location.find("://"));
        if (Scheme(location) == "mms") {
            // MMS over HTTP first, as servers that still speak it mostly do.
            candidates = {"mmsh" + rest, "mmst" + rest};
        } else {
            candidates = {Scheme(location) + rest};
        }
    } else {
        if (location.empty()) return E_INVALIDARG;
        if (HRESULT checked = CheckSourceFile(location); FAILED(checked)) return checked;
        // The file: prefix keeps a colon in the path from selecting some other protocol.
        candidates = {"file:" + location};
    }

    HRESULT last = VFW_E_UNKNOWN_FILE_TYPE;
    for (const auto& candidate : candidates) {
        AVFormatContext* context = avformat_alloc_context();
        if (!context) return E_OUTOFMEMORY;
        context->interrupt_callback = interrupter->Callback();
        if (url && context->io_open) {
            defaultIoOpen = context->io_open;
            context->opaque = interrupter;
            context->io_open = RationedIoOpen;
        }
        AVDictionary* options = nullptr;
        av_dict_set(&options, "protocol_whitelist", url ? kStreamProtocols : kLocalProtocols, 0);
        if (url) {
            av_dict_set_int(&options, "rw_timeout", kSocketTimeoutUs, 0);
            av_dict_set_int(&options, "timeout", kSocketTimeoutUs, 0);
        }
        interrupter->SetDeadline(kOpenTimeout);
        interrupter->StartOpening();
        int error = avformat_open_input(&context, candidate.c_str(), nullptr, &options);
        av_dict_free(&options);
        if (error < 0) {
            interrupter->ClearDeadline();
            interrupter->EndOpening();
            // A stream that wants more requests than any real one needs (a playlist naming
            // itself) is not a usable stream.
            if (interrupter->RequestsExhausted()) return VFW_E_INVALID_FILE_FORMAT;
            last = HresultFromAverror(error);
            if (error == AVERROR_EXIT && !interrupter->Aborted())
                last = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
            if (interrupter->Aborted()) return E_ABORT;
            continue;
        }
        FormatPtr format(context);
        error = avformat_find_stream_info(context, nullptr);
        interrupter->ClearDeadline();
        interrupter->EndOpening();
        if (interrupter->RequestsExhausted()) return VFW_E_INVALID_FILE_FORMAT;
        if (error < 0) {
            last = HresultFromAverror(error);
            if (error == AVERROR_EXIT && !interrupter->Aborted())
                last = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
            if (last == E_FAIL) last = VFW_E_INVALID_FILE_FORMAT;
            if (interrupter->Aborted()) return E_ABORT;
            continue;
        }
        *out = std::move(format);
        return S_OK;
    }
    return last;
}

}  // namespace quil::ffmpeg
