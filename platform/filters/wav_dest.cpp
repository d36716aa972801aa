// "Wave Dest": turns PCM into a RIFF WAV byte stream for the "File Writer". Each sample of the
// stream carries its file offset as its time stamp, so the header can be written again at offset
// 0. The header is brought up to date after each second of audio, at the end, on a stop and on a
// failed write: a crash leaves at most the last second of audio outside the sizes it states.
// The writer may hold recent bytes back and lose them when a write fails, so after a failure
// and at a stop the header states no more than the file really holds.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/com/strings.h"
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
        // Seconds of audio rather than of wall time: a conversion runs many times faster than
        // real time, and the loss bound after a crash is about audio, not about the clock.
        headerInterval_ = std::max<uint64_t>(in.WaveFormat()->nAvgBytesPerSec, 1);
        blockAlign_ = in.WaveFormat()->nBlockAlign;
        dataBytes_ = 0;
        headerDataBytes_ = 0;
        headerWritten_ = false;
        return S_OK;
    }

    // A grab stopped without an end of stream: the writer downstream stopped first and closed
    // the file, so the sizes of the last second go straight into the file it names. Always:
    // a header rewritten during the stop may since have been overwritten by an older one the
    // writer still held.
    HRESULT StopStreaming() override {
        if (headerWritten_) RewriteHeaderInFile();
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
        if (HeaderSize() + dataBytes_ + length > 0xFFFFFFFEull) {
            WriteHeader();
            return StreamingError(HRESULT_FROM_WIN32(ERROR_DISK_FULL));
        }
        REFERENCE_TIME offset = static_cast<REFERENCE_TIME>(HeaderSize() + dataBytes_);
        REFERENCE_TIME end = offset + length;
        HRESULT hr = DeliverData(data, static_cast<size_t>(length), &offset, &end);
        if (FAILED(hr)) {
            // A full disk still leaves a file whose header covers every whole block written.
            RewriteHeaderInFile();
            return hr;
        }
        if (hr != S_OK) {
            if (headerDataBytes_ != dataBytes_) WriteHeader();
            return hr;
        }
        dataBytes_ += static_cast<uint64_t>(length);
        if (dataBytes_ - headerDataBytes_ < headerInterval_) return S_OK;
        return WriteHeaderOrRepair();
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
        return WriteHeaderOrRepair();
    }

private:
    uint64_t HeaderSize() const { return 12 + 8 + format_.size() + 8; }

    const std::vector<BYTE>& Header() { return Header(dataBytes_); }

    // Built in a buffer kept for the whole grab.
    const std::vector<BYTE>& Header(uint64_t dataBytes) {
        std::vector<BYTE>& header = header_;
        header.resize(HeaderSize());
        uint64_t riff = HeaderSize() - 8 + dataBytes + (dataBytes & 1);
        std::memcpy(header.data(), "RIFF", 4);
        PutLe(&header[4], static_cast<uint32_t>(riff), 4);
        std::memcpy(&header[8], "WAVEfmt ", 8);
        PutLe(&header[16], static_cast<uint32_t>(format_.size()), 4);
        std::memcpy(&header[20], format_.data(), format_.size());
        size_t data = 20 + format_.size();
        std::memcpy(&header[data], "data", 4);
        PutLe(&header[data + 4], static_cast<uint32_t>(dataBytes), 4);
        return header;
    }

    HRESULT WriteHeader() {
        const std::vector<BYTE>& header = Header();
        REFERENCE_TIME offset = 0, end = static_cast<REFERENCE_TIME>(header.size());
        HRESULT hr = DeliverData(header.data(), header.size(), &offset, &end);
        if (hr == S_OK) headerDataBytes_ = dataBytes_;
        return hr;
    }

    // The header through the writer; when that fails, written straight into the file.
    HRESULT WriteHeaderOrRepair() {
        HRESULT hr = WriteHeader();
        if (FAILED(hr)) RewriteHeaderInFile();
        return hr;
    }

    // Writes the header into the file the writer names, stating the bytes written that the
    // file really holds (whole sample frames).
    void RewriteHeaderInFile() {
        ComPtr<IPin> peer;
        if (FAILED(Output()->ConnectedTo(peer.Put())) || !peer) return;
        ComPtr<IBaseFilter> writer = PinFilter(peer.Get());
        ComPtr<IFileSinkFilter> sink;
        if (!writer || FAILED(writer->QueryInterface(IID_PPV_ARGS(sink.Put())))) return;
        LPWSTR name = nullptr;
        if (FAILED(sink->GetCurFile(&name, nullptr)) || !name) return;
        std::string path = Narrow(name);
        CoTaskMemFree(name);
        int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat status {};
        uint64_t held = dataBytes_;
        if (::fstat(fd, &status) == 0) {
            uint64_t size = static_cast<uint64_t>(status.st_size);
            uint64_t inFile = size > HeaderSize() ? size - HeaderSize() : 0;
            if (inFile < held) held = inFile - inFile % blockAlign_;
        }
        const std::vector<BYTE>& header = Header(held);
        if (::pwrite(fd, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size()) &&
            held == dataBytes_)
            headerDataBytes_ = dataBytes_;
        ::close(fd);
    }

    std::vector<BYTE> format_;
    std::vector<BYTE> header_;
    uint64_t dataBytes_ = 0;
    // The data size the header in the file states, and how far it may fall behind.
    uint64_t headerDataBytes_ = 0;
    uint64_t headerInterval_ = 1;
    uint64_t blockAlign_ = 1;
    bool headerWritten_ = false;
};

}  // namespace

HRESULT CreateWavDest(REFIID iid, void** out) {
    return CreateObject<WavDest>(iid, out);
}

}  // namespace quil::filters
