#include "engine/core/grabber_core.h"

#include <cstring>
#include <vector>

#include "engine/core/encoder_settings.h"
#include "platform/com/class_registry.h"
#include "platform/com/strings.h"
#include "platform/filters/class_ids.h"
#include "platform/filters/stock_filters.h"
#include "platform/graph/base_filter.h"
#include "platform/wmf/profile_manager.h"

namespace quil::engine {

bool FitsPath(const char* path) {
    return path && strnlen(path, kPathBytes) < kPathBytes;
}

std::wstring WidePath(const char* path) {
    return FitsPath(path) ? Widen(path) : std::wstring();
}

GrabberCore::GrabberCore() {
    filters::RegisterStockFilters();
}

GrabberCore::~GrabberCore() {
    ReleaseInterfaces();
}

bool GrabberCore::CreateGraph() {
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(graph.Put()))))
        return false;
    control = QueryAs<IMediaControl>(graph.Get());
    events = QueryAs<IMediaEventEx>(graph.Get());
    return control && events;
}

void GrabberCore::ReleaseInterfaces() {
    levelTap = nullptr;
    control = nullptr;
    events = nullptr;
    if (graph && source) {
        RemoveDownstream(source.Get());
        graph->RemoveFilter(source.Get());
    }
    source = nullptr;
    graph = nullptr;
    state = kNoGraph;
    held_.clear();
}

int GrabberCore::Run() {
    if (state != kPaused && state != kStopped) return 0;
    if (!control || FAILED(control->Run())) return 0;
    state = kRunning;
    return 1;
}

int GrabberCore::Pause(bool ignoreFailure) {
    if (state != kRunning || !control) return 0;
    HRESULT hr = control->Pause();
    if (FAILED(hr) && !ignoreFailure) return 0;
    state = kPaused;
    return 1;
}

int GrabberCore::StopAny() {
    if (state == kNoGraph || !control) return 0;
    control->Stop();
    state = kStopped;
    return 1;
}

int GrabberCore::StopFrom(bool allowPaused) {
    if (!control || !(state == kRunning || (allowPaused && state == kPaused))) return 0;
    control->StopWhenReady();
    control->Stop();
    state = kStopped;
    return 1;
}

int GrabberCore::StopAfterEnd(bool ended, LONG completeTimeoutMs, bool allowPaused) {
    if (ended && events) {
        LONG code = 0;
        events->WaitForCompletion(completeTimeoutMs, &code);
    }
    int stopped = StopFrom(allowPaused);
    long code, param1, param2;
    std::deque<HeldEvent> kept;
    while (GetEvent(&code, &param1, &param2))
        if (code != EC_COMPLETE) kept.push_back({code, param1, param2});
    held_ = std::move(kept);
    return stopped;
}

int GrabberCore::SetNotifyWindow(HWND window, UINT message, void* instance) {
    if (state == kNoGraph || !events) return 0;
    return SUCCEEDED(events->SetNotifyWindow(reinterpret_cast<OAHWND>(window),
                                             static_cast<LONG>(message),
                                             reinterpret_cast<LONG_PTR>(instance)))
               ? 1
               : 0;
}

int GrabberCore::GetEvent(long* code, long* param1, long* param2) {
    if (state == kNoGraph || !events || !code || !param1 || !param2) return 0;
    if (!held_.empty()) {
        *code = held_.front().code;
        *param1 = held_.front().param1;
        *param2 = held_.front().param2;
        held_.pop_front();
        return 1;
    }
    LONG eventCode;
    LONG_PTR p1, p2;
    if (events->GetEvent(&eventCode, &p1, &p2, 0) != S_OK) return 0;
    events->FreeEventParams(eventCode, p1, p2);
    *code = eventCode;
    *param1 = static_cast<long>(p1);
    *param2 = static_cast<long>(p2);
    return 1;
}

