#include "engine/live/live_audio_grabber.h"
#include "engine/live/live_grabber_internal.h"

#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <vector>

#include "engine/core/grabber_core.h"
#include "engine/core/pcm_format_table.h"
#include "platform/audio/capture_interfaces.h"
#include "platform/audio/device_enum.h"
#include "platform/audio/dialog_services.h"
#include "platform/com/class_registry.h"
#include "platform/com/strings.h"
#include "platform/graph/base_filter.h"

namespace quil::engine {

namespace {

constexpr size_t kDeviceNameBytes = 80;
constexpr size_t kLineNameBytes = 80;
constexpr const char* kBoxTitle = "Quillet 3.0";
// How long a stop waits for captured audio to reach the file.
constexpr DWORD kDeliverTimeoutMs = 3000;
constexpr LONG kCompleteTimeoutMs = 2000;

int Mp3RateToIndex(int rate) {
    switch (rate) {
        case 16000:
            return 10;
        case 22050:
            return 8;
        case 24000:
            return 6;
        case 32000:
            return 4;
        case 48000:
            return 0;
        default:
            return 2;
    }
}

std::string FriendlyName(IMoniker* moniker) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(bag.Put())))) return {};
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    std::string name;
    if (SUCCEEDED(bag->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR &&
        value.bstrVal)
        name = Narrow(value.bstrVal);
    VariantClear(&value);
    return name;
}

class LiveGrabber final : public LiveAudioGrabber {
public:
    LiveGrabber() { audio::RegisterAudioClasses(); }
    ~LiveGrabber() { ReleaseGraph(); }

    int BuildGraph(int outputFormat, const char* outputPath) override;
    void ReleaseGraph() override;
    void Destroy() override { delete this; }
    int Run() override { return core_.Run(); }
    int Pause() override { return core_.Pause(false); }
    int Stop() override;
    int GetState() override { return core_.state; }
    int BeginDeviceEnumeration() override;
    int NextDeviceName(const char** name) override;
    int SelectDevice(const char* name, int ignored) override;
    int ShowDeviceProperties() override;
    int ChooseCaptureFormat(HWND owner) override;
    const InputLineList* GetInputLines() override { return &lineList_; }
    int GetEnabledInputLine(const char** name, int* id, double* level) override;
    int EnableInputLineByIndex(int id, int enable) override;
    int EnableInputLineByName(const char* name, int enable) override;
    int SetInputLevel(double level) override;
    int SetNotifyWindow(HWND window, UINT message) override {
        owner_ = window;
        return core_.SetNotifyWindow(window, message, this);
    }
    int GetEvent(long* code, long* param1, long* param2) override;
    int FreeEventParams(long, long, long) override { return 1; }
    int GetWavFormat(int* index) override {
        if (index) *index = wavFormatIndex_;
        return 1;
    }
    int SetWavFormat(int index) override {
        wavFormatIndex_ = index;
        return 1;
    }
    int GetCaptureFormat(PCMWAVEFORMAT* format) override {
        if (format) std::memcpy(format, &captureFormat_, sizeof(PCMWAVEFORMAT));
        return 1;
    }
    int SetMp3Options(int sampleRate, int bitRate, int channelMode, int quality, int copyright,
                      int crc, int original, int privateBit) override {
        core_.SetMp3Options(
            {sampleRate, bitRate, channelMode, quality, copyright, crc, original, privateBit});
        return 1;
    }
    int SetWmaProfile(int version, const char* name) override {
        return core_.SetWmaProfile(version, name);
    }
    int SetOggOptions(int attribute, float quality, int32_t a, int32_t b, int32_t c) override {
        core_.SetOggOptions({attribute, quality, {a, b, c}});
        return 1;
    }
    // Nothing ever names a capture file, so there is never one to copy.
    int CopyCaptureFile(const char*) override { return 0; }
    int GetCopyProgress(int* value) override {
        if (value) *value = copyProgress_;
        return 1;
    }
    int GetSample(void* buffer, int* size, PCMWAVEFORMAT* format) override {
        return core_.GetSample(buffer, size, format);
    }

    IBaseFilter* Device() const { return core_.source.Get(); }
    IGraphBuilder* Graph() const { return core_.graph.Get(); }

private:
    ComPtr<IAMStreamConfig> StreamConfig();
    bool ApplyCaptureFormat(IAMStreamConfig* config, int index);
    bool BuildCaptureChain(int outputFormat, bool applyFormat);
    void RemoveCaptureChain();
    void FreeInputLines();
    void BuildInputLines();
    void ShowError(const char* text);

