// "Mp3 Encoder": 16-bit PCM in, an MPEG audio layer 3 byte stream out, on LAME. The settings
// are kept as they arrive and given to LAME when the stream starts, so they may come before or
// after the pins are connected. Only whole frames are passed on, and at end of stream LAME is
// flushed. The stream opens with LAME's Info frame, which tells players the encoder delay and
// padding to drop: a placeholder that is already a valid frame goes out first, and at the end
// the filled one is written over it when the sink behind can seek (IStreamRewrite).

#include <lame/lame.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/filters/class_ids.h"
#include "platform/filters/encoder_interfaces.h"
#include "platform/filters/filter_factories.h"
#include "platform/filters/stream_rewrite.h"
#include "platform/graph/transform_filter.h"

namespace quil::filters {

namespace {

constexpr GUID kMpegAudioStream = quil::Guid("{E436EB87-524F-11CE-9F53-0020AF0BA770}");

struct LameClose {
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameClose>;

struct Mp3Settings {
    DWORD bitrate = 128;
    DWORD variableBitrate = 0;
    DWORD minimumBitrate = 32;
    DWORD maximumBitrate = 320;
    DWORD quality = 5;
    DWORD variableQuality = 4;
    DWORD sampleRate = 0;
    DWORD channelMode = JOINT_STEREO;
    DWORD crc = 0;
    DWORD original = 0;
    DWORD copyright = 0;
    DWORD privateBit = 0;
};

constexpr size_t kLongestFrame = 1441;  // 320 kbit/s at 32 kHz, padded

// Length in bytes of the layer III frame whose header starts at p; 0 when p holds no header.
size_t FrameLength(const unsigned char* p, size_t left) {
    if (left < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || ((p[1] >> 1) & 3) != 1) return 0;
    static const int kMpeg1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kMpeg2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int kRates[3][3] = {
        {11025, 12000, 8000}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    int version = (p[1] >> 3) & 3, bitrateIndex = p[2] >> 4, rateIndex = (p[2] >> 2) & 3;
    if (version == 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
    bool mpeg1 = version == 3;
    int rate = kRates[mpeg1 ? 2 : version == 2 ? 1 : 0][rateIndex];
    int kbps = mpeg1 ? kMpeg1[bitrateIndex] : kMpeg2[bitrateIndex];
    return static_cast<size_t>((mpeg1 ? 144000 : 72000) * kbps / rate + ((p[2] >> 1) & 1));
}

// CRC-16 as the LAME tag uses it (polynomial 0x8005, bits reflected, starting at 0).
uint16_t LameTagCrc(const unsigned char* data, size_t size) {
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// Turns LAME's Info frame, taken while encoding has only begun, into a placeholder that
// claims no frame, no byte count and no seek table: a file cut before the real one is
// written over it then plays all its frames instead of the few the early counts allow.
void MakePlaceholder(std::vector<unsigned char>& frame) {
    // The tag follows the side information: 9 to 32 bytes after the header and its CRC.
    for (size_t at = 4; at + 4 <= std::min<size_t>(frame.size(), 48); ++at) {
        if (std::memcmp(&frame[at], "Info", 4) != 0 && std::memcmp(&frame[at], "Xing", 4) != 0)
            continue;
        const size_t frames = at + 8, bytes = at + 12, toc = at + 16, musicLength = at + 148,
                     crc = at + 154;
        if (crc + 2 > frame.size()) return;
        std::fill_n(&frame[frames], 4, 0);
        std::fill_n(&frame[bytes], 4, 0);
        std::fill_n(&frame[toc], 100, 0);
        std::fill_n(&frame[musicLength], 6, 0);  // and the music CRC after it
        uint16_t sum = LameTagCrc(frame.data(), crc);
        frame[crc] = static_cast<unsigned char>(sum >> 8);
        frame[crc + 1] = static_cast<unsigned char>(sum);
        return;
    }
}

bool IsMp3Rate(DWORD rate) {
    for (DWORD valid : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000})
        if (rate == valid) return true;
    return false;
}

class Mp3Encoder : public TransformFilter, public IMp3EncoderSettings {
public:
    Mp3Encoder() : TransformFilter(CLSID_Mp3Encoder, L"XForm In", L"XForm Out") {}

    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (InterfaceMatches<IMp3EncoderSettings>(iid))
            return GetInterface<IMp3EncoderSettings>(this, out);
        return TransformFilter::NonDelegatingQueryInterface(iid, out);
    }

    HRESULT CheckInputType(const MediaType& type) override {
        const WAVEFORMATEX* format = type.WaveFormat();
        if (!type.IsPcm() || format->wBitsPerSample != 16) return VFW_E_TYPE_NOT_ACCEPTED;
        if (format->nChannels < 1 || format->nChannels > 2) return VFW_E_TYPE_NOT_ACCEPTED;
        if (format->nSamplesPerSec < 8000 || format->nSamplesPerSec > 48000)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return format->nBlockAlign == format->nChannels * 2 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT GetOutputType(int position, MediaType* type) override {
        if (position != 0) return VFW_S_NO_MORE_ITEMS;
        type->Reset();
        type->majortype = MEDIATYPE_Stream;
        type->subtype = kMpegAudioStream;
        type->formattype = FORMAT_None;
        type->bFixedSizeSamples = FALSE;
        type->lSampleSize = 1;
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        ALLOCATOR_PROPERTIES wanted{std::max<LONG>(request->cBuffers, 4),
                                    std::max<LONG>(request->cbBuffer, 32 * 1024), 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        HRESULT hr = allocator->SetProperties(&wanted, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer > 0 ? S_OK : E_FAIL;
    }

    HRESULT StartStreaming() override;
    HRESULT StopStreaming() override {
        lame_.reset();
        return S_OK;
    }
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;
    void OnFlush() override { pending_.clear(); }

    // IMp3EncoderSettings
    HRESULT get_PrivateBit(DWORD* value) override { return Get(&Mp3Settings::privateBit, value); }
    HRESULT put_PrivateBit(DWORD value) override {
        return Put(&Mp3Settings::privateBit, value, value <= 1);
    }
    HRESULT get_Bitrate(DWORD* value) override { return Get(&Mp3Settings::bitrate, value); }
    HRESULT put_Bitrate(DWORD value) override {
        return Put(&Mp3Settings::bitrate, value, value >= 8 && value <= 320);
    }
    HRESULT get_VariableBitrate(DWORD* value) override {
        return Get(&Mp3Settings::variableBitrate, value);
    }
    HRESULT put_VariableBitrate(DWORD value) override {
        return Put(&Mp3Settings::variableBitrate, value, value <= 1);
    }
    HRESULT get_MinimumBitrate(DWORD* value) override {
        return Get(&Mp3Settings::minimumBitrate, value);
    }
    HRESULT put_MinimumBitrate(DWORD value) override {
        return Put(&Mp3Settings::minimumBitrate, value, value >= 8 && value <= 320);
    }
    HRESULT get_MaximumBitrate(DWORD* value) override {
        return Get(&Mp3Settings::maximumBitrate, value);
    }
    HRESULT put_MaximumBitrate(DWORD value) override {
        return Put(&Mp3Settings::maximumBitrate, value, value >= 8 && value <= 320);
    }
    HRESULT get_Quality(DWORD* value) override { return Get(&Mp3Settings::quality, value); }
    HRESULT put_Quality(DWORD value) override {
        return Put(&Mp3Settings::quality, value, value <= 9);
    }
    HRESULT get_VariableQuality(DWORD* value) override {
        return Get(&Mp3Settings::variableQuality, value);
    }
    HRESULT put_VariableQuality(DWORD value) override {
        return Put(&Mp3Settings::variableQuality, value, value <= 9);
    }
    HRESULT get_SourceSampleRate(DWORD* value) override;
    HRESULT get_SourceChannels(DWORD* value) override;
    HRESULT get_SampleRate(DWORD* value) override { return Get(&Mp3Settings::sampleRate, value); }
    HRESULT put_SampleRate(DWORD value) override {
        return Put(&Mp3Settings::sampleRate, value, value == 0 || IsMp3Rate(value));
    }
    HRESULT get_ChannelMode(DWORD* value) override { return Get(&Mp3Settings::channelMode, value); }
    HRESULT put_ChannelMode(DWORD value) override {
        return Put(&Mp3Settings::channelMode, value, value <= MONO);
    }
    HRESULT get_Crc(DWORD* value) override { return Get(&Mp3Settings::crc, value); }
    HRESULT put_Crc(DWORD value) override { return Put(&Mp3Settings::crc, value, value <= 1); }
    HRESULT get_Original(DWORD* value) override { return Get(&Mp3Settings::original, value); }
    HRESULT put_Original(DWORD value) override {
        return Put(&Mp3Settings::original, value, value <= 1);
    }
    HRESULT get_Copyright(DWORD* value) override { return Get(&Mp3Settings::copyright, value); }
    HRESULT put_Copyright(DWORD value) override {
        return Put(&Mp3Settings::copyright, value, value <= 1);
    }

private:
    using BaseFilter::PrimaryInterface;

    HRESULT Get(DWORD Mp3Settings::*field, DWORD* value) {
        if (!value) return E_POINTER;
        std::lock_guard lock(settingsLock_);
        *value = settings_.*field;
        return S_OK;
    }
    HRESULT Put(DWORD Mp3Settings::*field, DWORD value, bool valid) {
        if (!valid) return E_INVALIDARG;
        std::lock_guard lock(settingsLock_);
        settings_.*field = value;
        return S_OK;
    }

    HRESULT Encode(const int16_t* pcm, int frames);
    bool PlaceInfoFrame();
    void WriteFinalInfoFrame();
    // LAME's output may end inside a frame; only whole frames go out, so a stream stopped
    // at any point leaves a file of whole frames. At the end everything goes.
    HRESULT Deliver(int bytes, bool last = false) {
        if (bytes < 0) return StreamingError(E_FAIL);
        held_.insert(held_.end(), mp3_.begin(), mp3_.begin() + bytes);
        if (infoPending_ && !PlaceInfoFrame()) {
            if (!last) return S_OK;
            // Nothing was encoded to fill it from: drop the empty room.
            held_.erase(held_.begin(), std::find_if(held_.begin(), held_.end(),
                                                    [](unsigned char b) { return b != 0; }));
            infoPending_ = false;
        }
        size_t whole = held_.size();
        if (!last) {
            whole = 0;
            while (size_t length = FrameLength(held_.data() + whole, held_.size() - whole)) {
                if (whole + length > held_.size()) break;
                whole += length;
            }
        }
        if (whole == 0) return S_OK;
        HRESULT hr = DeliverData(held_.data(), whole);
        held_.erase(held_.begin(), held_.begin() + static_cast<long>(whole));
        return hr;
    }

    std::mutex settingsLock_;
    Mp3Settings settings_;
    LamePtr lame_;
    int channels_ = 2;
    std::vector<BYTE> pending_;  // a partial sample frame left by the last input sample
    std::vector<int16_t> pcm_;
    std::vector<unsigned char> mp3_;
    std::vector<unsigned char> held_;  // the start of a frame LAME has not finished
    bool infoPending_ = false;         // LAME's empty Info frame is still to be replaced
    size_t infoSize_ = 0;              // length of the Info frame at the stream's start
};

HRESULT Mp3Encoder::get_SourceSampleRate(DWORD* value) {
    if (!value) return E_POINTER;
    std::lock_guard lock(stateLock_);
    const WAVEFORMATEX* format = Input()->IsConnected() ? InputType().WaveFormat() : nullptr;
    *value = format ? format->nSamplesPerSec : 0;
    return S_OK;
}

HRESULT Mp3Encoder::get_SourceChannels(DWORD* value) {
    if (!value) return E_POINTER;
    std::lock_guard lock(stateLock_);
    const WAVEFORMATEX* format = Input()->IsConnected() ? InputType().WaveFormat() : nullptr;
    *value = format ? format->nChannels : 0;
    return S_OK;
}

HRESULT Mp3Encoder::StartStreaming() {
    const WAVEFORMATEX* format = InputType().WaveFormat();
    if (!format) return VFW_E_NOT_CONNECTED;
    Mp3Settings s;
    {
        std::lock_guard lock(settingsLock_);
        s = settings_;
    }
    LamePtr lame(lame_init());
    if (!lame) return E_OUTOFMEMORY;
    lame_global_flags* gf = lame.get();
    channels_ = format->nChannels;
    lame_set_num_channels(gf, channels_);
    lame_set_in_samplerate(gf, static_cast<int>(format->nSamplesPerSec));
    if (s.sampleRate) lame_set_out_samplerate(gf, static_cast<int>(s.sampleRate));
    // LAME has no dual-channel coder; a mono input is coded mono whatever the mode says.
    MPEG_mode mode = static_cast<MPEG_mode>(s.channelMode);
    if (mode == DUAL_CHANNEL) mode = STEREO;
    if (channels_ == 1) mode = MONO;
    lame_set_mode(gf, mode);
    lame_set_quality(gf, static_cast<int>(s.quality));
    if (s.variableBitrate) {
        lame_set_VBR(gf, vbr_default);
        lame_set_VBR_quality(gf, static_cast<float>(s.variableQuality));
        lame_set_VBR_min_bitrate_kbps(gf, static_cast<int>(s.minimumBitrate));
        lame_set_VBR_max_bitrate_kbps(gf, static_cast<int>(s.maximumBitrate));
    } else {
        lame_set_VBR(gf, vbr_off);
        lame_set_brate(gf, static_cast<int>(s.bitrate));
    }
    lame_set_copyright(gf, static_cast<int>(s.copyright));
    lame_set_original(gf, static_cast<int>(s.original));
    lame_set_error_protection(gf, static_cast<int>(s.crc));
    lame_set_extension(gf, static_cast<int>(s.privateBit));
    lame_set_bWriteVbrTag(gf, 1);
    if (lame_init_params(gf) < 0) return E_INVALIDARG;
    lame_ = std::move(lame);
    pending_.clear();
    held_.clear();
    infoPending_ = true;
    infoSize_ = 0;
    return S_OK;
}

// LAME starts its stream with room for its Info frame (a frame header, then zeros) and can
// fill the frame only once it has encoded one; until then nothing goes out. The room is
// filled with a placeholder that players read as an Info frame. False while that waits.
bool Mp3Encoder::PlaceInfoFrame() {
    size_t size = lame_get_lametag_frame(lame_.get(), nullptr, 0);
    if (size == 0) {
        // More than the longest frame out and none counted: LAME left the Info frame out (at
        // low bit rates it does not fit in a frame of the stream's size).
        if (held_.size() > kLongestFrame) infoPending_ = false;
        return !infoPending_;
    }
    if (held_.size() < size) return false;
    infoPending_ = false;
    if (FrameLength(held_.data(), held_.size()) != size) return true;  // no room was kept
    std::vector<unsigned char> frame(size);
    if (lame_get_lametag_frame(lame_.get(), frame.data(), size) != size) return true;
    MakePlaceholder(frame);
    std::copy(frame.begin(), frame.end(), held_.begin());
    infoSize_ = size;
    return true;
}

// At the end of the stream the Info frame holds the true counts and padding; a sink that
// stores a seekable file takes it over the placeholder, any other keeps the placeholder.
void Mp3Encoder::WriteFinalInfoFrame() {
    if (infoSize_ == 0) return;
    std::vector<unsigned char> frame(infoSize_);
    if (lame_get_lametag_frame(lame_.get(), frame.data(), frame.size()) != infoSize_) return;
    ComPtr<IPin> peer;
    if (FAILED(Output()->ConnectedTo(peer.Put()))) return;
    auto rewrite = QueryAs<IStreamRewrite>(PinFilter(peer.Get()).Get());
    if (rewrite) rewrite->Rewrite(0, frame.data(), static_cast<LONG>(frame.size()));
}

HRESULT Mp3Encoder::Encode(const int16_t* pcm, int frames) {
    // LAME's own bound for the worst case of one call.
    mp3_.resize(static_cast<size_t>(frames) * 5 / 4 + 7200);
    int size = static_cast<int>(mp3_.size());
    int bytes = channels_ == 2
                    ? lame_encode_buffer_interleaved(lame_.get(), const_cast<int16_t*>(pcm), frames,
                                                     mp3_.data(), size)
                    : lame_encode_buffer(lame_.get(), pcm, pcm, frames, mp3_.data(), size);
    return Deliver(bytes);
}

HRESULT Mp3Encoder::Receive(IMediaSample* sample) {
    if (!lame_) return E_UNEXPECTED;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    LONG length = sample->GetActualDataLength();
    if (length <= 0) return S_OK;
    size_t block = static_cast<size_t>(channels_) * 2;
    // The usual sample holds whole sample frames: LAME reads it where it is.
    if (pending_.empty() && static_cast<size_t>(length) % block == 0 &&
        reinterpret_cast<uintptr_t>(data) % alignof(int16_t) == 0)
        return Encode(reinterpret_cast<const int16_t*>(data),
                      static_cast<int>(static_cast<size_t>(length) / block));
    pending_.insert(pending_.end(), data, data + length);
    size_t frames = pending_.size() / block;
    if (frames == 0) return S_OK;
    pcm_.resize(frames * channels_);
    std::memcpy(pcm_.data(), pending_.data(), frames * block);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(frames * block));
    return Encode(pcm_.data(), static_cast<int>(frames));
}

HRESULT Mp3Encoder::OnEndOfStream() {
    if (!lame_) return S_OK;
    pending_.clear();
    mp3_.resize(16 * 1024);
    HRESULT hr =
        Deliver(lame_encode_flush(lame_.get(), mp3_.data(), static_cast<int>(mp3_.size())), true);
    if (hr == S_OK) WriteFinalInfoFrame();
    return hr;
}

}  // namespace

HRESULT CreateMp3Encoder(REFIID iid, void** out) {
    return CreateObject<Mp3Encoder>(iid, out);
}

}  // namespace quil::filters
