#include "engine/media/file_audio_grabber.h"
#include "engine/media/file_grabber_internal.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/grabber_core.h"
#include "platform/com/class_registry.h"
#include "platform/com/strings.h"
#include "platform/filters/class_ids.h"
#include "platform/graph/base_filter.h"
#include "platform/wmf/header_info.h"
#include "platform/wmf/reader_interfaces.h"

namespace quil::engine {

namespace {

// Title and Author reach the caller's 1024-byte buffer.
constexpr size_t kHeaderTextBytes = 1024;
// How long a stop waits for the files to be completed before it stops the graph anyway.
constexpr LONG kEndTimeoutMs = 3000;

bool IsWindowsMediaPath(const char* path) {
    std::string lower = ToLowerAscii(path);
    auto endsWith = [&](const char* suffix) {
        size_t n = std::strlen(suffix);
        return lower.size() >= n && lower.compare(lower.size() - n, n, suffix) == 0;
    };
    return endsWith(".asf") || endsWith(".wma") || endsWith(".wmv");
}

bool IsAudioRenderer(IBaseFilter* filter) {
    CLSID clsid;
    return SUCCEEDED(filter->GetClassID(&clsid)) &&
           (clsid == CLSID_DSoundRender || clsid == CLSID_AudioRender);
}

std::vector<ComPtr<IBaseFilter>> GraphFilters(IGraphBuilder* graph) {
    std::vector<ComPtr<IBaseFilter>> filters;
    ComPtr<IEnumFilters> list;
    if (!graph || FAILED(graph->EnumFilters(list.Put()))) return filters;
    IBaseFilter* filter = nullptr;
    ULONG fetched = 0;
    while (list->Next(1, &filter, &fetched) == S_OK && fetched == 1)
        filters.push_back(ComPtr<IBaseFilter>::Adopt(filter));
    return filters;
}

std::vector<ComPtr<IPin>> FilterPins(IBaseFilter* filter) {
    std::vector<ComPtr<IPin>> pins;
    ComPtr<IEnumPins> list;
    if (FAILED(filter->EnumPins(list.Put()))) return pins;
    IPin* pin = nullptr;
    ULONG fetched = 0;
    while (list->Next(1, &pin, &fetched) == S_OK && fetched == 1)
        pins.push_back(ComPtr<IPin>::Adopt(pin));
    return pins;
}

class FileGrabber final : public FileAudioGrabber {
public:
    int Open(int playOnly, int isStream, int outputFormat, const char* source,
             const char* outputPath, int monitor, int keepVideo) override;
    void ReleaseGraph() override;
    void Destroy() override { delete this; }
    int GetStreamPresence(int* hasAudio, int*, int* hasVideo, int*) override {
        if (hasAudio) *hasAudio = audioFound_;
        if (hasVideo) *hasVideo = videoFound_;
        return 1;
    }
    int Run() override { return core_.Run(); }
    int Pause() override { return core_.Pause(true); }
    int Stop() override {
        if (AbortOpening()) return 1;
        // A grab ends its files properly: encoders hand out what they hold, writers complete.
        auto ending = grabbing_ && core_.state == kRunning
                          ? QueryAs<IStreamEnding>(core_.source.Get())
                          : ComPtr<IStreamEnding>();
        if (ending && ending->EndStreamsNow() == S_OK)
            return core_.StopAfterEnd(true, kEndTimeoutMs, true);
        return core_.StopFrom(true);
    }
    int GetState() override { return core_.state; }
    int SetRate(int rate) override {
        auto position = QueryAs<IMediaPosition>(core_.graph.Get());
        return position && SUCCEEDED(position->put_Rate(rate)) ? 1 : 0;
    }
    int Reserved9() override { return 1; }
    int Reserved10() override { return 1; }
    int SetVideoOwner(HWND owner) override {
        if (core_.state == kNoGraph || !video_) return 0;
        video_->put_Owner(reinterpret_cast<OAHWND>(owner));
        video_->SetWindowForeground(-1);
        video_->SetWindowPosition(0, 0, 0, 0);
        video_->put_AutoShow(0);
        video_->put_WindowState(0);
        return 1;
    }
    int SetVideoMessageDrain(HWND window) override {
        if (core_.state != kStopped || !video_) return 0;
        return SUCCEEDED(video_->put_MessageDrain(reinterpret_cast<OAHWND>(window))) ? 1 : 0;
    }
    int SetNotifyWindow(HWND window, UINT message) override {
        return core_.SetNotifyWindow(window, message, this);
    }
    int GetEvent(long* code, long* param1, long* param2) override {
        return core_.GetEvent(code, param1, param2);
    }
    int FreeEventParams(long, long, long) override { return 1; }
    int SetVideoPosition(const RECT* r) override {
        if (core_.state == kNoGraph || !video_ || !r) return 0;
        if (FAILED(
                video_->SetWindowPosition(r->left, r->top, r->right - r->left, r->bottom - r->top)))
            return 0;
        video_->SetWindowForeground(-1);
        return 1;
    }
    int SetVideoWindowStyle(int style) override {
        if (core_.state == kNoGraph || !video_) return 0;
        video_->put_WindowStyle(style);
        video_->SetWindowForeground(-1);
        return 1;
    }
    int SetVideoWindowStyleEx(int style) override {
        if (core_.state == kNoGraph || !video_) return 0;
        video_->put_WindowStyleEx(style);
        return 1;
    }
    int Reserved19(int) override { return 1; }
    int Reserved20() override { return 1; }
    int GetDuration(double* seconds) override {
        auto position = QueryAs<IMediaPosition>(core_.graph.Get());
        return position && seconds && SUCCEEDED(position->get_Duration(seconds)) ? 1 : 0;
    }
    int SetPosition(double seconds) override {
        auto position = QueryAs<IMediaPosition>(core_.graph.Get());
        return position && SUCCEEDED(position->put_CurrentPosition(seconds)) ? 1 : 0;
    }
    int GetPosition(double* seconds) override {
        auto position = QueryAs<IMediaPosition>(core_.graph.Get());
        return position && seconds && SUCCEEDED(position->get_CurrentPosition(seconds)) ? 1 : 0;
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
    int Reserved27(int) override { return 1; }
    int Reserved28(int) override { return 1; }
    int GetSourceFormat(PCMWAVEFORMAT* format) override {
        if (format) *format = sourceFormat_;
        return 1;
    }
    int GetVideoSize(int* width, int* height) override {
        auto basic = QueryAs<IBasicVideo>(core_.graph.Get());
        if (!basic) return 0;
        LONG h = 0, w = 0;
        basic->get_VideoHeight(&h);
        basic->get_VideoWidth(&w);
        if (height) *height = h;
        if (width) *width = w;
        return 1;
    }
    int GetSample(void* buffer, int* size, PCMWAVEFORMAT* format) override {
        return core_.GetSample(buffer, size, format);
    }
    int GetBufferProgress(int* percent, int64_t* bufferingTime) override {
        if (!reader_ || !percent || !bufferingTime) return 0;
        DWORD value = 0;
        QWORD time = 0;
        if (reader_->GetBufferProgress(&value, &time) != S_OK) return 0;
        *percent = static_cast<int>(value);
        *bufferingTime = static_cast<int64_t>(time);
        return 1;
    }
    int IsReceiving(void*) override {
        if (!reader_) return 0;
        WM_READER_STATISTICS statistics{};
        statistics.cbSize = sizeof statistics;
        return reader_->GetStatistics(&statistics) == S_OK ? 1 : 0;
    }
    int GetTitle(char* buffer) override { return HeaderText(L"Title", buffer); }
    IGraphBuilder* Graph() { return core_.graph.Get(); }
    int GetAuthor(char* buffer) override { return HeaderText(L"Author", buffer); }

private:
    int OpenGraph(int playOnly, int isStream, int outputFormat, const char* source,
                  const char* outputPath, int monitor, int keepVideo);
    // When an Open runs on another thread (a stream being opened on a worker), tells it to
    // give up and touches nothing else; false otherwise.
    bool AbortOpening();
    // Registers what an Open in progress can be aborted through; false once it was aborted.
    bool OpeningThrough(IGraphBuilder* graph, IBaseFilter* source);
    bool AddAndRenderSource(int isStream, const char* source);
    ComPtr<IPin> CutAudioRenderer();
    ComPtr<IBaseFilter> FindVideoRenderer();
    void CutVideoRenderer(IBaseFilter* renderer);
    void SweepDanglingFilters();
    int HeaderText(const wchar_t* name, char* buffer);

    GrabberCore core_;
    ComPtr<IVideoWindow> video_;
    ComPtr<IBaseFilter> audioRenderer_, videoRenderer_;
    ComPtr<IWMHeaderInfo> header_;
    ComPtr<IWMReaderAdvanced2> reader_;
    PCMWAVEFORMAT sourceFormat_{};
    int audioFound_ = 0, videoFound_ = 0;
    bool grabbing_ = false;  // the graph writes a file
    std::vector<ComPtr<IBaseFilter>> toRemove_;

    std::mutex openMutex_;
    std::thread::id openingThread_;          // guarded by openMutex_, while Open runs
    bool openAborted_ = false;               // guarded by openMutex_
    ComPtr<IGraphBuilder> openingGraph_;     // guarded by openMutex_
    ComPtr<IAMOpenProgress> openingSource_;  // guarded by openMutex_
};

bool FileGrabber::AbortOpening() {
    std::lock_guard lock(openMutex_);
    if (openingThread_ == std::thread::id() || openingThread_ == std::this_thread::get_id())
        return false;
    openAborted_ = true;
    if (openingGraph_) openingGraph_->Abort();
    if (openingSource_) openingSource_->AbortOperation();
    return true;
}

bool FileGrabber::OpeningThrough(IGraphBuilder* graph, IBaseFilter* source) {
    std::lock_guard lock(openMutex_);
    if (openAborted_) return false;
    if (graph) openingGraph_ = ComPtr<IGraphBuilder>(graph);
    if (source) openingSource_ = QueryAs<IAMOpenProgress>(source);
    return true;
}

int FileGrabber::Open(int playOnly, int isStream, int outputFormat, const char* source,
                      const char* outputPath, int monitor, int keepVideo) {
    {
        std::lock_guard lock(openMutex_);
        openingThread_ = std::this_thread::get_id();
        openAborted_ = false;
    }
    int opened =
        OpenGraph(playOnly, isStream, outputFormat, source, outputPath, monitor, keepVideo);
    std::lock_guard lock(openMutex_);
    openingThread_ = std::thread::id();
    openingGraph_ = nullptr;
    openingSource_ = nullptr;
    return openAborted_ ? 0 : opened;
}

int FileGrabber::OpenGraph(int playOnly, int isStream, int outputFormat, const char* source,
                           const char* outputPath, int monitor, int keepVideo) {
    if (!source || core_.graph) return 0;
    if (!core_.CreateGraph()) return 0;
    if (!OpeningThrough(core_.graph.Get(), nullptr)) return 0;
    if (auto withSite = QueryAs<IObjectWithSite>(core_.graph.Get())) withSite->SetSite(&core_.site);
    video_ = QueryAs<IVideoWindow>(core_.graph.Get());
    if (!video_) return 0;
    video_->put_AutoShow(0);
    video_->SetWindowPosition(0, 0, 0, 0);
    if (!AddAndRenderSource(isStream, source)) return 0;

    if (playOnly) {
        auto feed = CutAudioRenderer();
        audioFound_ = feed ? 1 : 0;
        if (feed) {
            auto rendererIn = FindPinByIndex(audioRenderer_.Get(), PINDIR_INPUT, 1);
            ComPtr<IPin> tapOut;
            IPin* upstream = core_.InsertLevelTap(feed.Get(), &tapOut) ? tapOut.Get() : feed.Get();
            if (!rendererIn || FAILED(core_.graph->Connect(upstream, rendererIn.Get()))) return 0;
        }
        videoRenderer_ = FindVideoRenderer();
        videoFound_ = videoRenderer_ ? 1 : 0;
    } else {
        if (!core_.SetOutputPath(outputPath)) return 0;
        auto feed = CutAudioRenderer();
        audioFound_ = feed ? 1 : 0;
        if (feed && outputFormat >= kWav && outputFormat <= kOgg) {
            IPin* chainFeed = feed.Get();
            ComPtr<IPin> teeSecond;
            if (monitor) {
                auto tee = core_.AddFilter(CLSID_InfTee, L"Audio PinTee");
                auto teeIn = tee ? FindPinByIndex(tee.Get(), PINDIR_INPUT, 1) : ComPtr<IPin>();
                if (!teeIn || FAILED(core_.graph->Connect(feed.Get(), teeIn.Get()))) return 0;
                auto teeFirst = FindPinByIndex(tee.Get(), PINDIR_OUTPUT, 1);
                ComPtr<IPin> tapOut;
                IPin* upstream =
                    core_.InsertLevelTap(teeFirst.Get(), &tapOut) ? tapOut.Get() : teeFirst.Get();
                auto rendererIn = FindPinByIndex(audioRenderer_.Get(), PINDIR_INPUT, 1);
                if (!rendererIn || FAILED(core_.graph->Connect(upstream, rendererIn.Get())))
                    return 0;
                teeSecond = FindPinByIndex(tee.Get(), PINDIR_OUTPUT, 2);
                if (!teeSecond) return 0;
                chainFeed = teeSecond.Get();
            }
            // Decoding on one thread, encoding and writing on another: one file uses two cores.
            auto queue = core_.AddFilter(CLSID_StreamQueue, L"Stream Queue");
            auto queueIn = queue ? FindPinByIndex(queue.Get(), PINDIR_INPUT, 1) : ComPtr<IPin>();
            if (!queueIn || FAILED(core_.graph->Connect(chainFeed, queueIn.Get()))) return 0;
            auto queueOut = FindPinByIndex(queue.Get(), PINDIR_OUTPUT, 1);
            chainFeed = queueOut.Get();
            ChainPolicy policy;  // media files: MP3 settings before, OGG quality after connect
            if (!core_.BuildChain(outputFormat, chainFeed, policy)) return 0;
            grabbing_ = true;
        }
        videoRenderer_ = FindVideoRenderer();
        videoFound_ = videoRenderer_ ? 1 : 0;
        if (videoRenderer_ && !keepVideo) {
            CutVideoRenderer(videoRenderer_.Get());
            core_.graph->RemoveFilter(videoRenderer_.Get());
            videoRenderer_ = nullptr;
        }
        if (!monitor && audioRenderer_) {
            core_.graph->RemoveFilter(audioRenderer_.Get());
            audioRenderer_ = nullptr;
        }
        SweepDanglingFilters();
    }
    core_.state = kStopped;
    if (playOnly) core_.graph->SetDefaultSyncSource();
    return 1;
}

bool FileGrabber::AddAndRenderSource(int isStream, const char* source) {
    if (!FitsPath(source)) return false;
    std::wstring wide = WidePath(source);
    if (isStream || IsWindowsMediaPath(source)) {
        ComPtr<IBaseFilter> filter;
        if (FAILED(CoCreateInstance(CLSID_WMAsfReader, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(filter.Put()))) &&
            FAILED(CoCreateInstance(CLSID_WMSourceFilter, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(filter.Put()))))
            return false;
        if (FAILED(core_.graph->AddFilter(filter.Get(), L"windows media source filter")))
            return false;
        if (!OpeningThrough(nullptr, filter.Get())) return false;
        core_.source = filter;
        auto loader = QueryAs<IFileSourceFilter>(filter.Get());
        reader_ = QueryAs<IWMReaderAdvanced2>(filter.Get());
        if (isStream) header_ = QueryAs<IWMHeaderInfo>(filter.Get());
        if (!loader || FAILED(loader->Load(wide.c_str(), nullptr))) return false;
        if (isStream && reader_) reader_->SetPlayMode(WMT_PLAY_MODE_STREAMING);
    } else {
        if (FAILED(core_.graph->AddSourceFilter(wide.c_str(), nullptr, core_.source.Put())))
            return false;
    }
    for (int n = 1;; ++n) {
        auto pin = FindPinByIndex(core_.source.Get(), PINDIR_OUTPUT, n);
        if (!pin) return true;
        if (FAILED(core_.graph->Render(pin.Get()))) return false;
    }
}

ComPtr<IPin> FileGrabber::CutAudioRenderer() {
    for (auto& filter : GraphFilters(core_.graph.Get())) {
        if (!IsAudioRenderer(filter.Get())) continue;
        audioRenderer_ = filter;
        auto input = FindPinByIndex(filter.Get(), PINDIR_INPUT, 1);
        if (!input) return {};
        MediaType type;
        if (SUCCEEDED(input->ConnectionMediaType(&type)) && type.majortype == MEDIATYPE_Audio &&
            type.subtype == MEDIASUBTYPE_PCM && type.formattype == FORMAT_WaveFormatEx &&
            type.cbFormat >= sizeof(PCMWAVEFORMAT))
            std::memcpy(&sourceFormat_, type.pbFormat, sizeof(PCMWAVEFORMAT));
        ComPtr<IPin> feed;
        if (FAILED(input->ConnectedTo(feed.Put()))) return {};
        core_.graph->Disconnect(feed.Get());
        core_.graph->Disconnect(input.Get());
        return feed;
    }
    return {};
}

ComPtr<IBaseFilter> FileGrabber::FindVideoRenderer() {
    ComPtr<IBaseFilter> renderer;
    if (SUCCEEDED(core_.graph->FindFilterByName(L"Video Renderer", renderer.Put())))
        return renderer;
    if (SUCCEEDED(core_.graph->FindFilterByName(L"Video Mixing Renderer", renderer.Put())))
        return renderer;
    return {};
}

void FileGrabber::CutVideoRenderer(IBaseFilter* renderer) {
    auto input = FindPinByIndex(renderer, PINDIR_INPUT, 1);
    ComPtr<IPin> peer;
    if (!input || FAILED(input->ConnectedTo(peer.Put()))) return;
    core_.graph->Disconnect(peer.Get());
    core_.graph->Disconnect(input.Get());
}

void FileGrabber::SweepDanglingFilters() {
    for (auto& filter : GraphFilters(core_.graph.Get())) {
        bool hasInput = false, hasOutput = false, inputConnected = false, outputConnected = false;
        std::vector<ComPtr<IPin>> connectedInputs;
        for (auto& pin : FilterPins(filter.Get())) {
            PIN_DIRECTION direction;
            pin->QueryDirection(&direction);
            ComPtr<IPin> peer;
            bool connected = SUCCEEDED(pin->ConnectedTo(peer.Put()));
            if (direction == PINDIR_INPUT) {
                hasInput = true;
                if (connected) {
                    inputConnected = true;
                    connectedInputs.push_back(pin);
                }
            } else {
                hasOutput = true;
                outputConnected = outputConnected || connected;
            }
        }
        bool inputs = !hasInput || inputConnected;
        bool outputs = !hasOutput || outputConnected;
        if (inputs && !outputs) {
            for (auto& pin : connectedInputs) {
                ComPtr<IPin> peer;
                if (SUCCEEDED(pin->ConnectedTo(peer.Put()))) core_.graph->Disconnect(peer.Get());
                core_.graph->Disconnect(pin.Get());
            }
            toRemove_.push_back(filter);
        } else if (!inputs && !outputs) {
            toRemove_.push_back(filter);
        }
    }
    for (auto& filter : toRemove_) core_.graph->RemoveFilter(filter.Get());
    toRemove_.clear();
}

int FileGrabber::HeaderText(const wchar_t* name, char* buffer) {
    if (!header_ || !buffer) return 0;
    WORD stream = 0;
    WMT_ATTR_DATATYPE type;
    WORD length = 0;
    if (FAILED(header_->GetAttributeByName(&stream, name, &type, nullptr, &length)) || length == 0)
        return 0;
    std::vector<BYTE> value(length + sizeof(WCHAR), 0);
    if (FAILED(header_->GetAttributeByName(&stream, name, &type, value.data(), &length))) return 0;
    std::wstring text(reinterpret_cast<const WCHAR*>(value.data()));
    CopyBounded(Narrow(text), buffer, kHeaderTextBytes);
    return 1;
}

void FileGrabber::ReleaseGraph() {
    core_.levelTap = nullptr;
    header_ = nullptr;
    reader_ = nullptr;
    if (video_) {
        video_->put_Visible(0);
        video_->put_Owner(0);
        video_->SetWindowPosition(0, 0, 0, 0);
        video_ = nullptr;
    }
    if (core_.control) core_.control->Stop();
    core_.ReleaseInterfaces();
    grabbing_ = false;
    audioRenderer_ = nullptr;
    videoRenderer_ = nullptr;
}

}  // namespace

IGraphBuilder* GraphOf(FileAudioGrabber* grabber) {
    return static_cast<FileGrabber*>(grabber)->Graph();
}

}  // namespace quil::engine

void* FileAudioGrabberCreateInstance() {
    try {
        return static_cast<FileAudioGrabber*>(new (std::nothrow) quil::engine::FileGrabber());
    } catch (...) {
        return nullptr;
    }
}