int GrabberCore::GetSample(void* buffer, int* size, PCMWAVEFORMAT* format) {
    if (state != kRunning || !levelTap || !size) return 0;
    LONG bytes = 0;
    if (FAILED(levelTap->GetCurrentBuffer(&bytes, nullptr))) return 0;
    if (!buffer && !format) {
        *size = bytes;
        return 1;
    }
    if (buffer) {
        if (bytes > *size) return 0;
        // The tap copies into LONG-aligned storage; the caller's buffer may be any bytes.
        std::vector<LONG> copy(static_cast<size_t>(bytes) / sizeof(LONG) + 1);
        LONG got = bytes;
        if (FAILED(levelTap->GetCurrentBuffer(&got, copy.data()))) return 0;
        std::memcpy(buffer, copy.data(), static_cast<size_t>(got));
        *size = got;
    }
    MediaType connected;
    if (format && SUCCEEDED(levelTap->GetConnectedMediaType(&connected)) &&
        connected.majortype == MEDIATYPE_Audio && connected.subtype == MEDIASUBTYPE_PCM &&
        connected.formattype == FORMAT_WaveFormatEx && connected.cbFormat >= sizeof(PCMWAVEFORMAT))
        std::memcpy(format, connected.pbFormat, sizeof(PCMWAVEFORMAT));
    return 1;
}

std::vector<ComPtr<IBaseFilter>> GrabberCore::Filters() const {
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<IEnumFilters> list;
    if (!graph || FAILED(graph->EnumFilters(list.Put()))) return filters;
    IBaseFilter* filter = nullptr;
    ULONG fetched = 0;
    while (list->Next(1, &filter, &fetched) == S_OK && fetched == 1)
        filters.push_back(ComPtr<IBaseFilter>::Adopt(filter));
    return filters;
}

void GrabberCore::RemoveFiltersExcept(const std::vector<ComPtr<IBaseFilter>>& kept) {
    for (auto& filter : Filters()) {
        bool keep = false;
        for (auto& k : kept) keep = keep || k.Get() == filter.Get();
        if (keep) continue;
        if (levelTap && QueryAs<IBaseFilter>(levelTap.Get()).Get() == filter.Get())
            levelTap = nullptr;
        graph->RemoveFilter(filter.Get());
    }
}

bool GrabberCore::RemoveDownstream(IBaseFilter* filter) {
    if (!graph || !filter) return true;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.Put()))) return false;
    std::vector<ComPtr<IPin>> list;
    IPin* pin = nullptr;
    ULONG fetched = 0;
    while (pins->Next(1, &pin, &fetched) == S_OK && fetched == 1)
        list.push_back(ComPtr<IPin>::Adopt(pin));
    bool removed = true;
    for (auto& own : list) {
        ComPtr<IPin> peer;
        if (FAILED(own->ConnectedTo(peer.Put()))) continue;
        PIN_INFO info{};
        if (FAILED(peer->QueryPinInfo(&info))) {
            removed = false;
            continue;
        }
        auto peerFilter = ComPtr<IBaseFilter>::Adopt(info.pFilter);
        if (info.dir != PINDIR_INPUT) continue;
        // A pin that stays connected (its filter still streaming) would feed a removed filter.
        if (!RemoveDownstream(peerFilter.Get())) removed = false;
        if (FAILED(graph->Disconnect(peer.Get()))) removed = false;
        if (FAILED(graph->Disconnect(own.Get()))) removed = false;
        if (FAILED(graph->RemoveFilter(peerFilter.Get()))) removed = false;
    }
    return removed;
}

ComPtr<IBaseFilter> GrabberCore::AddFilter(const CLSID& clsid, const wchar_t* name) {
    ComPtr<IBaseFilter> filter;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(filter.Put()))))
        return {};
    if (FAILED(graph->AddFilter(filter.Get(), name))) return {};
    return filter;
}

bool GrabberCore::Connect(IPin* upstream, IBaseFilter* filter) {
    auto input = FindPinByIndex(filter, PINDIR_INPUT, 1);
    return upstream && input && SUCCEEDED(graph->Connect(upstream, input.Get()));
}

bool GrabberCore::InsertLevelTap(IPin* upstream, ComPtr<IPin>* next) {
    ComPtr<IBaseFilter> tap;
    if (FAILED(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(tap.Put()))))
        return false;
    levelTap = QueryAs<ISampleGrabber>(tap.Get());
    bool ok = levelTap && SUCCEEDED(graph->AddFilter(tap.Get(), L"SampleGrabber"));
    if (ok) {
        MediaType wanted;
        wanted.majortype = MEDIATYPE_Audio;
        wanted.subtype = MEDIASUBTYPE_PCM;
        wanted.formattype = GUID_NULL;
        levelTap->SetMediaType(&wanted);
        ok = Connect(upstream, tap.Get());
    }
    ComPtr<IPin> output = ok ? FindPinByIndex(tap.Get(), PINDIR_OUTPUT, 1) : ComPtr<IPin>();
    if (!output) {
        levelTap = nullptr;
        graph->RemoveFilter(tap.Get());
        return false;
    }
    levelTap->SetOneShot(FALSE);
    levelTap->SetBufferSamples(TRUE);
    *next = output;
    return true;
}

