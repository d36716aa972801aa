#pragma once

// What the queue tests share: a sink that can hold the stream back, and the FFmpeg splitter
// with its read count in view.

#include <chrono>
#include <condition_variable>
#include <thread>

#include "platform/filters/class_ids.h"
#include "platform/filters/ffmpeg_source.h"
#include "platform/filters/tests/media_test_util.h"

namespace quil::test {

inline constexpr CLSID kPacketSinkClsid = quil::Guid("{6B1E0C94-2F7A-4D38-A5C1-93E0B4D27F58}");
// Takes the compressed packets as they are. Closed, it holds the delivering thread before each
// sample until the test lets more through; stopping and flushing open it.
class PacketSink : public SinkFilter {
public:
    PacketSink() : SinkFilter(kPacketSinkClsid, false, L"In") {}

    HRESULT CheckMediaType(const MediaType&) override { return S_OK; }

    HRESULT RenderSample(IMediaSample* sample) override {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return allowance_ > 0 || interrupted_; });
        if (!interrupted_) --allowance_;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        for (LONG i = 0; i < sample->GetActualDataLength(); ++i)
            hash_ = (hash_ ^ data[i]) * 1099511628211ull;
        ++samples_;
        bytes_ += static_cast<uint64_t>(sample->GetActualDataLength());
        REFERENCE_TIME start = 0, stop = 0;
        if (SUCCEEDED(sample->GetTime(&start, &stop))) {
            if (samples_ == 1) first_ = start;
            latest_ = std::max(latest_, start);
        }
        changed_.notify_all();
        return samples_ > failAfter_ ? E_FAIL : S_OK;
    }

    HRESULT Stop() override {
        Interrupt();
        HRESULT hr = SinkFilter::Stop();
        std::lock_guard lock(mutex_);
        interrupted_ = false;
        return hr;
    }
    HRESULT StartStreaming() override {
        Reset();
        return S_OK;
    }
    void OnBeginFlush() override { Interrupt(); }
    void OnEndFlush() override {
        Reset();
        std::lock_guard lock(mutex_);
        interrupted_ = false;
    }

    void Let(uint64_t samples) {
        std::lock_guard lock(mutex_);
        allowance_ += samples;
        changed_.notify_all();
    }
    void Open() { Let(UINT64_MAX / 2); }
    // Refuses every sample after the first `samples`, as a full disk would.
    void FailAfter(uint64_t samples) { failAfter_ = samples; }
    void Close() {
        std::lock_guard lock(mutex_);
        allowance_ = 0;
    }
    // Waits until `samples` samples have arrived.
    bool WaitFor(uint64_t samples, int timeoutMs = 20000) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return samples_ >= samples; });
    }
    uint64_t Samples() {
        std::lock_guard lock(mutex_);
        return samples_;
    }
    uint64_t Bytes() {
        std::lock_guard lock(mutex_);
        return bytes_;
    }
    uint64_t Hash() {
        std::lock_guard lock(mutex_);
        return hash_;
    }
    REFERENCE_TIME First() {
        std::lock_guard lock(mutex_);
        return first_;
    }
    REFERENCE_TIME Latest() {
        std::lock_guard lock(mutex_);
        return latest_;
    }

private:
    void Interrupt() {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        changed_.notify_all();
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        samples_ = bytes_ = 0;
        hash_ = 1469598103934665603ull;
        first_ = latest_ = 0;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t allowance_ = UINT64_MAX / 2;
    bool interrupted_ = false;
    uint64_t samples_ = 0;
    uint64_t bytes_ = 0;
    uint64_t failAfter_ = UINT64_MAX;
    uint64_t hash_ = 1469598103934665603ull;
    REFERENCE_TIME first_ = 0, latest_ = 0;
};

// The splitter with its read count in view.
class WatchedSource : public filters::FfmpegSource {
public:
    WatchedSource() : FfmpegSource(CLSID_FfmpegSource) {}
    uint64_t PacketsRead() { return ReadStatistics().packets; }
};

template <class Condition>
inline bool WaitUntil(Condition condition, int timeoutMs = 20000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace quil::test
