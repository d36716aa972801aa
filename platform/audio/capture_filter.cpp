#include "platform/audio/capture_filter.h"

#include <cmath>
#include <memory>
#include <mutex>

#include "platform/audio/capture_interfaces.h"
#include "platform/audio/capture_stream.h"
#include "platform/audio/pulse_client.h"
#include "platform/com/strings.h"
#include "platform/graph/source_stream.h"

namespace quil::audio {

namespace {

constexpr int kRates[9] = {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

MediaType PcmType(const WAVEFORMATEX& format) {
    MediaType type;
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.formattype = FORMAT_WaveFormatEx;
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = format.nBlockAlign;
    type.SetFormat(&format, sizeof format);
    return type;
}

// A PCM format the server can record: 8 or 16 bits, one or two channels, a sane rate, and the
// derived fields consistent, so no sample is ever misread.
bool IsRecordable(const AM_MEDIA_TYPE* type, WAVEFORMATEX* format) {
    if (!type || type->majortype != MEDIATYPE_Audio || type->subtype != MEDIASUBTYPE_PCM ||
        type->formattype != FORMAT_WaveFormatEx || !type->pbFormat ||
        type->cbFormat < sizeof(PCMWAVEFORMAT))
        return false;
    WAVEFORMATEX wanted{};
    std::memcpy(&wanted, type->pbFormat, sizeof(PCMWAVEFORMAT));
    if (wanted.wFormatTag != WAVE_FORMAT_PCM || (wanted.nChannels != 1 && wanted.nChannels != 2) ||
        (wanted.wBitsPerSample != 8 && wanted.wBitsPerSample != 16) ||
        wanted.nSamplesPerSec < 8000 || wanted.nSamplesPerSec > 48000 ||
        wanted.nBlockAlign != wanted.nChannels * wanted.wBitsPerSample / 8 ||
        wanted.nAvgBytesPerSec != wanted.nSamplesPerSec * wanted.nBlockAlign)
        return false;
    // PCM carries no extra bytes, whatever the caller's extra-size field said.
    wanted.cbSize = 0;
    *format = wanted;
    return true;
}

class CaptureFilter;

class CapturePin final : public SourceStream,
                         public IAMStreamConfig,
                         public IAMBufferNegotiation,
                         public IPinCategory,
                         public IAudioCaptureControl {
public:
    CapturePin(CaptureFilter* filter, std::shared_ptr<PulseClient> client, std::string source);
    ~CapturePin() override;
    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

    HRESULT CheckMediaType(const MediaType& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    HRESULT SetFormat(AM_MEDIA_TYPE* type) override;
    HRESULT GetFormat(AM_MEDIA_TYPE** type) override;
    HRESULT GetNumberOfCapabilities(int* count, int* size) override;
    HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) override;

    HRESULT SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* props) override;
    HRESULT GetAllocatorProperties(ALLOCATOR_PROPERTIES* props) override;

    HRESULT GetCategory(GUID* category) override {
        if (!category) return E_POINTER;
        *category = PIN_CATEGORY_CAPTURE;
        return S_OK;
    }

    HRESULT DeliverPending(DWORD timeoutMs) override;
    HRESULT GetOverruns(ULONG* count, LONGLONG* bytesLost) override;
    HRESULT GetLatency(REFERENCE_TIME* latency) override;

    void SetCorked(bool corked) {
        auto stream = Stream();
        if (!stream) return;
        // What the server recorded before a pause belongs to the recording.
        if (corked) stream->WaitCaptured(std::chrono::milliseconds(3000));
        stream->SetCorked(corked);
    }

protected:
    HRESULT FillBuffer(IMediaSample* sample) override;
    // The pin's thread hands the captured audio on; it runs above the encoders' work.
    HRESULT OnThreadStartPlay() override {
        SetThreadPriority(THREAD_PRIORITY_HIGHEST);
        return S_OK;
    }

private:
    using SourceStream::PrimaryInterface;
    std::shared_ptr<CaptureStream> Stream() {
        std::lock_guard lock(streamLock_);
        return stream_;
    }

    std::shared_ptr<PulseClient> client_;
    std::string source_;
    WAVEFORMATEX format_;
    ALLOCATOR_PROPERTIES suggested_{};
    std::mutex streamLock_;
    std::shared_ptr<CaptureStream> stream_;
    uint64_t framesSent_ = 0;
};

class LinePin final : public BasePin, public IAMAudioInputMixer {
public:
    LinePin(CaptureFilter* filter, std::shared_ptr<PulseClient> client, std::string source,
            const RecordingLine& line);
    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (InterfaceMatches<IAMAudioInputMixer>(iid))
            return GetInterface<IAMAudioInputMixer>(this, out);
        return BasePin::NonDelegatingQueryInterface(iid, out);
    }

