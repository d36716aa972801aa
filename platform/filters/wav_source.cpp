// A source for RIFF WAV files with PCM (8 or 16 bits) or 32-bit float audio. A file whose data
// chunk claims more bytes than the file holds (a recording cut short) plays what is there.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>

#include "platform/com/strings.h"
#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/graph/source_file.h"
#include "platform/graph/source_stream.h"

namespace quil::filters {

bool ProbeWavFile(const std::string&, const std::vector<uint8_t>& head) {
    return head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 &&
           std::memcmp(head.data() + 8, "WAVE", 4) == 0;
}

namespace {

uint32_t GetLe(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(p[i]) << (8 * i);
    return value;
}

class WavFileSource;

class WavStream : public SourceStream {
public:
    WavStream(WavFileSource* source);
    ~WavStream() override { StopThread(); }

    HRESULT CheckMediaType(const MediaType& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

protected:
    HRESULT OnThreadCreate() override;
    HRESULT FillBuffer(IMediaSample* sample) override;
    HRESULT OnThreadDestroy() override;

private:
    WavFileSource* source_;
    FILE* file_ = nullptr;
    uint64_t framesSent_ = 0;
};

class WavFileSource : public SourceFilter,
                      public IFileSourceFilter,
                      public IMediaSeeking,
                      public IStreamEnding {
public:
    WavFileSource() : SourceFilter(CLSID_WavFileSource) {}
    ~WavFileSource() override {
        for (auto& pin : pins_) pin->Inactive();
    }
    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (InterfaceMatches<IFileSourceFilter>(iid))
            return GetInterface<IFileSourceFilter>(this, out);
        if (InterfaceMatches<IMediaSeeking>(iid)) return GetInterface<IMediaSeeking>(this, out);
        if (InterfaceMatches<IStreamEnding>(iid)) return GetInterface<IStreamEnding>(this, out);
        return SourceFilter::NonDelegatingQueryInterface(iid, out);
    }

    HRESULT EndStreamsNow() override {
        bool ending = false;
        for (auto& pin : pins_) ending = pin->EndStream() || ending;
        return ending ? S_OK : S_FALSE;
    }