    GrabberCore core_;
    ComPtr<ICaptureGraphBuilder2> builder_;
    ComPtr<IEnumMoniker> devices_;
    HWND owner_ = nullptr;
    std::vector<InputLine> lines_;
    InputLineList lineList_{0, nullptr};
    int wavFormatIndex_ = kDefaultWavFormatIndex;
    WAVEFORMATEX captureFormat_{};
    int builtFormat_ = -1;
    char deviceName_[kDeviceNameBytes] = {};
    char captureFile_[kPathBytes] = {};
    int copyProgress_ = 0;
};

void LiveGrabber::ShowError(const char* text) {
    MessageBox(nullptr, text, kBoxTitle, MB_OK | MB_ICONERROR);
}

int LiveGrabber::BuildGraph(int outputFormat, const char* outputPath) {
    if (!outputPath || core_.graph) return 0;
    if (!core_.SetOutputPath(outputPath)) return 0;
    if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(builder_.Put()))))
        return 0;
    if (!core_.CreateGraph()) return 0;
    if (FAILED(builder_->SetFiltergraph(core_.graph.Get()))) return 0;
    if (auto withSite = QueryAs<IObjectWithSite>(core_.graph.Get())) withSite->SetSite(&core_.site);
    if (outputFormat < kWav || outputFormat > kOgg || !core_.source) return 0;
    if (FAILED(core_.graph->AddFilter(core_.source.Get(), L"Audio Capture Filter"))) return 0;
    if (!BuildCaptureChain(outputFormat, true)) {
        RemoveCaptureChain();
        return 0;
    }
    builtFormat_ = outputFormat;
    core_.state = kStopped;
    core_.graph->SetDefaultSyncSource();
    return 1;
}

ComPtr<IAMStreamConfig> LiveGrabber::StreamConfig() {
    ComPtr<IAMStreamConfig> config;
    if (!builder_ || !core_.source ||
        FAILED(builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, core_.source.Get(),
                                       IID_PPV_ARGS(config.Put()))))
        return {};
    return config;
}

bool LiveGrabber::ApplyCaptureFormat(IAMStreamConfig* config, int index) {
    AM_MEDIA_TYPE* current = nullptr;
    if (FAILED(config->GetFormat(&current)) || !current) return false;
    MediaType copy(*current);
    DeleteMediaType(current);
    if (IsPcmFormatIndex(index)) captureFormat_ = WaveFormatForIndex(index);
    copy.SetFormat(&captureFormat_, sizeof captureFormat_);
    return SUCCEEDED(config->SetFormat(&copy));
}

// The capture format (unless kept), the level tap right behind the capture pin, then the chain.
bool LiveGrabber::BuildCaptureChain(int outputFormat, bool applyFormat) {
    bool mp3 = outputFormat == kMp3;
    auto config = StreamConfig();
    if (!config) return false;
    if (applyFormat) {
        int index = wavFormatIndex_;
        if (mp3) index = wavFormatIndex_ = Mp3RateToIndex(core_.mp3_.sampleRate);
        if (outputFormat == kOgg) index = core_.ogg_.attribute;
        if (!ApplyCaptureFormat(config.Get(), index)) {
            if (mp3) ShowError("Set Audio Capture Format Failed");
            return false;
        }
    }
    auto capture = FindPinByIndex(core_.source.Get(), PINDIR_OUTPUT, 1);
    ComPtr<IPin> tapOut;
    if (!capture || !core_.InsertLevelTap(capture.Get(), &tapOut)) {
        if (mp3) ShowError("Add Sample Grab Filter Failed");
        return false;
    }
    ChainPolicy policy;
    policy.mp3SettingsAfterConnect = true;
    policy.oggQualityBeforeConnect = false;
    policy.errorBox = [this](const char* text) { ShowError(text); };
    if (!core_.BuildChain(outputFormat, tapOut.Get(), policy)) return false;
    if (outputFormat == kWav) {
        auto negotiation = QueryAs<IAMBufferNegotiation>(capture.Get());
        ALLOCATOR_PROPERTIES props{};
        if (negotiation && SUCCEEDED(negotiation->GetAllocatorProperties(&props))) {
            props.cbBuffer = 2048;
            negotiation->SuggestAllocatorProperties(&props);
        }
    }
    return true;
}

void LiveGrabber::RemoveCaptureChain() {
    core_.levelTap = nullptr;
    if (!core_.graph || !core_.source) return;
    core_.RemoveDownstream(core_.source.Get());
    core_.graph->RemoveFilter(core_.source.Get());
    // A chain that failed halfway leaves filters that hang below nothing; an unconnected writer
    // would still open (and empty) the output file when the graph runs.
    core_.RemoveFiltersExcept({});
}

