#pragma once

// One playback stream to the sound server on a connection and thread of its own. Unlike the
// simple API, a write or drain that waits for the server can be interrupted from another
// thread, so stopping or seeking never waits for the server to make room.

#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quil::filters {

class PulsePlayback {
public:
    enum class Result { kDone, kInterrupted, kFailed };

    // Null when no server answers or it refuses the stream; `error` then says why.
    static std::unique_ptr<PulsePlayback> Open(const pa_sample_spec& sampleFormat,
                                               const pa_buffer_attr& attributes,
                                               std::string* error);
    ~PulsePlayback();
    PulsePlayback(const PulsePlayback&) = delete;
    PulsePlayback& operator=(const PulsePlayback&) = delete;

    // Waits for room and writes everything, unless interrupted first.
    Result Write(const uint8_t* data, size_t length);
    // Waits until everything written has been played, unless interrupted first.
    Result Drain();
    // Drops what the server has not played yet; later writes follow the flush in order.
    void Flush();

    // From any thread: a write or drain in progress returns kInterrupted at once, and so does
    // every one after it until Resume.
    void Interrupt();
    void Resume();
    std::string LastError() const;

private:
    PulsePlayback() = default;
    bool Connect(const pa_sample_spec& sampleFormat, const pa_buffer_attr& attributes);
    // Waits on the loop (lock held) until `done` holds; false once `seconds` passed.
    template <class Done>
    bool WaitUntil(Done done, int seconds);
    bool StreamFailed() const;
    void Close();

    static void OnContextState(pa_context* context, void* self);
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnWritable(pa_stream* stream, size_t bytes, void* self);
    static void OnDrained(pa_stream* stream, int success, void* self);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::atomic<bool> interrupted_{false};
};

}  // namespace quil::filters
