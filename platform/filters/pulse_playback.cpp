#include "platform/filters/pulse_playback.h"

#include <algorithm>

namespace quil::filters {

namespace {

// A server that answers at all answers within these; they only keep a dead one from hanging us.
constexpr int kOpenSeconds = 5;
constexpr int kCloseSeconds = 2;

struct Deadline {
    pa_threaded_mainloop* loop;
    bool passed = false;
};

void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
    auto* deadline = static_cast<Deadline*>(data);
    deadline->passed = true;
    pa_threaded_mainloop_signal(deadline->loop, 0);
}

struct DrainWait {
    pa_threaded_mainloop* loop;
    bool done = false;
};

}  // namespace

std::unique_ptr<PulsePlayback> PulsePlayback::Open(const pa_sample_spec& sampleFormat,
                                                   const pa_buffer_attr& attributes,
                                                   std::string* error) {
    std::unique_ptr<PulsePlayback> playback(new PulsePlayback);
    if (playback->Connect(sampleFormat, attributes)) return playback;
    if (error) *error = playback->LastError();
    return nullptr;
}

PulsePlayback::~PulsePlayback() {
    Close();
}

template <class Done>
bool PulsePlayback::WaitUntil(Done done, int seconds) {
    Deadline deadline{loop_};
    pa_time_event* timer = pa_context_rttime_new(
        context_, pa_rtclock_now() + static_cast<pa_usec_t>(seconds) * PA_USEC_PER_SEC, OnDeadline,
        &deadline);
    while (!done() && !deadline.passed) pa_threaded_mainloop_wait(loop_);
    if (timer) pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    return done();
}

bool PulsePlayback::Connect(const pa_sample_spec& sampleFormat, const pa_buffer_attr& attributes) {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return false;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Quillet");
    if (!context_) return false;
    pa_context_set_state_callback(context_, &PulsePlayback::OnContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) return false;
    pa_threaded_mainloop_lock(loop_);
    bool ready = pa_threaded_mainloop_start(loop_) >= 0 &&
                 WaitUntil(
                     [&] {
                         pa_context_state_t state = pa_context_get_state(context_);
                         return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
                     },
                     kOpenSeconds);
    ready = ready && pa_context_get_state(context_) == PA_CONTEXT_READY;
    if (ready) stream_ = pa_stream_new(context_, "Playback", &sampleFormat, nullptr);
    ready = ready && stream_;
    if (ready) {
        pa_stream_set_state_callback(stream_, &PulsePlayback::OnStreamState, this);
        pa_stream_set_write_callback(stream_, &PulsePlayback::OnWritable, this);
        auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
        ready = pa_stream_connect_playback(stream_, nullptr, &attributes, flags, nullptr,
                                           nullptr) >= 0 &&
                WaitUntil(
                    [&] {
                        pa_stream_state_t state = pa_stream_get_state(stream_);
                        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
                    },
                    kOpenSeconds) &&
                pa_stream_get_state(stream_) == PA_STREAM_READY;
    }
    pa_threaded_mainloop_unlock(loop_);
    return ready;
}

bool PulsePlayback::StreamFailed() const {
    return !stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY ||
           pa_context_get_state(context_) != PA_CONTEXT_READY;
}

PulsePlayback::Result PulsePlayback::Write(const uint8_t* data, size_t length) {
    pa_threaded_mainloop_lock(loop_);
    Result result = Result::kDone;
    while (length > 0) {
        if (interrupted_) {
            result = Result::kInterrupted;
            break;
        }
        if (StreamFailed()) {
            result = Result::kFailed;
            break;
        }
        size_t room = pa_stream_writable_size(stream_);
        if (room == static_cast<size_t>(-1)) {
            result = Result::kFailed;
            break;
        }
        if (room == 0) {
            pa_threaded_mainloop_wait(loop_);
            continue;
        }
        size_t step = std::min(room, length);
        if (pa_stream_write(stream_, data, step, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            result = Result::kFailed;
            break;
        }
        data += step;
        length -= step;
    }
    pa_threaded_mainloop_unlock(loop_);
    return result;
}

PulsePlayback::Result PulsePlayback::Drain() {
    pa_threaded_mainloop_lock(loop_);
    Result result = Result::kFailed;
    DrainWait wait{loop_};
    pa_operation* drain =
        StreamFailed() ? nullptr : pa_stream_drain(stream_, &PulsePlayback::OnDrained, &wait);
    if (drain) {
        while (!wait.done && !interrupted_ && !StreamFailed()) pa_threaded_mainloop_wait(loop_);
        result = wait.done ? Result::kDone : interrupted_ ? Result::kInterrupted : Result::kFailed;
        // `wait` ends here: an answer that comes later must not reach it.
        if (!wait.done) pa_operation_cancel(drain);
        pa_operation_unref(drain);
    }
    pa_threaded_mainloop_unlock(loop_);
    return result;
}

void PulsePlayback::Flush() {
    pa_threaded_mainloop_lock(loop_);
    if (!StreamFailed())
        if (pa_operation* flush = pa_stream_flush(stream_, nullptr, nullptr))
            pa_operation_unref(flush);
    pa_threaded_mainloop_unlock(loop_);
}

void PulsePlayback::Interrupt() {
    interrupted_ = true;
    // Under the lock, so a writer between its check and its wait still hears it.
    pa_threaded_mainloop_lock(loop_);
    pa_threaded_mainloop_signal(loop_, 0);
    pa_threaded_mainloop_unlock(loop_);
}

void PulsePlayback::Resume() {
    interrupted_ = false;
}

std::string PulsePlayback::LastError() const {
    return context_ ? pa_strerror(pa_context_errno(context_)) : "out of memory";
}

void PulsePlayback::Close() {
    if (!loop_) return;
    pa_threaded_mainloop_lock(loop_);
    if (stream_) {
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        if (pa_stream_get_state(stream_) == PA_STREAM_READY &&
            pa_context_get_state(context_) == PA_CONTEXT_READY) {
            // The server drops the stream with whatever it had not played yet; waiting for
            // its answer means nothing of it is heard once this returns.
            pa_stream_disconnect(stream_);
            WaitUntil([&] { return pa_stream_get_state(stream_) != PA_STREAM_READY; },
                      kCloseSeconds);
        }
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
    }
    if (context_) pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    if (stream_) pa_stream_unref(stream_);
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_free(loop_);
    stream_ = nullptr;
    context_ = nullptr;
    loop_ = nullptr;
}

void PulsePlayback::OnContextState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulsePlayback*>(self)->loop_, 0);
}

void PulsePlayback::OnStreamState(pa_stream*, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulsePlayback*>(self)->loop_, 0);
}

void PulsePlayback::OnWritable(pa_stream*, size_t, void* self) {
    pa_threaded_mainloop_signal(static_cast<PulsePlayback*>(self)->loop_, 0);
}

void PulsePlayback::OnDrained(pa_stream*, int, void* data) {
    auto* wait = static_cast<DrainWait*>(data);
    wait->done = true;
    pa_threaded_mainloop_signal(wait->loop, 0);
}

}  // namespace quil::filters
