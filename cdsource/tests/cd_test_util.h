#pragma once

// Helpers for the tests of the CD track source and the CD grabber: the trackpump plug-in
// registered into the test's own HKEY_CLASSES_ROOT, disc images mounted as virtual drives, and a
// sink that keeps every sample it receives.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "cdsource/cd_interfaces.h"
#include "platform/com/class_registry.h"
#include "platform/graph/graph_registry.h"
#include "platform/graph/sink_filter.h"
#include "platform/sectorlink/sectorlink.h"
#include "testsupport/cd_image.h"
#include "testsupport/test_support.h"

namespace quil::test {

// Calls one entry point of the plug-in, loading it just for the call.
inline HRESULT CallTrackpump(const char* entry) {
    void* handle = dlopen(TRACKPUMP_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return E_FAIL;
    auto function = reinterpret_cast<HRESULT (*)()>(dlsym(handle, entry));
    HRESULT hr = function ? function() : E_FAIL;
    dlclose(handle);
    return hr;
}

inline bool TrackpumpLoaded() {
    void* handle = dlopen(TRACKPUMP_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return false;
    dlclose(handle);
    return true;
}

// Mounts the images as the virtual drives, in order; returns their letters.
inline std::vector<int> MountImages(const std::vector<std::filesystem::path>& cues) {
    std::vector<std::string> paths;
    for (const auto& cue : cues) paths.push_back(cue.string());
    EXPECT_TRUE(sectorlink::WriteVirtualDrives(paths));
    std::vector<int> letters;
    for (const auto& cue : cues) {
        int letter = 0;
        for (const auto& slot : sectorlink::DriveSlots())
            if (slot.image && slot.source == cue.string()) letter = slot.letter;
        EXPECT_NE(letter, 0) << cue;
        letters.push_back(letter);
    }
    return letters;
}

inline std::vector<uint8_t> BinSectors(const CdImage& image, uint32_t first, uint32_t count) {
    auto begin = image.data.begin() + static_cast<ptrdiff_t>(first) * kCdSectorBytes;
    return {begin, begin + static_cast<ptrdiff_t>(count) * kCdSectorBytes};
}

constexpr CLSID kRecordingSinkClass = quil::Guid("{3E5A1C77-0D2B-4F68-9A41-B7C2E05D8F13}");

// Keeps a copy of every sample; unpaced, so a graph with it runs as fast as the source reads.
class RecordingSink : public SinkFilter {
public:
    struct Sample {
        std::vector<uint8_t> data;
        REFERENCE_TIME start = 0, end = 0;
        bool timed = false, sync = false;
        LONG capacity = 0;
    };

    RecordingSink() : SinkFilter(kRecordingSinkClass, false) {}

    HRESULT CheckMediaType(const MediaType& type) override {
        return type.IsPcm() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT RenderSample(IMediaSample* sample) override {
        Sample copy;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        copy.data.assign(data, data + sample->GetActualDataLength());
        copy.timed = SUCCEEDED(sample->GetTime(&copy.start, &copy.end));
        copy.sync = sample->IsSyncPoint() == S_OK;
        copy.capacity = sample->GetSize();
        std::lock_guard lock(mutex_);
        samples_.push_back(std::move(copy));
        return S_OK;
    }

    std::vector<Sample> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(samples_, {});
    }
    size_t Count() {
        std::lock_guard lock(mutex_);
        return samples_.size();
    }
    std::vector<uint8_t> Joined() {
        std::lock_guard lock(mutex_);
        std::vector<uint8_t> all;
        for (const auto& sample : samples_)
            all.insert(all.end(), sample.data.begin(), sample.data.end());
        return all;
    }

private:
    std::mutex mutex_;
    std::vector<Sample> samples_;
};

inline ComPtr<IGraphBuilder> NewGraph() {
    graph::RegisterGraphClasses();
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                               IID_PPV_ARGS(graph.Put())),
              S_OK);
    return graph;
}

// Waits for the first completion or error event; 0 when none came in time.
inline LONG WaitForEnd(IGraphBuilder* graph, LONG_PTR* param = nullptr, int timeoutMs = 60000) {
    auto events = QueryAs<IMediaEventEx>(graph);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        LONG code;
        LONG_PTR p1, p2;
        if (events->GetEvent(&code, &p1, &p2, 100) == S_OK &&
            (code == EC_COMPLETE || code == EC_ERRORABORT)) {
            if (param) *param = p1;
            return code;
        }
    }
    return 0;
}

}  // namespace quil::test
