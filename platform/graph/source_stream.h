#pragma once

// Sources that push: each output pin runs its own streaming thread. When the graph pauses the
// thread starts and calls OnThreadCreate (stream start); it then loops: take an empty sample
// (waiting 1 ms and asking again when none is free), FillBuffer, deliver. FillBuffer's S_FALSE
// ends the stream with end-of-stream; an error raises EC_ERRORABORT with it and ends the stream
// the same way. When the graph stops, the thread calls OnThreadDestroy (stream stop) and ends.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/graph/base_filter.h"

constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;

namespace quil {

class SourceStream : public OutputPin {
public:
    SourceStream(BaseFilter* filter, std::wstring name);
    ~SourceStream() override;

    HRESULT Active() override;
    HRESULT Inactive() override;

    // Runs `reposition` while the streaming thread is parked and downstream is flushed, then
    // resumes streaming from the new position with a new segment. Safe in any state.
    HRESULT Restart(const std::function<void()>& reposition);

    bool ThreadRunning() const { return thread_.joinable(); }

    // Ends the stream after the sample in hand: end-of-stream goes downstream next. False when
    // the stream is not running or has ended already.
    bool EndStream();

protected:
    virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    virtual HRESULT OnThreadStartPlay() { return S_OK; }

    // Sets the calling thread's scheduling priority; best effort (an unprivileged process may
    // not raise it).
    static void SetThreadPriority(int priority);

    // True once a stop or a reposition waits for the thread: a FillBuffer that retries slow
    // reads asks between them and gives up (its S_FALSE then ends nothing but the fill).
    bool StopRequested();

    // A derived class must call this first thing in its destructor, so the thread never calls
    // into a half-destroyed object.
    void StopThread();

private:
    enum class Command { None, Park, Exit };
    void ThreadMain();
    bool WaitWhileParked(std::unique_lock<std::mutex>& lock);

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Command command_ = Command::None;
    bool parked_ = false;     // the thread acknowledges Park here
    bool streaming_ = true;   // false after end-of-stream or a downstream refusal
    bool endRequested_ = false;
    HRESULT startResult_ = S_OK;
    bool started_ = false;
};

// A filter made of SourceStream pins (the pins are owned by the filter).
class SourceFilter : public BaseFilter {
public:
    using BaseFilter::BaseFilter;
    ~SourceFilter() override;

    int GetPinCount() override { return static_cast<int>(pins_.size()); }
    BasePin* GetPin(int index) override;

protected:
    void AddPin(std::unique_ptr<SourceStream> pin) { pins_.push_back(std::move(pin)); }
    std::vector<std::unique_ptr<SourceStream>> pins_;
};

}  // namespace quil
