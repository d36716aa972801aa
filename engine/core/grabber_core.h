#pragma once

// What the three grabbers share: the graph and its control interfaces, the state machine, the
// stored options, event hand-over, level sampling, the removal of everything behind the source,
// and the four output chains. The libraries differ only in the ChainPolicy they pass and in
// their source side.

#include <array>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/grabber_types.h"
#include "engine/core/key_provider_site.h"
#include "platform/graph/interfaces.h"

struct IWMProfileManager;

namespace quil::engine {

struct Mp3EncoderOptions {
    int sampleRate = 0, bitRate = 0, channelMode = 0, quality = 0;
    int copyright = 0, crc = 0, original = 0, privateBit = 0;
};

struct OggEncoderOptions {
    int attribute = 2;
    float quality = 6.0f;
    int32_t unused[3] = {};
};

// Where the libraries differ in how a chain is built.
struct ChainPolicy {
    bool mp3SettingsAfterConnect = false;
    bool oggQualityBeforeConnect = false;
    // Shows a fixed error text to the user (the live MP3 chain); empty: silent.
    std::function<void(const char*)> errorBox;
    // The CD grabber's own profile manager; null: a new one per lookup.
    IWMProfileManager* profileManager = nullptr;
};

class GrabberCore {
public:
    GrabberCore();
    ~GrabberCore();

    // Graph creation: filter graph with control and event interfaces.
    bool CreateGraph();
    void ReleaseInterfaces();

    int Run();
    // ignoreFailure: the CD and media grabbers keep the state change even when the graph refuses.
    int Pause(bool ignoreFailure);
    int StopAny();                   // any state once a graph exists
    int StopFrom(bool allowPaused);  // StopWhenReady then Stop, from running (and paused)
    // For a source that was told to end its streams: waits (bounded, when `ended`) until the
    // writers have completed their files, then stops. A completion was the stop's own doing
    // and is not handed out; other events that came meanwhile are.
    int StopAfterEnd(bool ended, LONG completeTimeoutMs, bool allowPaused);
    int SetNotifyWindow(HWND window, UINT message, void* instance);
    int GetEvent(long* code, long* param1, long* param2);
    int GetSample(void* buffer, int* size, PCMWAVEFORMAT* format);

    // Removes, depth first, every filter that hangs below `filter`; the filter itself stays.
    // False when a pin refused to disconnect (its filter was not stopped).
    bool RemoveDownstream(IBaseFilter* filter);
    // Removes every filter of the graph that is not in `kept` (a failed chain's remains).
    void RemoveFiltersExcept(const std::vector<ComPtr<IBaseFilter>>& kept);
    std::vector<ComPtr<IBaseFilter>> Filters() const;

    // Inserts the level tap behind `upstream`; on success *next is the tap's output pin.
    bool InsertLevelTap(IPin* upstream, ComPtr<IPin>* next);
    // Builds the chain of `format` from `feed`; false for an unknown format or any failure.
    bool BuildChain(int format, IPin* feed, const ChainPolicy& policy);
    // Adds a filter by class id under its friendly name.
    ComPtr<IBaseFilter> AddFilter(const CLSID& clsid, const wchar_t* name);

    // Stored options.
    int SetOutputPath(const char* path);
    int SetWmaProfile(int version, const char* name);
    void SetMp3Options(const Mp3EncoderOptions& options) { mp3_ = options; }
    void SetOggOptions(const OggEncoderOptions& options) { ogg_ = options; }

    // Profile enumeration (the CD grabber exposes it; the core keeps it for all).
    static DWORD ProfileVersion(int version);
    static int GetProfileCount(IWMProfileManager* manager, int version, int* count);
    static int GetProfileInfo(IWMProfileManager* manager, int version, int index,
                              WmaProfileInfo* info);

    // First member, so it outlives the graph that holds it as its site.
    KeyProviderSite site;
    int state = kNoGraph;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEventEx> events;
    ComPtr<IBaseFilter> source;
    ComPtr<ISampleGrabber> levelTap;
    char outputPath[kPathBytes] = {};
    char wmaProfileName[kNameBytes] = {};
    int wmaProfileVersion = 7;
    Mp3EncoderOptions mp3_;
    OggEncoderOptions ogg_;

private:
    struct HeldEvent {
        long code, param1, param2;
    };
    std::deque<HeldEvent> held_;

    bool BuildWav(IPin* feed);
    bool BuildMp3(IPin* feed, const ChainPolicy& policy);
    bool BuildWma(IPin* feed, const ChainPolicy& policy);
    bool BuildOgg(IPin* feed, const ChainPolicy& policy);
    bool Connect(IPin* upstream, IBaseFilter* filter);
    ComPtr<IBaseFilter> AddFileWriter(const CLSID& clsid, const wchar_t* name, bool overwrite);
};

// True for a path that fits kPathBytes with its terminator.
bool FitsPath(const char* path);
// The wide form of a path, every byte kept; empty for a path that does not fit.
std::wstring WidePath(const char* path);

}  // namespace quil::engine