ComPtr<IBaseFilter> GrabberCore::AddFileWriter(const CLSID& clsid, const wchar_t* name,
                                               bool overwrite) {
    auto writer = AddFilter(clsid, name);
    if (!writer) return {};
    if (overwrite) {
        auto sink = QueryAs<IFileSinkFilter2>(writer.Get());
        if (!sink || FAILED(sink->SetMode(AM_FILE_OVERWRITE))) return {};
    }
    auto sink = QueryAs<IFileSinkFilter>(writer.Get());
    if (!sink || FAILED(sink->SetFileName(WidePath(outputPath).c_str(), nullptr))) return {};
    return writer;
}

bool GrabberCore::BuildChain(int format, IPin* feed, const ChainPolicy& policy) {
    if (!graph || !feed) return false;
    switch (format) {
        case kWav:
            return BuildWav(feed);
        case kMp3:
            return BuildMp3(feed, policy);
        case kWma:
            return BuildWma(feed, policy);
        case kOgg:
            return BuildOgg(feed, policy);
        default:
            return false;
    }
}

bool GrabberCore::BuildWav(IPin* feed) {
    auto waveDest = AddFilter(CLSID_WavDest, L"Wave Dest");
    if (!waveDest || !Connect(feed, waveDest.Get())) return false;
    auto writer = AddFileWriter(CLSID_FileWriter, L"File Writer", true);
    return writer && Connect(FindPinByIndex(waveDest.Get(), PINDIR_OUTPUT, 1).Get(), writer.Get());
}

bool GrabberCore::BuildMp3(IPin* feed, const ChainPolicy& policy) {
    auto fail = [&](const char* text) {
        if (text && policy.errorBox) policy.errorBox(text);
        return false;
    };
    ComPtr<IBaseFilter> encoder;
    if (FAILED(CoCreateInstance(CLSID_Mp3Encoder, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(encoder.Put()))))
        return fail("Create MP3 Encoder Filter Failed");
    if (FAILED(graph->AddFilter(encoder.Get(), L"Mp3 Encoder"))) return fail(nullptr);
    if (!policy.mp3SettingsAfterConnect && !ApplyMp3Settings(encoder.Get(), mp3_))
        return fail(nullptr);
    if (!Connect(feed, encoder.Get())) return fail("Connect Mp3 Encoder Failed");
    if (policy.mp3SettingsAfterConnect && !ApplyMp3Settings(encoder.Get(), mp3_))
        return fail(nullptr);
    ComPtr<IBaseFilter> dump;
    if (FAILED(CoCreateInstance(CLSID_FileDump, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(dump.Put()))))
        return fail("Create File Dump Failed");
    if (FAILED(graph->AddFilter(dump.Get(), L"File Dump"))) return fail(nullptr);
    auto sink = QueryAs<IFileSinkFilter>(dump.Get());
    if (!sink || FAILED(sink->SetFileName(WidePath(outputPath).c_str(), nullptr)))
        return fail(nullptr);
    auto encoded = FindPinByIndex(encoder.Get(), PINDIR_OUTPUT, 1);
    if (!encoded) return fail(nullptr);
    if (!Connect(encoded.Get(), dump.Get())) return fail("Connect File Dump Failed");
    return true;
}

