#include "engine/cd/cd_audio_grabber.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "cdsource/cd_interfaces.h"
#include "engine/cd/cd_grabber_internal.h"
#include "engine/core/grabber_core.h"
#include "engine/core/pcm_format_table.h"
#include "platform/com/class_registry.h"
#include "platform/filters/class_ids.h"
#include "platform/graph/base_filter.h"
#include "platform/wmf/profile_manager.h"

namespace quil::engine {

namespace {

constexpr int kFormatDescriptionBytes = 40;
constexpr int kFieldBytes = 10;

// A failure code is a negative result; S_FALSE (no drive) passes as success.
int ResultOf(HRESULT hr) {
    return SUCCEEDED(hr) ? 1 : 0;
}

void WriteField(char* buffer, int field, const char* text) {
    std::snprintf(buffer + field * kFieldBytes, kFieldBytes, "%s", text);
}

class CdGrabber final : public CDAudioGrabber {
public:
    int CreateGraph() override;
    void ReleaseGraph() override;
    void Destroy() override { delete this; }
    int BuildOutput(int grab, int monitor, int outputFormat) override;
    int ClearOutput() override;
    int SetOutputFile(const char* path) override { return core_.SetOutputPath(path); }
    double GetProgress() override;
    int Run() override {
        // Without a chain the source would stream into nothing.
        auto feed = FindPinByIndex(core_.source.Get(), PINDIR_OUTPUT, 1);
        ComPtr<IPin> chain;
        if (!feed || FAILED(feed->ConnectedTo(chain.Put()))) return 0;
        return core_.Run();
    }
    int Pause() override { return core_.Pause(true); }
    int Stop() override { return core_.StopAny(); }
    int GetState() override { return core_.state; }
    int SetNotifyWindow(HWND window, UINT message) override {
        return core_.SetNotifyWindow(window, message, this);
    }
    int GetEvent(long* code, long* param1, long* param2) override {
        return core_.GetEvent(code, param1, param2);
    }
    int FreeEventParams(long, long, long) override { return 1; }
    int SetWavFormat(int wavFormatIndex) override {
        wavFormatIndex_ = wavFormatIndex;
        return 1;
    }
    int SetMp3Options(int sampleRate, int bitRate, int channelMode, int quality, int copyright,
                      int crc, int original, int privateBit) override {
        core_.SetMp3Options(
            {sampleRate, bitRate, channelMode, quality, copyright, crc, original, privateBit});
        return 1;
    }
    int SetOggOptions(int attribute, float quality, int32_t a, int32_t b, int32_t c) override {
        core_.SetOggOptions({attribute, quality, {a, b, c}});
        return 1;
    }
    int GetProfileCount(int version, int* count) override {
        return WithProfileManager([&](IWMProfileManager* manager) {
            return GrabberCore::GetProfileCount(manager, version, count);
        });
    }
    int GetProfileInfo(int version, int index, WmaProfileInfo* info) override {
        return WithProfileManager([&](IWMProfileManager* manager) {
            return GrabberCore::GetProfileInfo(manager, version, index, info);
        });
    }
    int SetWmaProfile(int version, const char* name) override {
        return core_.SetWmaProfile(version, name);
    }
    int SetCurrentSector(int sector) override {
        auto position = Source<ICdTrackPosition>();
        if (!position) return 0;
        position->SetCurrentSector(static_cast<uint32_t>(sector));
        return 1;
    }
    int GetCurrentSector(int* sector) override {
        auto position = Source<ICdTrackPosition>();
        if (!position || !sector) return 0;
        uint32_t value = 0;
        position->GetCurrentSector(&value);
        *sector = static_cast<int>(value);
        return 1;
    }
    int GetTrackRange(int* first, int* end) override {
        auto position = Source<ICdTrackPosition>();
        if (!position || !first || !end) return 0;
        uint32_t start = 0, length = 0;
        position->GetTrackStart(&start);
        position->GetTrackLength(&length);
        *first = static_cast<int>(start);
        *end = static_cast<int>(start + length);
        return 1;
    }
    int SectorsToSeconds(int sectors, double* seconds) override {
        auto position = Source<ICdTrackPosition>();
        if (!position || !seconds) return 0;
        double value = 0.0;
        position->SectorsToSeconds(static_cast<uint32_t>(sectors), &value);
        *seconds = value;
        return 1;
    }
    int GetFormatDescription(char* buffer) override;
    int SetDrive(int driveLetter) override {
        auto source = Source<ICdTrackSource>();
        return source ? ResultOf(source->SetDrive(driveLetter)) : 0;
    }
    int GetDiscKind(int* kind) override {
        auto source = Source<ICdTrackSource>();
        if (!source || !kind) return 0;
        int32_t value = 0;
        if (FAILED(source->GetDiscKind(&value))) return 0;
        *kind = value;
        return 1;
    }
    int GetTrackCount(int* count) override {
        auto source = Source<ICdTrackSource>();
        if (!source || !count) return 0;
        int32_t value = -1;
        if (FAILED(source->GetTrackCount(&value))) return 0;
        *count = value;
        return 1;
    }
    int GetTrackInfo(int track, int* hours, int* minutes, int* seconds, int* frames,
                     int* milliseconds, int* firstSector, int* length) override {
        auto source = Source<ICdTrackSource>();
        if (!source) return 0;
        return ResultOf(source->GetTrackInfo(track, hours, minutes, seconds, frames, milliseconds,
                                             firstSector, length));
    }
    int MoveDoor(int open) override {
        auto source = Source<ICdTrackSource>();
        return source ? ResultOf(source->MoveDoor(open)) : 0;
    }
    int LockDoor(int lock) override {
        auto door = Source<ICdDoorLock>();
        return door ? ResultOf(door->LockDoor(lock)) : 0;
    }
    int SetCurrentTrack(int track) override {
        auto source = Source<ICdTrackSource>();
        return source ? ResultOf(source->SetCurrentTrack(track)) : 0;
    }
    int GetReadCapability(int* sectors) override {
        auto source = Source<ICdTrackSource>();
        if (!source || !sectors) return 0;
        int32_t value = 0;
        if (FAILED(source->GetReadCapability(&value))) return 0;
        *sectors = value;
        return 1;
    }
    int SetSectorsPerRead(int sectors) override {
        auto source = Source<ICdTrackSource>();
        if (!source) return 0;
        int32_t capability = 0;
        if (FAILED(source->GetReadCapability(&capability))) return 0;
        if (static_cast<uint32_t>(capability) < static_cast<uint32_t>(sectors)) return 0;
        return ResultOf(source->SetSectorsPerRead(static_cast<uint32_t>(sectors)));
    }
    int GetSectorsPerRead(int* sectors) override {
        auto source = Source<ICdTrackSource>();
        if (!source || !sectors) return 0;
        uint32_t value = 0;
        if (FAILED(source->GetSectorsPerRead(&value))) return 0;
        *sectors = static_cast<int>(value);
        return 1;
    }
    int GetSample(void* buffer, int* size, PCMWAVEFORMAT* format) override {
        return core_.GetSample(buffer, size, format);
    }
    int IsMonitoring(int* flag) override {
        if (flag) *flag = monitor_;
        return 1;
    }
    int GetUnreadableSectors(int* sectors) override {
        auto errors = Source<ICdReadErrors>();
        if (!errors || !sectors) return 0;
        uint32_t value = 0;
        if (FAILED(errors->GetUnreadableSectors(&value))) return 0;
        *sectors = static_cast<int>(value);
        return 1;
    }