    // A line carries no stream in this graph; it only selects and levels.
    HRESULT CheckMediaType(const MediaType&) override { return S_FALSE; }

    HRESULT put_Enable(BOOL enable) override;
    HRESULT get_Enable(BOOL* enable) override;
    HRESULT put_Mono(BOOL) override { return E_NOTIMPL; }
    HRESULT get_Mono(BOOL*) override { return E_NOTIMPL; }
    HRESULT put_MixLevel(double level) override;
    HRESULT get_MixLevel(double* level) override;

private:
    using BasePin::PrimaryInterface;
    // Selected and not muted: a source records from its active port only.
    bool IsSelected(const PulseSource& source) const {
        return port_.empty() || source.activePort == port_;
    }

    std::shared_ptr<PulseClient> client_;
    std::string source_;
    std::string port_;
};

class CaptureFilter final : public BaseFilter, public ISpecifyPropertyPages {
public:
    explicit CaptureFilter(const RecordingDevice& device, std::shared_ptr<PulseClient> client)
        : BaseFilter(CLSID_AudioRecord) {
        capture_ = std::make_unique<CapturePin>(this, client, device.sourceName);
        for (const RecordingLine& line : device.lines)
            lines_.push_back(std::make_unique<LinePin>(this, client, device.sourceName, line));
    }
    ~CaptureFilter() override { capture_->Inactive(); }
    QUIL_DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (InterfaceMatches<ISpecifyPropertyPages>(iid))
            return GetInterface<ISpecifyPropertyPages>(this, out);
        return BaseFilter::NonDelegatingQueryInterface(iid, out);
    }

    int GetPinCount() override { return 1 + static_cast<int>(lines_.size()); }
    BasePin* GetPin(int index) override {
        if (index == 0) return capture_.get();
        if (index < 0 || index > static_cast<int>(lines_.size())) return nullptr;
        return lines_[static_cast<size_t>(index - 1)].get();
    }

    // Nothing is captured while paused: the server holds the stream back.
    HRESULT Pause() override {
        bool wasRunning = State() == State_Running;
        HRESULT hr = BaseFilter::Pause();
        if (SUCCEEDED(hr) && wasRunning) capture_->SetCorked(true);
        return hr;
    }
    HRESULT Run(REFERENCE_TIME start) override {
        HRESULT hr = BaseFilter::Run(start);
        if (SUCCEEDED(hr)) capture_->SetCorked(false);
        return hr;
    }

    HRESULT GetPages(CAUUID* pages) override {
        if (!pages) return E_POINTER;
        pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
        if (!pages->pElems) {
            pages->cElems = 0;
            return E_OUTOFMEMORY;
        }
        pages->cElems = 1;
        pages->pElems[0] = CLSID_AudioCapturePropertyPage;
        return S_OK;
    }

private:
    using BaseFilter::PrimaryInterface;
    std::unique_ptr<CapturePin> capture_;
    std::vector<std::unique_ptr<LinePin>> lines_;
};

CapturePin::CapturePin(CaptureFilter* filter, std::shared_ptr<PulseClient> client,
                       std::string source)
    : SourceStream(filter, L"Capture"),
      client_(std::move(client)),
      source_(std::move(source)),
      format_(CaptureFormatAt(2)) {}

CapturePin::~CapturePin() {
    if (auto stream = Stream()) stream->Interrupt();
    StopThread();
}

HRESULT CapturePin::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (InterfaceMatches<IAMStreamConfig>(iid)) return GetInterface<IAMStreamConfig>(this, out);
    if (InterfaceMatches<IAMBufferNegotiation>(iid))
        return GetInterface<IAMBufferNegotiation>(this, out);
    if (InterfaceMatches<IPinCategory>(iid)) return GetInterface<IPinCategory>(this, out);
    if (InterfaceMatches<IAudioCaptureControl>(iid))
        return GetInterface<IAudioCaptureControl>(this, out);
    return SourceStream::NonDelegatingQueryInterface(iid, out);
}

HRESULT CapturePin::GetMediaType(int position, MediaType* type) {
    if (position != 0) return VFW_S_NO_MORE_ITEMS;
    *type = PcmType(format_);
    return S_OK;
}