bool GrabberCore::BuildOgg(IPin* feed, const ChainPolicy& policy) {
    auto encoder = AddFilter(CLSID_OggEncoder, L"Ogg Encoder");
    if (!encoder) return false;
    if (policy.oggQualityBeforeConnect) WriteOggQuality(encoder.Get(), ogg_.quality);
    if (!Connect(feed, encoder.Get())) return false;
    if (!policy.oggQualityBeforeConnect) WriteOggQuality(encoder.Get(), ogg_.quality);
    auto mux = AddFilter(CLSID_OggMultiplexer, L"Ogg Multiplexer");
    if (!mux || !Connect(FindPinByIndex(encoder.Get(), PINDIR_OUTPUT, 1).Get(), mux.Get()))
        return false;
    auto writer = AddFileWriter(CLSID_FileWriter, L"File Writer", true);
    return writer && Connect(FindPinByIndex(mux.Get(), PINDIR_OUTPUT, 1).Get(), writer.Get());
}

bool GrabberCore::BuildWma(IPin* feed, const ChainPolicy& policy) {
    auto withSite = QueryAs<IObjectWithSite>(graph.Get());
    if (withSite) withSite->SetSite(&site);
    ComPtr<IBaseFilter> writer;
    if (FAILED(CoCreateInstance(CLSID_AsfWriter, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(writer.Put()))))
        return false;
    auto sink = QueryAs<IFileSinkFilter2>(writer.Get());
    // The writer takes its file name before it joins the graph.
    if (!sink || FAILED(sink->SetFileName(WidePath(outputPath).c_str(), nullptr))) return false;
    if (FAILED(graph->AddFilter(writer.Get(), L"ASF Writer"))) return false;
    ComPtr<IWMProfileManager> manager(policy.profileManager);
    if (!manager && FAILED(WMCreateProfileManager(manager.Put()))) return false;
    auto profile =
        FindSystemProfile(manager.Get(), ProfileVersion(wmaProfileVersion), wmaProfileName);
    if (!profile || !ConfigureAsfWriter(writer.Get(), profile.Get())) return false;
    return Connect(feed, writer.Get());
}

int GrabberCore::SetOutputPath(const char* path) {
    // A path cut short would write another file: refuse it and forget the previous one.
    outputPath[0] = '\0';
    if (!FitsPath(path)) return 0;
    std::memcpy(outputPath, path, std::strlen(path) + 1);
    return 1;
}

int GrabberCore::SetWmaProfile(int version, const char* name) {
    if (!name) return 0;
    wmaProfileVersion = version;
    CopyBounded(name, wmaProfileName, kNameBytes);
    return 1;
}

DWORD GrabberCore::ProfileVersion(int version) {
    switch (version) {
        case 4:
            return 0x00040000;
        case 8:
            return 0x00080000;
        case 9:
            return 0x00090000;
        default:
            return 0x00070000;
    }
}

int GrabberCore::GetProfileCount(IWMProfileManager* manager, int version, int* count) {
    auto manager2 = QueryAs<IWMProfileManager2>(manager);
    if (!manager2 || !count) return 0;
    manager2->SetSystemProfileVersion(ProfileVersion(version));
    DWORD profiles = 0;
    if (FAILED(manager->GetSystemProfileCount(&profiles))) return 0;
    *count = static_cast<int>(profiles);
    return 1;
}

int GrabberCore::GetProfileInfo(IWMProfileManager* manager, int version, int index,
                                WmaProfileInfo* info) {
    auto manager2 = QueryAs<IWMProfileManager2>(manager);
    if (!manager2 || !info || index < 0) return 0;
    manager2->SetSystemProfileVersion(ProfileVersion(version));
    ComPtr<IWMProfile> profile;
    if (FAILED(manager->LoadSystemProfile(static_cast<DWORD>(index), profile.Put()))) return 0;
    DWORD streams = 0;
    profile->GetStreamCount(&streams);
    GUID type = GUID_NULL;
    ComPtr<IWMStreamConfig> stream;
    if (streams == 1 && SUCCEEDED(profile->GetStream(0, stream.Put())))
        stream->GetStreamType(&type);
    if (streams != 1 || type != MEDIATYPE_Audio) {
        info->audioOnly = 0;
        return 1;
    }
    std::string name = ProfileText(profile.Get(), false);
    std::string description = ProfileText(profile.Get(), true);
    info->audioOnly = 1;
    info->nameLength = static_cast<int32_t>(name.size());
    info->descriptionLength = static_cast<int32_t>(description.size());
    if (info->name) std::memcpy(info->name, name.c_str(), name.size() + 1);
    if (info->description)
        std::memcpy(info->description, description.c_str(), description.size() + 1);
    return 1;
}

}  // namespace quil::engine
