#pragma once

// One recording stream of a source, with a buffer of several seconds between the sound server
// and the graph. The server's thread fills the buffer; the capture pin's streaming thread takes
// from it. When the source disappears the stream reports it, waits for a source of the same
// name to come back, and then goes on recording.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/audio/pulse_client.h"
#include "platform/graph/media_types.h"

namespace quil::audio {

class CaptureStream {
public:
    // Called on the server's thread: false when the source went away, true when it is back.
    using PresenceHandler = std::function<void(bool present)>;

    CaptureStream(std::shared_ptr<PulseClient> client, std::string sourceName,
                  const WAVEFORMATEX& format, PresenceHandler onPresence);
    ~CaptureStream();
    CaptureStream(const CaptureStream&) = delete;
    CaptureStream& operator=(const CaptureStream&) = delete;

    // Connects to the source with capture held back until SetCorked(false).
    HRESULT Open();
    void SetCorked(bool corked);
    void Close();

    // Waits for at least one whole frame; copies whole frames, at most `capacity` bytes.
    // 0 once Interrupt was called, or once Finish was and the buffer is empty (the end of the
    // recording). A call also says the data of the previous one was delivered.
    size_t Read(uint8_t* buffer, size_t capacity);
    void Finish();
    // Waits until Read has reported the end.
    bool WaitFinished(std::chrono::milliseconds timeout);
    void Interrupt();
    // Waits until everything the server recorded up to now has arrived in the buffer.
    bool WaitCaptured(std::chrono::milliseconds timeout);
    // The same, and until it has gone downstream.
    bool WaitDelivered(std::chrono::milliseconds timeout);

    unsigned Overruns() const;
    long long BytesLost() const;
    // Server latency plus the time the latest delivered data spent in the buffer.
    REFERENCE_TIME Latency() const;

private:
    uint64_t RecordedBytes();  // by the server's clock of the stream
    // What the server has written into the stream's buffer, asked of the server itself.
    std::optional<uint64_t> ServerWrittenBytes(std::chrono::milliseconds timeout);
    bool StartStream();                            // under the client's lock
    void DropStream();                             // under the client's lock
    void Push(const uint8_t* data, size_t bytes);  // data null: a hole of silence
    void EndOverrun();

    static void OnState(pa_stream* stream, void* self);
    static void OnRead(pa_stream* stream, size_t bytes, void* self);
    static void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* self);

    std::shared_ptr<PulseClient> client_;
    std::string sourceName_;
    WAVEFORMATEX format_;
    pa_sample_spec spec_{};
    PresenceHandler onPresence_;

    // Under the client's lock.
    pa_stream* stream_ = nullptr;
    std::vector<pa_stream*> dead_;  // released later, never inside their own callbacks
    bool corked_ = true;
    bool closing_ = false;
    bool lost_ = false;
    bool ready_ = false;  // the current stream has been ready
    uint64_t listener_ = 0;
    std::vector<pa_operation*> lookups_;
    std::atomic<pa_usec_t> serverLatency_{0};

    // The buffer, under mutex_.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint8_t> ring_;
    size_t head_ = 0, size_ = 0;
    uint64_t streamBytes_ = 0;  // received by the current server stream
    bool interrupted_ = false;
    bool finishing_ = false, finished_ = false;
    bool inFlight_ = false;
    bool overrunning_ = false;
    unsigned overruns_ = 0;
    long long bytesLost_ = 0;
    long long episodeLost_ = 0;
    REFERENCE_TIME latency_ = 0;
};

}  // namespace quil::audio