HRESULT CapturePin::CheckMediaType(const MediaType& type) {
    WAVEFORMATEX offered;
    if (!IsRecordable(&type, &offered)) return S_FALSE;
    return std::memcmp(&offered, &format_, sizeof(PCMWAVEFORMAT)) == 0 ? S_OK : S_FALSE;
}

HRESULT CapturePin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    LONG block = format_.nBlockAlign;
    // 50 ms per buffer unless the application asked for a size.
    LONG size = suggested_.cbBuffer > 0 ? suggested_.cbBuffer
                                        : static_cast<LONG>(format_.nAvgBytesPerSec / 20);
    size = std::max(size - size % block, block);
    LONG count =
        suggested_.cBuffers > 0 ? suggested_.cBuffers : std::max<LONG>(request->cBuffers, 16);
    ALLOCATOR_PROPERTIES wanted{count, std::max(size, request->cbBuffer), 1, 0};
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < block ? E_FAIL : S_OK;
}

HRESULT CapturePin::Active() {
    // A buffer size suggested after connecting takes effect when streaming starts.
    if (allocator_ && (suggested_.cbBuffer > 0 || suggested_.cBuffers > 0)) {
        ALLOCATOR_PROPERTIES props{}, actual{};
        allocator_->GetProperties(&props);
        if (suggested_.cBuffers > 0) props.cBuffers = suggested_.cBuffers;
        if (suggested_.cbBuffer > 0)
            props.cbBuffer =
                std::max<LONG>(suggested_.cbBuffer - suggested_.cbBuffer % format_.nBlockAlign,
                               format_.nBlockAlign);
        allocator_->SetProperties(&props, &actual);
    }
    auto* filter = static_cast<CaptureFilter*>(filter_);
    auto stream =
        std::make_shared<CaptureStream>(client_, source_, format_, [filter](bool present) {
            // Second parameter 0: the device went away; 1: it is back.
            filter->NotifyEvent(EC_DEVICE_LOST, 0, present ? 1 : 0);
        });
    HRESULT hr = stream->Open();
    if (FAILED(hr)) return hr;
    {
        std::lock_guard lock(streamLock_);
        stream_ = stream;
    }
    framesSent_ = 0;
    hr = SourceStream::Active();
    if (FAILED(hr)) stream->Close();
    return hr;
}

HRESULT CapturePin::Inactive() {
    auto stream = Stream();
    if (stream) stream->Interrupt();
    HRESULT hr = SourceStream::Inactive();
    // Kept, so its counters stay readable after the stop.
    if (stream) stream->Close();
    return hr;
}

HRESULT CapturePin::FillBuffer(IMediaSample* sample) {
    auto stream = Stream();
    if (!stream) return S_FALSE;
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    size_t got = stream->Read(buffer, static_cast<size_t>(sample->GetSize()));
    if (got == 0) return S_FALSE;
    sample->SetActualDataLength(static_cast<LONG>(got));
    // Times run from 0 at the start of the recording.
    auto time = [&](uint64_t frames) {
        return static_cast<REFERENCE_TIME>(frames * 10'000'000ull / format_.nSamplesPerSec);
    };
    REFERENCE_TIME begin = time(framesSent_);
    framesSent_ += got / format_.nBlockAlign;
    REFERENCE_TIME end = time(framesSent_);
    sample->SetTime(&begin, &end);
    sample->SetSyncPoint(TRUE);
    return S_OK;
}

HRESULT CapturePin::SetFormat(AM_MEDIA_TYPE* type) {
    WAVEFORMATEX wanted;
    if (!IsRecordable(type, &wanted)) return VFW_E_INVALIDMEDIATYPE;
    std::lock_guard lock(filter_->StateLock());
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
    // The link behind the pin was made for the old format; the caller rebuilds it.
    if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
    format_ = wanted;
    return S_OK;
}