int LiveGrabber::Stop() {
    if (core_.state != kRunning) return 0;
    // What was captured before the stop still goes into the file.
    auto capture =
        core_.source ? FindPinByIndex(core_.source.Get(), PINDIR_OUTPUT, 1) : ComPtr<IPin>();
    auto control = QueryAs<IAudioCaptureControl>(capture.Get());
    // The writers complete their files on the end of the stream; the graph says when. A caller
    // that drained that completion later would take it for a recording that ended by itself.
    bool ended = control && control->DeliverPending(kDeliverTimeoutMs) == S_OK;
    return core_.StopAfterEnd(ended, kCompleteTimeoutMs, false);
}

int LiveGrabber::GetEvent(long* code, long* param1, long* param2) {
    return core_.GetEvent(code, param1, param2);
}

void LiveGrabber::ReleaseGraph() {
    if (core_.state == kRunning) Stop();
    if (core_.control && core_.state != kNoGraph) core_.control->Stop();
    FreeInputLines();
    devices_ = nullptr;
    core_.ReleaseInterfaces();
    builder_ = nullptr;
    builtFormat_ = -1;
}

int LiveGrabber::BeginDeviceEnumeration() {
    devices_ = nullptr;
    ComPtr<ICreateDevEnum> enumerator;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(enumerator.Put()))))
        return 0;
    if (enumerator->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, devices_.Put(), 0) !=
            S_OK ||
        !devices_)
        return 0;
    devices_->Reset();
    return 1;
}

int LiveGrabber::NextDeviceName(const char** name) {
    if (!devices_ || !name) return 0;
    IMoniker* next = nullptr;
    ULONG fetched = 0;
    if (devices_->Next(1, &next, &fetched) != S_OK || fetched != 1) return 0;
    auto moniker = ComPtr<IMoniker>::Adopt(next);
    CopyBounded(FriendlyName(moniker.Get()), deviceName_, kDeviceNameBytes);
    *name = deviceName_;
    return 1;
}

int LiveGrabber::SelectDevice(const char* name, int) {
    if (!name) return 0;
    ComPtr<ICreateDevEnum> enumerator;
    ComPtr<IEnumMoniker> monikers;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(enumerator.Put()))) ||
        enumerator->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, monikers.Put(), 0) !=
            S_OK)
        return 0;
    IMoniker* next = nullptr;
    ULONG fetched = 0;
    while (monikers->Next(1, &next, &fetched) == S_OK && fetched == 1) {
        auto moniker = ComPtr<IMoniker>::Adopt(next);
        std::string friendly(Utf8Prefix(FriendlyName(moniker.Get()), kDeviceNameBytes - 1));
        if (friendly != name) continue;
        ComPtr<IBaseFilter> device;
        if (FAILED(moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(device.Put())))) return 0;
        // A device already in a graph leaves it with everything behind it.
        if (core_.graph && core_.source) RemoveCaptureChain();
        core_.source = device;
        BuildInputLines();
        return 1;
    }
    return 0;
}

void LiveGrabber::FreeInputLines() {
    for (InputLine& line : lines_)
        if (line.mixer) line.mixer->Release();
    lines_.clear();
    lineList_ = {0, nullptr};
}

void LiveGrabber::BuildInputLines() {
    FreeInputLines();
    int inputs = 0;
    for (int n = 1;; ++n) {
        auto pin = FindPinByIndex(core_.source.Get(), PINDIR_INPUT, n);
        if (!pin) break;
        InputLine line{};
        line.id = inputs++;
        CopyBounded(Narrow(PinName(pin.Get())), line.name, kLineNameBytes);
        line.mixer = QueryAs<IAMAudioInputMixer>(pin.Get()).Detach();
        BOOL enabled = FALSE;
        if (line.mixer && SUCCEEDED(line.mixer->get_Enable(&enabled))) line.enabled = enabled;
        lines_.push_back(line);
    }
    lineList_ = {static_cast<int32_t>(lines_.size()), lines_.data()};
}

int LiveGrabber::ShowDeviceProperties() {
    auto pages = QueryAs<ISpecifyPropertyPages>(core_.source.Get());
    if (!pages) return 0;
    CAUUID list{0, nullptr};
    if (FAILED(pages->GetPages(&list))) return 0;
    HRESULT hr = E_FAIL;
    if (list.cElems > 0) {
        IUnknown* object = core_.source.Get();
        hr = OleCreatePropertyFrame(owner_, 30, 30, nullptr, object,
                                    std::span<const CLSID>(list.pElems, list.cElems));
    }
    CoTaskMemFree(list.pElems);
    return SUCCEEDED(hr) ? 1 : 0;
}