    IGraphBuilder* Graph() { return core_.graph.Get(); }

private:
    template <class I>
    ComPtr<I> Source() {
        return QueryAs<I>(core_.source.Get());
    }
    // Words of SetOutputFormat for a PCM layout.
    bool SetSourceFormat(const WAVEFORMATEX& format);
    ComPtr<IBaseFilter> AddRenderer();
    int BuildChainFrom(IPin* feed, int monitor, int outputFormat);
    template <class F>
    int WithProfileManager(F call);

    GrabberCore core_;
    ComPtr<IWMProfileManager> profileManager_;
    int playOnly_ = 1;
    int outputFormat_ = kWav;
    int wavFormatIndex_ = kDefaultWavFormatIndex;
    int monitor_ = 0;
};

int CdGrabber::CreateGraph() {
    if (core_.graph) return 0;
    if (!core_.CreateGraph()) return 0;
    if (FAILED(CoCreateInstance(CLSID_CdTrackSource, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(core_.source.Put()))))
        return 0;
    if (FAILED(core_.graph->AddFilter(core_.source.Get(), L"CD Source")) ||
        FAILED(WMCreateProfileManager(profileManager_.Put()))) {
        core_.graph->RemoveFilter(core_.source.Get());
        core_.source = nullptr;
        return 0;
    }
    core_.state = kStopped;
    return 1;
}

void CdGrabber::ReleaseGraph() {
    // A graph still streaming would read the drive while its filters go away.
    if (core_.control && core_.state != kNoGraph) core_.control->Stop();
    core_.levelTap = nullptr;
    profileManager_ = nullptr;
    core_.ReleaseInterfaces();
}

bool CdGrabber::SetSourceFormat(const WAVEFORMATEX& format) {
    auto source = Source<ICdTrackSource>();
    if (!source) return false;
    source->SetOutputFormat(format.wFormatTag | uint32_t{format.nChannels} << 16,
                            format.nSamplesPerSec, format.nAvgBytesPerSec,
                            format.nBlockAlign | uint32_t{format.wBitsPerSample} << 16,
                            format.cbSize);
    return true;
}

ComPtr<IBaseFilter> CdGrabber::AddRenderer() {
    return core_.AddFilter(CLSID_DSoundRender, L"Audio Render");
}

int CdGrabber::BuildOutput(int grab, int monitor, int outputFormat) {
    monitor_ = monitor;
    playOnly_ = grab == 0 ? 1 : 0;
    outputFormat_ = outputFormat;
    if (!core_.graph || !core_.source) return 0;
    auto feed = FindPinByIndex(core_.source.Get(), PINDIR_OUTPUT, 1);
    if (!feed) return 0;
    // A chain can only be added to a stopped graph with a free source pin.
    ComPtr<IPin> connected;
    if (core_.state == kRunning || core_.state == kPaused ||
        SUCCEEDED(feed->ConnectedTo(connected.Put())))
        return 0;
    // A chain that fails halfway goes as a whole: a half-built one would stream into nothing.
    auto before = core_.Filters();
    int built = BuildChainFrom(feed.Get(), monitor, outputFormat);
    if (!built) core_.RemoveFiltersExcept(before);
    return built;
}

int CdGrabber::BuildChainFrom(IPin* feed, int monitor, int outputFormat) {
    if (playOnly_) {
        if (!SetSourceFormat(WaveFormatForIndex(kDefaultWavFormatIndex))) return 0;
        auto renderer = AddRenderer();
        if (!renderer) return 0;
        auto input = FindPinByIndex(renderer.Get(), PINDIR_INPUT, 1);
        if (!input || FAILED(core_.graph->Connect(feed, input.Get()))) {
            core_.graph->RemoveFilter(renderer.Get());
            return 0;
        }
        return 1;
    }

    switch (outputFormat) {
        case kWav:
            if (!SetSourceFormat(WaveFormatForIndex(wavFormatIndex_))) return 0;
            break;
        case kMp3: {
            int rate = core_.mp3_.sampleRate;
            WAVEFORMATEX format = MakePcmFormat(rate, 2, 16, 18);
            format.nAvgBytesPerSec = static_cast<DWORD>(4 * rate);
            SetSourceFormat(format);
            break;
        }
        case kWma:
            break;
        case kOgg:
            if (!SetSourceFormat(WaveFormatForIndex(core_.ogg_.attribute))) return 0;
            break;
        default:
            return 0;
    }

    ComPtr<IPin> teeSecond;
    IPin* chainFeed = feed;
    if (monitor) {
        auto tee = core_.AddFilter(CLSID_InfTee, L"Audio PinTee");
        auto teeIn = tee ? FindPinByIndex(tee.Get(), PINDIR_INPUT, 1) : ComPtr<IPin>();
        if (!teeIn || FAILED(core_.graph->Connect(feed, teeIn.Get()))) return 0;
        auto teeFirst = FindPinByIndex(tee.Get(), PINDIR_OUTPUT, 1);
        if (!teeFirst) return 0;
        ComPtr<IPin> tapOut;
        IPin* upstream =
            core_.InsertLevelTap(teeFirst.Get(), &tapOut) ? tapOut.Get() : teeFirst.Get();
        auto renderer = AddRenderer();
        auto rendererIn =
            renderer ? FindPinByIndex(renderer.Get(), PINDIR_INPUT, 1) : ComPtr<IPin>();
        if (!rendererIn || FAILED(core_.graph->Connect(upstream, rendererIn.Get()))) return 0;
        teeSecond = FindPinByIndex(tee.Get(), PINDIR_OUTPUT, 2);
        if (!teeSecond) return 0;
        chainFeed = teeSecond.Get();
    }
    ChainPolicy policy;
    policy.mp3SettingsAfterConnect = true;
    policy.oggQualityBeforeConnect = true;
    policy.profileManager = profileManager_.Get();
    return core_.BuildChain(outputFormat, chainFeed, policy) ? 1 : 0;
}

int CdGrabber::ClearOutput() {
    // A paused graph still streams: the source's thread would deliver into removed filters.
    if (core_.state == kRunning || core_.state == kPaused) Stop();
    core_.levelTap = nullptr;
    bool removed = core_.RemoveDownstream(core_.source.Get());
    // A chain that failed halfway leaves filters that hang below nothing (an ASF writer whose
    // profile was not found); they go too, or every retry would add another.
    if (core_.graph) {
        std::vector<ComPtr<IBaseFilter>> leftovers;
        ComPtr<IEnumFilters> list;
        if (SUCCEEDED(core_.graph->EnumFilters(list.Put()))) {
            IBaseFilter* filter = nullptr;
            ULONG fetched = 0;
            while (list->Next(1, &filter, &fetched) == S_OK && fetched == 1) {
                auto owned = ComPtr<IBaseFilter>::Adopt(filter);
                if (owned.Get() != core_.source.Get()) leftovers.push_back(owned);
            }
        }
        for (auto& filter : leftovers) core_.graph->RemoveFilter(filter.Get());
    }
    return removed ? 1 : 0;
}

double CdGrabber::GetProgress() {
    auto position = Source<ICdTrackPosition>();
    if (!position) return 0.0;
    uint32_t length = 0, start = 0, current = 0;
    position->GetTrackLength(&length);
    position->GetTrackStart(&start);
    position->GetCurrentSector(&current);
    if (current < start || length == 0) return 0.0;
    return static_cast<double>(current - start) / length;
}

int CdGrabber::GetFormatDescription(char* buffer) {
    if (!buffer || !core_.graph) return 0;
    ComPtr<IPin> pin;
    ComPtr<IBaseFilter> renderer;
    if (SUCCEEDED(core_.graph->FindFilterByName(L"Audio Render", renderer.Put())))
        pin = FindPinByIndex(renderer.Get(), PINDIR_INPUT, 1);
    if (!pin) pin = FindPinByIndex(core_.source.Get(), PINDIR_OUTPUT, 1);
    if (!pin) return 0;
    MediaType type;
    if (FAILED(pin->ConnectionMediaType(&type)) || type.cbFormat < sizeof(WAVEFORMATEX) ||
        !type.pbFormat)
        return 0;
    WAVEFORMATEX format;
    std::memcpy(&format, type.pbFormat, sizeof format);
    char text[kFieldBytes];
    std::snprintf(text, sizeof text, "%2.0f", format.nSamplesPerSec * 0.001);
    WriteField(buffer, 0, text);
    std::snprintf(text, sizeof text, "%u", unsigned{format.wBitsPerSample});
    WriteField(buffer, 1, text);
    if (format.nChannels == 1) WriteField(buffer, 2, "Mono");
    if (format.nChannels == 2) WriteField(buffer, 2, "Stereo");
    if (playOnly_) {
        WriteField(buffer, 3, "cd track");
    } else if (outputFormat_ == kWav) {
        WriteField(buffer, 3, "wave");
    } else if (outputFormat_ == kMp3) {
        WriteField(buffer, 3, "mp3");
    } else if (outputFormat_ == kWma) {
        WriteField(buffer, 3, "wma");
    }
    static_assert(4 * kFieldBytes == kFormatDescriptionBytes);
    return 1;
}

// Profile listing works before the graph exists too (the main window fills its lists through a
// grabber that may have no drive access): without the graph's manager a temporary one serves.
template <class F>
int CdGrabber::WithProfileManager(F call) {
    if (profileManager_) return call(profileManager_.Get());
    ComPtr<IWMProfileManager> temporary;
    if (FAILED(WMCreateProfileManager(temporary.Put()))) return 0;
    return call(temporary.Get());
}

}  // namespace

IGraphBuilder* GraphOf(CDAudioGrabber* grabber) {
    return static_cast<CdGrabber*>(grabber)->Graph();
}

}  // namespace quil::engine

void* CDAudioGrabberCreateInstance() {
    try {
        return static_cast<CDAudioGrabber*>(new (std::nothrow) quil::engine::CdGrabber());
    } catch (...) {
        return nullptr;
    }
}