HRESULT CapturePin::GetFormat(AM_MEDIA_TYPE** type) {
    if (!type) return E_POINTER;
    MediaType current = PcmType(format_);
    *type = CreateMediaType(&current);
    return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT CapturePin::GetNumberOfCapabilities(int* count, int* size) {
    if (!count || !size) return E_POINTER;
    *count = kCaptureFormatCount;
    *size = sizeof(AUDIO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
    if (!type || !caps) return E_POINTER;
    if (index < 0 || index >= kCaptureFormatCount) return S_FALSE;
    WAVEFORMATEX format = CaptureFormatAt(index);
    MediaType entry = PcmType(format);
    *type = CreateMediaType(&entry);
    if (!*type) return E_OUTOFMEMORY;
    AUDIO_STREAM_CONFIG_CAPS range{MEDIATYPE_Audio, 1, 2, 1, 8, 16, 8, 8000, 48000, 1};
    std::memcpy(caps, &range, sizeof range);
    return S_OK;
}

HRESULT CapturePin::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* props) {
    if (!props) return E_POINTER;
    if (!filter_->IsStopped()) return VFW_E_NOT_STOPPED;
    suggested_ = *props;
    return S_OK;
}

HRESULT CapturePin::GetAllocatorProperties(ALLOCATOR_PROPERTIES* props) {
    if (!props) return E_POINTER;
    if (allocator_) return allocator_->GetProperties(props);
    if (suggested_.cbBuffer > 0 || suggested_.cBuffers > 0) {
        *props = suggested_;
        return S_OK;
    }
    return E_FAIL;
}

HRESULT CapturePin::DeliverPending(DWORD timeoutMs) {
    auto stream = Stream();
    if (!stream || !ThreadRunning()) return S_FALSE;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    stream->WaitDelivered(std::chrono::milliseconds(timeoutMs));
    // The end of the stream goes downstream too, so encoders hand out what they still hold and
    // writers complete their files before the graph stops.
    stream->Finish();
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return stream->WaitFinished(std::max(left, std::chrono::milliseconds(100))) ? S_OK : S_FALSE;
}

HRESULT CapturePin::GetOverruns(ULONG* count, LONGLONG* bytesLost) {
    if (!count || !bytesLost) return E_POINTER;
    auto stream = Stream();
    *count = stream ? stream->Overruns() : 0;
    *bytesLost = stream ? stream->BytesLost() : 0;
    return S_OK;
}

HRESULT CapturePin::GetLatency(REFERENCE_TIME* latency) {
    if (!latency) return E_POINTER;
    auto stream = Stream();
    *latency = stream ? stream->Latency() : 0;
    return S_OK;
}

LinePin::LinePin(CaptureFilter* filter, std::shared_ptr<PulseClient> client, std::string source,
                 const RecordingLine& line)
    : BasePin(filter, Widen(line.name), PINDIR_INPUT),
      client_(std::move(client)),
      source_(std::move(source)),
      port_(line.port) {}

HRESULT LinePin::get_Enable(BOOL* enable) {
    if (!enable) return E_POINTER;
    auto source = client_->Source(source_);
    if (!source) return E_FAIL;
    *enable = IsSelected(*source) && !source->mute ? TRUE : FALSE;
    return S_OK;
}

HRESULT LinePin::put_Enable(BOOL enable) {
    auto source = client_->Source(source_);
    if (!source) return E_FAIL;
    if (enable) {
        if (!IsSelected(*source) && !client_->SetSourcePort(source_, port_)) return E_FAIL;
        if (source->mute && !client_->SetSourceMute(source_, false)) return E_FAIL;
        return S_OK;
    }
    // Turning off the line the source records from silences it; any other line is off already.
    if (IsSelected(*source) && !source->mute && !client_->SetSourceMute(source_, true))
        return E_FAIL;
    return S_OK;
}

HRESULT LinePin::get_MixLevel(double* level) {
    if (!level) return E_POINTER;
    auto source = client_->Source(source_);
    if (!source) return E_FAIL;
    *level = VolumeToLevel(pa_cvolume_max(&source->volume));
    return S_OK;
}

HRESULT LinePin::put_MixLevel(double level) {
    if (!(level >= 0.0 && level <= 1.0)) return E_INVALIDARG;
    auto source = client_->Source(source_);
    if (!source) return E_FAIL;
    pa_cvolume volume = source->volume;
    pa_cvolume_set(&volume, volume.channels ? volume.channels : 1, LevelToVolume(level));
    return client_->SetSourceVolume(source_, volume) ? S_OK : E_FAIL;
}

}  // namespace

WAVEFORMATEX CaptureFormatAt(int index) {
    if (index < 0 || index >= kCaptureFormatCount) index = 2;
    int bits = index < 18 ? 16 : 8;
    int within = index % 18;
    return MakePcmFormat(kRates[within / 2], within % 2 == 0 ? 2 : 1, bits);
}

HRESULT CreateCaptureFilter(const RecordingDevice& device, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto client = PulseClient::Shared();
    if (!client) return VFW_E_NO_AUDIO_HARDWARE;
    auto* filter = new (std::nothrow) CaptureFilter(device, client);
    if (!filter) return E_OUTOFMEMORY;
    HRESULT hr = filter->NonDelegatingQueryInterface(iid, out);
    filter->NonDelegatingRelease();
    return hr;
}

}  // namespace quil::audio
