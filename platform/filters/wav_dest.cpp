// "Wave Dest": turns PCM into a RIFF WAV byte stream for the "File Writer". Each sample of the
// stream carries its file offset as its time stamp, so the header can be written again at offset
// 0. The header is brought up to date after every block of audio, so a crash or power loss
// loses nothing that reached the file.

#include <cstring>
#include <vector>

#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/graph/transform_filter.h"

namespace quil::filters {

namespace {

void PutLe(BYTE* p, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<BYTE>(value >> (8 * i));
}

class WavDest : public TransformFilter {
public:
    WavDest() : TransformFilter(CLSID_WavDest, L"In", L"Out") {}

    HRESULT CheckInputType(const MediaType& type) override {
        const WAVEFORMATEX* format = type.WaveFormat();
        if (type.majortype != MEDIATYPE_Audio || !format || format->nBlockAlign == 0 ||
            format->nChannels == 0)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT GetOutputType(int position, MediaType* type) override {
        if (position != 0) return VFW_S_NO_MORE_ITEMS;
        MediaType stream;
        stream.majortype = MEDIATYPE_Stream;
        stream.subtype = MEDIASUBTYPE_WAVE;
        stream.formattype = FORMAT_None;
        *type = stream;
        return S_OK;
    }

    HRESULT CheckTransform(const MediaType&, const MediaType& output) override {
        return output.majortype == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        ALLOCATOR_PROPERTIES wanted{4, 256 * 1024, 1, 0}, actual{};
        if (request->cBuffers > wanted.cBuffers) wanted.cBuffers = request->cBuffers;
        HRESULT hr = allocator->SetProperties(&wanted, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < 64 ? E_FAIL : S_OK;
    }

    HRESULT StartStreaming() override {
        const MediaType& in = InputType();
        if (!in.WaveFormat()) return VFW_E_NOT_CONNECTED;
        // A plain PCM format is written as the classic 16-byte fmt chunk every reader knows.
        size_t formatSize = in.WaveFormat()->wFormatTag == WAVE_FORMAT_PCM
                                ? sizeof(PCMWAVEFORMAT)
                                : sizeof(WAVEFORMATEX) + in.WaveFormat()->cbSize;
        formatSize = std::min<size_t>(formatSize, in.cbFormat);
        format_.assign(in.pbFormat, in.pbFormat + formatSize);
        if (formatSize > sizeof(PCMWAVEFORMAT) && formatSize >= sizeof(WAVEFORMATEX))
            reinterpret_cast<WAVEFORMATEX*>(format_.data())->cbSize =
                static_cast<WORD>(formatSize - sizeof(WAVEFORMATEX));
        dataBytes_ = 0;
        headerWritten_ = false;
        return S_OK;
    }

    HRESULT Receive(IMediaSample* sample) override {
        if (!headerWritten_) {
            HRESULT hr = WriteHeader();
            if (hr != S_OK) return hr;
            headerWritten_ = true;
        }
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        LONG length = sample->GetActualDataLength();
        if (length <= 0) return S_OK;
        // RIFF sizes are 32-bit: stop growing the file before they would wrap.
        if (HeaderSize() + dataBytes_ + length > 0xFFFFFFFEull)
            return StreamingError(HRESULT_FROM_WIN32(ERROR_DISK_FULL));
        REFERENCE_TIME offset = static_cast<REFERENCE_TIME>(HeaderSize() + dataBytes_);
        REFERENCE_TIME end = offset + length;
        HRESULT hr = DeliverData(data, static_cast<size_t>(length), &offset, &end);
        if (hr != S_OK) return hr;
        dataBytes_ += static_cast<uint64_t>(length);
        return WriteHeader();
    }

    HRESULT OnEndOfStream() override {
        if (!headerWritten_) {
            headerWritten_ = true;
            return WriteHeader();
        }
        if (dataBytes_ & 1) {
            // Chunks are padded to an even length.
            BYTE pad = 0;
            REFERENCE_TIME offset = static_cast<REFERENCE_TIME>(HeaderSize() + dataBytes_);
            REFERENCE_TIME end = offset + 1;
            DeliverData(&pad, 1, &offset, &end);
        }
        return WriteHeader();
    }

private:
    uint64_t HeaderSize() const { return 12 + 8 + format_.size() + 8; }

    HRESULT WriteHeader() {
        std::vector<BYTE> header(HeaderSize());
        uint64_t riff = HeaderSize() - 8 + dataBytes_ + (dataBytes_ & 1);
        std::memcpy(header.data(), "RIFF", 4);
        PutLe(&header[4], static_cast<uint32_t>(riff), 4);
        std::memcpy(&header[8], "WAVEfmt ", 8);
        PutLe(&header[16], static_cast<uint32_t>(format_.size()), 4);
        std::memcpy(&header[20], format_.data(), format_.size());
        size_t data = 20 + format_.size();
        std::memcpy(&header[data], "data", 4);
        PutLe(&header[data + 4], static_cast<uint32_t>(dataBytes_), 4);
        REFERENCE_TIME offset = 0, end = static_cast<REFERENCE_TIME>(header.size());
        return DeliverData(header.data(), header.size(), &offset, &end);
    }

    std::vector<BYTE> format_;
    uint64_t dataBytes_ = 0;
    bool headerWritten_ = false;
};

}  // namespace

HRESULT CreateWavDest(REFIID iid, void** out) { return CreateObject<WavDest>(iid, out); }

}  // namespace quil::filters
