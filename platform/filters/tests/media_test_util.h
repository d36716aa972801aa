#pragma once

// Helpers for the media source tests: fixtures made with the ffmpeg command, and a sink that
// keeps the 16-bit PCM it receives.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/filters/tests/graph_test_util.h"
#include "platform/graph/sink_filter.h"
#include "testsupport/test_support.h"

namespace quil::test {

// Makes a media file with `ffmpeg <arguments> <file>` once per test process.
inline std::string MediaFixture(const std::string& name, const std::string& arguments) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    auto path = TestDir() / "media" / name;
    if (!std::filesystem::exists(path)) {
        std::filesystem::create_directories(path.parent_path());
        std::string command =
            "ffmpeg -nostdin -hide_banner -v error -y " + arguments + " '" + path.string() + "'";
        EXPECT_EQ(RunCommand(command), 0) << command;
    }
    return path.string();
}

// Three seconds of a 440 Hz tone, stereo, each channel at a root mean square of 0.25.
inline std::string ToneInput(int rate = 44100, double seconds = 3.0) {
    return "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) +
           ":duration=" + std::to_string(seconds) + " -af volume=4 -ac 2";
}

inline std::string VideoInput(double seconds = 2.0) {
    return "-f lavfi -i testsrc=size=160x120:rate=25:duration=" + std::to_string(seconds);
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

constexpr CLSID kCaptureSinkClsid = quil::Guid("{0E4C2D71-93A8-4B5F-86E1-3A7D5C9B0F24}");

// Takes only 16-bit PCM and keeps it, with the time stamps of every sample since the last
// flush.
class CaptureSink : public SinkFilter {
public:
    explicit CaptureSink(bool paced = false) : SinkFilter(kCaptureSinkClsid, paced, L"In") {}

    HRESULT CheckMediaType(const MediaType& type) override {
        return type.IsPcm() && type.WaveFormat()->wBitsPerSample == 16 ? S_OK : S_FALSE;
    }

    HRESULT RenderSample(IMediaSample* sample) override {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::lock_guard lock(mutex_);
        bytes_.insert(bytes_.end(), data, data + sample->GetActualDataLength());
        REFERENCE_TIME start = 0, stop = 0;
        if (SUCCEEDED(sample->GetTime(&start, &stop))) times_.push_back({start, stop});
        return S_OK;
    }

    HRESULT StartStreaming() override {
        OnEndFlush();
        return S_OK;
    }

    void OnEndFlush() override {
        std::lock_guard lock(mutex_);
        bytes_.clear();
        times_.clear();
    }

    std::vector<uint8_t> Bytes() {
        std::lock_guard lock(mutex_);
        return bytes_;
    }
    std::vector<std::pair<REFERENCE_TIME, REFERENCE_TIME>> Times() {
        std::lock_guard lock(mutex_);
        return times_;
    }
    const WAVEFORMATEX& Format() { return *InputType().WaveFormat(); }
    double Seconds() {
        std::lock_guard lock(mutex_);
        const WAVEFORMATEX* format = InputType().WaveFormat();
        return format ? double(bytes_.size()) / format->nAvgBytesPerSec : 0;
    }

private:
    std::mutex mutex_;
    std::vector<uint8_t> bytes_;
    std::vector<std::pair<REFERENCE_TIME, REFERENCE_TIME>> times_;
};

inline ComPtr<CaptureSink> AddCaptureSink(IGraphBuilder* graph, bool paced = false) {
    auto sink = MakeCom<CaptureSink>(paced);
    EXPECT_TRUE(SUCCEEDED(graph->AddFilter(sink.Get(), L"Capture")));
    return sink;
}

// The first output pin of the source whose media type has the major type.
inline ComPtr<IPin> OutputPinOf(IBaseFilter* filter, const GUID& majorType) {
    for (int n = 1;; ++n) {
        auto pin = FindPinByIndex(filter, PINDIR_OUTPUT, n);
        if (!pin) return {};
        ComPtr<IEnumMediaTypes> types;
        if (FAILED(pin->EnumMediaTypes(types.Put()))) continue;
        AM_MEDIA_TYPE* type = nullptr;
        ULONG fetched = 0;
        bool match = false;
        if (types->Next(1, &type, &fetched) == S_OK && fetched == 1) {
            match = type->majortype == majorType;
            DeleteMediaType(type);
        }
        if (match) return pin;
    }
}

inline int CountOutputPins(IBaseFilter* filter) {
    int n = 0;
    while (FindPinByIndex(filter, PINDIR_OUTPUT, n + 1)) ++n;
    return n;
}

// Runs the graph to its end; the ending event, or {} after the time-out.
inline Ending RunToEnd(IGraphBuilder* graph, int timeoutMs = 30000) {
    auto control = QueryAs<IMediaControl>(graph);
    EXPECT_EQ(control->Run(), S_OK);
    Ending ending = WaitForEnd(graph, timeoutMs);
    control->Stop();
    return ending;
}

}  // namespace quil::test