    HRESULT Load(LPCWSTR file, const AM_MEDIA_TYPE*) override {
        if (!file) return E_POINTER;
        if (!pins_.empty()) return E_UNEXPECTED;
        path_ = Narrow(file);
        if (HRESULT checked = CheckSourceFile(path_); FAILED(checked)) return checked;
        std::ifstream in(path_, std::ios::binary | std::ios::ate);
        if (!in) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        uint64_t fileSize = static_cast<uint64_t>(in.tellg());
        in.seekg(0);
        uint8_t riff[12];
        if (!in.read(reinterpret_cast<char*>(riff), 12) || std::memcmp(riff, "RIFF", 4) ||
            std::memcmp(riff + 8, "WAVE", 4))
            return VFW_E_INVALID_FILE_FORMAT;
        bool haveFormat = false;
        uint64_t pos = 12;
        while (pos + 8 <= fileSize) {
            uint8_t chunk[8];
            in.seekg(static_cast<std::streamoff>(pos));
            if (!in.read(reinterpret_cast<char*>(chunk), 8)) break;
            uint32_t size = GetLe(chunk + 4, 4);
            if (!std::memcmp(chunk, "fmt ", 4)) {
                if (size < 16 || size > 1024) return VFW_E_INVALID_FILE_FORMAT;
                std::vector<uint8_t> body(size);
                if (!in.read(reinterpret_cast<char*>(body.data()), size))
                    return VFW_E_INVALID_FILE_FORMAT;
                std::memset(&format_, 0, sizeof format_);
                std::memcpy(&format_, body.data(), std::min<size_t>(size, sizeof format_));
                // A WAVE_FORMAT_EXTENSIBLE header names the real format in its subformat.
                if (format_.wFormatTag == 0xFFFE && size >= 40)
                    format_.wFormatTag = static_cast<WORD>(GetLe(body.data() + 24, 2));
                format_.cbSize = 0;
                haveFormat = true;
            } else if (!std::memcmp(chunk, "data", 4)) {
                if (!haveFormat) return VFW_E_INVALID_FILE_FORMAT;
                dataStart_ = pos + 8;
                dataBytes_ = std::min<uint64_t>(size, fileSize - dataStart_);
                return Validate();
            }
            pos += 8 + uint64_t{size} + (size & 1);
        }
        return VFW_E_INVALID_FILE_FORMAT;
    }
    HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE*) override {
        if (!file) return E_POINTER;
        std::wstring wide = Widen(path_);
        *file = static_cast<LPWSTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(WCHAR)));
        if (!*file) return E_OUTOFMEMORY;
        std::copy_n(wide.c_str(), wide.size() + 1, *file);
        return S_OK;
    }

    HRESULT GetCapabilities(DWORD* capabilities) override {
        if (!capabilities) return E_POINTER;
        *capabilities = 0xFF;
        return S_OK;
    }
    HRESULT GetDuration(LONGLONG* duration) override {
        if (!duration) return E_POINTER;
        *duration = static_cast<LONGLONG>(TotalFrames() * 10'000'000ull / format_.nSamplesPerSec);
        return S_OK;
    }
    HRESULT GetCurrentPosition(LONGLONG* position) override {
        if (!position) return E_POINTER;
        *position = static_cast<LONGLONG>(startFrame_ * 10'000'000ull / format_.nSamplesPerSec);
        return S_OK;
    }
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG*, DWORD) override {
        if (!current || !(currentFlags & AM_SEEKING_AbsolutePositioning)) return S_OK;
        uint64_t frame = static_cast<uint64_t>(std::max<LONGLONG>(*current, 0)) *
                         format_.nSamplesPerSec / 10'000'000ull;
        frame = std::min(frame, TotalFrames());
        if (pins_.empty()) return E_UNEXPECTED;
        return pins_[0]->Restart([&] {
            std::lock_guard lock(positionLock_);
            startFrame_ = frame;
            seekPending_ = true;
        });
    }
    HRESULT SetRate(double rate) override { return rate == 1.0 ? S_OK : E_NOTIMPL; }
    HRESULT GetRate(double* rate) override {
        if (!rate) return E_POINTER;
        *rate = 1.0;
        return S_OK;
    }

    const WAVEFORMATEX& Format() const { return format_; }
    const std::string& Path() const { return path_; }
    uint64_t DataStart() const { return dataStart_; }
    uint64_t TotalFrames() const { return dataBytes_ / format_.nBlockAlign; }
    void RewindToStart() {
        std::lock_guard lock(positionLock_);
        seekPending_ = true;
    }
    // The frame to continue from, and whether it changed since the last call.
    uint64_t TakeStart(bool* changed) {
        std::lock_guard lock(positionLock_);
        *changed = seekPending_;
        seekPending_ = false;
        return startFrame_;
    }

private:
    using SourceFilter::PrimaryInterface;

    HRESULT Validate() {
        bool pcm = format_.wFormatTag == WAVE_FORMAT_PCM &&
                   (format_.wBitsPerSample == 8 || format_.wBitsPerSample == 16);
        bool flt = format_.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && format_.wBitsPerSample == 32;
        if ((!pcm && !flt) || format_.nChannels == 0 || format_.nChannels > 8 ||
            format_.nSamplesPerSec < 1000 || format_.nSamplesPerSec > 384000)
            return VFW_E_INVALID_FILE_FORMAT;
        format_.nBlockAlign = static_cast<WORD>(format_.nChannels * format_.wBitsPerSample / 8);
        format_.nAvgBytesPerSec = format_.nSamplesPerSec * format_.nBlockAlign;
        AddPin(std::make_unique<WavStream>(this));
        return S_OK;
    }

    std::string path_;
    WAVEFORMATEX format_{};
    uint64_t dataStart_ = 0, dataBytes_ = 0;
    std::mutex positionLock_;
    uint64_t startFrame_ = 0;
    bool seekPending_ = true;
};