int LiveGrabber::ChooseCaptureFormat(HWND owner) {
    auto config = StreamConfig();
    if (!config) return 0;
    AM_MEDIA_TYPE* current = nullptr;
    if (FAILED(config->GetFormat(&current)) || !current) return 0;
    MediaType type(*current);
    DeleteMediaType(current);
    const WAVEFORMATEX* currentFormat = type.WaveFormat();
    if (!currentFormat) return 1;
    std::vector<WAVEFORMATEX> formats;
    int count = 0, size = 0;
    config->GetNumberOfCapabilities(&count, &size);
    std::vector<BYTE> caps(static_cast<size_t>(std::max(size, 1)));
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* entry = nullptr;
        if (config->GetStreamCaps(i, &entry, caps.data()) != S_OK || !entry) continue;
        // The copy must outlive the pointer into its format block.
        MediaType capability(*entry);
        DeleteMediaType(entry);
        if (const WAVEFORMATEX* format = capability.WaveFormat()) formats.push_back(*format);
    }
    WAVEFORMATEX chosen{};
    if (!ChooseFormat(owner, formats, *currentFormat, &chosen)) return 1;
    chosen.cbSize = 0;
    type.SetFormat(&chosen, sizeof chosen);
    auto capture = FindPinByIndex(core_.source.Get(), PINDIR_OUTPUT, 1);
    ComPtr<IPin> peer;
    bool connected = capture && SUCCEEDED(capture->ConnectedTo(peer.Put()));
    if (!connected) {
        config->SetFormat(&type);
        return 1;
    }
    // The chain behind the pin was built for the old format: while stopped, build it again for
    // the new one, so the file's header always tells the truth about its samples.
    if (core_.state != kStopped || builtFormat_ < 0) return 1;
    core_.levelTap = nullptr;
    core_.RemoveDownstream(core_.source.Get());
    WAVEFORMATEX previous = captureFormat_;
    if (SUCCEEDED(config->SetFormat(&type))) captureFormat_ = chosen;
    if (!BuildCaptureChain(builtFormat_, false)) {
        core_.levelTap = nullptr;
        core_.RemoveDownstream(core_.source.Get());
        core_.RemoveFiltersExcept({core_.source});
        captureFormat_ = previous;
        type.SetFormat(&previous, sizeof previous);
        config->SetFormat(&type);
        if (!BuildCaptureChain(builtFormat_, false)) {
            RemoveCaptureChain();
            core_.state = kNoGraph;
        }
    }
    return 1;
}

int LiveGrabber::GetEnabledInputLine(const char** name, int* id, double* level) {
    for (InputLine& line : lines_) {
        BOOL enabled = FALSE;
        if (!line.mixer || FAILED(line.mixer->get_Enable(&enabled)) || !enabled) continue;
        if (name) *name = line.name;
        if (id) *id = line.id;
        double value = 0;
        line.mixer->get_MixLevel(&value);
        if (level) *level = value;
        return 1;
    }
    return 0;
}

int LiveGrabber::EnableInputLineByIndex(int id, int enable) {
    int result = 0;
    for (InputLine& line : lines_)
        if (line.id == id && line.mixer && SUCCEEDED(line.mixer->put_Enable(enable ? TRUE : FALSE)))
            result = 1;
    return result;
}

int LiveGrabber::EnableInputLineByName(const char* name, int enable) {
    if (!name) return 0;
    for (InputLine& line : lines_) {
        if (std::strcmp(line.name, name) != 0) continue;
        return line.mixer && SUCCEEDED(line.mixer->put_Enable(enable ? TRUE : FALSE)) ? 1 : 0;
    }
    return 0;
}

int LiveGrabber::SetInputLevel(double level) {
    for (InputLine& line : lines_) {
        BOOL enabled = FALSE;
        if (!line.mixer || FAILED(line.mixer->get_Enable(&enabled)) || !enabled) continue;
        return SUCCEEDED(line.mixer->put_MixLevel(level)) ? 1 : 0;
    }
    return 0;
}

}  // namespace

IBaseFilter* CaptureDeviceOf(LiveAudioGrabber* grabber) {
    return static_cast<LiveGrabber*>(grabber)->Device();
}

IGraphBuilder* GraphOf(LiveAudioGrabber* grabber) {
    return static_cast<LiveGrabber*>(grabber)->Graph();
}

}  // namespace quil::engine

void* LiveAudioGrabberCreateInstance() {
    try {
        return static_cast<LiveAudioGrabber*>(new (std::nothrow) quil::engine::LiveGrabber());
    } catch (...) {
        return nullptr;
    }
}