WavStream::WavStream(WavFileSource* source) : SourceStream(source, L"Output"), source_(source) {}

HRESULT WavStream::GetMediaType(int position, MediaType* type) {
    if (position != 0) return VFW_S_NO_MORE_ITEMS;
    const WAVEFORMATEX& format = source_->Format();
    MediaType result;
    result.majortype = MEDIATYPE_Audio;
    result.subtype = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT ? MEDIASUBTYPE_IEEE_FLOAT
                                                                 : MEDIASUBTYPE_PCM;
    result.formattype = FORMAT_WaveFormatEx;
    result.lSampleSize = format.nBlockAlign;
    result.SetFormat(&format, sizeof format);
    *type = result;
    return S_OK;
}

HRESULT WavStream::CheckMediaType(const MediaType& type) {
    MediaType own;
    GetMediaType(0, &own);
    return own.Matches(type) ? S_OK : S_FALSE;
}

HRESULT WavStream::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    const WAVEFORMATEX& format = source_->Format();
    // A tenth of a second per sample, whole frames.
    LONG size = static_cast<LONG>(std::max<DWORD>(format.nAvgBytesPerSec / 10, 4096));
    size -= size % format.nBlockAlign;
    ALLOCATOR_PROPERTIES wanted{std::max<LONG>(request->cBuffers, 4),
                                std::max<LONG>(request->cbBuffer, size), 1, 0};
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < format.nBlockAlign ? E_FAIL : S_OK;
}

HRESULT WavStream::OnThreadCreate() {
    file_ = std::fopen(source_->Path().c_str(), "rb");
    if (!file_) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    // Every run starts again at the last position set by a seek (0 by default).
    source_->RewindToStart();
    return S_OK;
}

HRESULT WavStream::OnThreadDestroy() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    return S_OK;
}

HRESULT WavStream::FillBuffer(IMediaSample* sample) {
    const WAVEFORMATEX& format = source_->Format();
    bool changed = false;
    uint64_t start = source_->TakeStart(&changed);
    if (changed) {
        framesSent_ = 0;
        if (std::fseek(file_, static_cast<long>(source_->DataStart() + start * format.nBlockAlign),
                       SEEK_SET) != 0)
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    }
    uint64_t left = source_->TotalFrames() - std::min(source_->TotalFrames(), start + framesSent_);
    if (left == 0) return S_FALSE;
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    uint64_t frames = std::min<uint64_t>(left, static_cast<uint64_t>(sample->GetSize()) / format.nBlockAlign);
    size_t bytes = static_cast<size_t>(frames * format.nBlockAlign);
    size_t got = std::fread(buffer, 1, bytes, file_);
    if (got == 0) return std::ferror(file_) ? HRESULT_FROM_WIN32(ERROR_INVALID_DATA) : S_FALSE;
    frames = got / format.nBlockAlign;
    if (frames == 0) return S_FALSE;
    sample->SetActualDataLength(static_cast<LONG>(frames * format.nBlockAlign));
    // Times run from 0 at the start of every segment (after a seek too).
    REFERENCE_TIME begin = static_cast<REFERENCE_TIME>(framesSent_ * 10'000'000ull / format.nSamplesPerSec);
    framesSent_ += frames;
    REFERENCE_TIME end = static_cast<REFERENCE_TIME>(framesSent_ * 10'000'000ull / format.nSamplesPerSec);
    sample->SetTime(&begin, &end);
    sample->SetSyncPoint(TRUE);
    return S_OK;
}

}  // namespace

HRESULT CreateWavFileSource(REFIID iid, void** out) {
    return CreateObject<WavFileSource>(iid, out);
}

}  // namespace quil::filters
