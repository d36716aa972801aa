#include "platform/graph/source_stream.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <utility>

namespace quil {

SourceStream::SourceStream(BaseFilter* filter, std::wstring name)
    : OutputPin(filter, std::move(name)) {}

SourceStream::~SourceStream() { StopThread(); }

void SourceStream::SetThreadPriority(int priority) {
    // Linux has no per-thread priority classes for ordinary processes; the nice value of the
    // thread is the nearest thing. Raising it needs CAP_SYS_NICE, so failure is normal.
    pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -5 * priority);
}

HRESULT SourceStream::Active() {
    HRESULT hr = OutputPin::Active();
    if (FAILED(hr)) return hr;
    if (thread_.joinable()) return S_OK;
    {
        std::lock_guard lock(mutex_);
        command_ = Command::None;
        parked_ = false;
        streaming_ = true;
        endRequested_ = false;
        started_ = false;
        startResult_ = S_OK;
    }
    thread_ = std::thread(&SourceStream::ThreadMain, this);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return started_; });
    if (FAILED(startResult_)) {
        hr = startResult_;
        lock.unlock();
        thread_.join();
        OutputPin::Inactive();
        return hr;
    }
    return S_OK;
}

HRESULT SourceStream::Inactive() {
    StopThread();
    return OutputPin::Inactive();
}

void SourceStream::StopThread() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        command_ = Command::Exit;
        changed_.notify_all();
    }
    // Wakes a thread waiting for a free buffer.
    if (allocator_) allocator_->Decommit();
    thread_.join();
}

bool SourceStream::StopRequested() {
    std::lock_guard lock(mutex_);
    return command_ != Command::None;
}

HRESULT SourceStream::Restart(const std::function<void()>& reposition) {
    if (!thread_.joinable()) {
        reposition();
        return S_OK;
    }
    // Flush first: it unblocks downstream filters that hold our thread (a paused renderer, a
    // full queue), so the thread can reach the park point.
    DeliverBeginFlush();
    {
        std::unique_lock lock(mutex_);
        command_ = Command::Park;
        changed_.notify_all();
        if (allocator_) allocator_->Decommit();
        changed_.wait(lock, [&] { return parked_ || command_ == Command::Exit; });
    }
    reposition();
    if (allocator_) allocator_->Commit();
    DeliverEndFlush();
    DeliverNewSegment(0, INT64_MAX, 1.0);
    std::lock_guard lock(mutex_);
    if (command_ == Command::Park) command_ = Command::None;
    parked_ = false;
    streaming_ = true;
    endRequested_ = false;
    changed_.notify_all();
    return S_OK;
}

bool SourceStream::EndStream() {
    std::lock_guard lock(mutex_);
    if (!started_ || !streaming_ || command_ != Command::None) return false;
    endRequested_ = true;
    return true;
}

// Returns false when the thread must exit.
bool SourceStream::WaitWhileParked(std::unique_lock<std::mutex>& lock) {
    while (true) {
        if (command_ == Command::Exit) return false;
        if (command_ == Command::Park) {
            parked_ = true;
            changed_.notify_all();
            // A restart clears parked_ when done; the next one may set Park again before this
            // thread wakes, and must then find it parked anew, not still waiting here.
            changed_.wait(lock, [&] { return command_ != Command::Park || !parked_; });
            continue;
        }
        if (streaming_) return true;
        // After end-of-stream: idle until stopped or repositioned.
        changed_.wait(lock, [&] { return command_ != Command::None || streaming_; });
    }
}

void SourceStream::ThreadMain() {
    HRESULT hr = OnThreadCreate();
    {
        std::lock_guard lock(mutex_);
        startResult_ = hr;
        started_ = true;
        changed_.notify_all();
    }
    if (FAILED(hr)) return;
    OnThreadStartPlay();

    while (true) {
        {
            std::unique_lock lock(mutex_);
            if (!WaitWhileParked(lock)) break;
            if (std::exchange(endRequested_, false)) {
                streaming_ = false;
                lock.unlock();
                DeliverEndOfStream();
                continue;
            }
        }
        ComPtr<IMediaSample> sample;
        hr = GetDeliveryBuffer(sample.Put());
        if (FAILED(hr)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        hr = FillBuffer(sample.Get());
        if (hr == S_OK) {
            hr = Deliver(sample.Get());
            sample = nullptr;
            if (hr != S_OK) {
                // Downstream refused (stopping, flushing for a seek, or it failed and reported
                // the error itself): stop pushing until told otherwise.
                std::lock_guard lock(mutex_);
                if (command_ == Command::None) streaming_ = false;
            }
            continue;
        }
        sample = nullptr;
        if (FAILED(hr)) filter_->NotifyEvent(EC_ERRORABORT, hr, 0);
        {
            std::lock_guard lock(mutex_);
            if (command_ != Command::None) continue;  // a stop or seek interrupted the fill
            streaming_ = false;
        }
        DeliverEndOfStream();
    }
    OnThreadDestroy();
}

SourceFilter::~SourceFilter() {
    for (auto& pin : pins_) pin->Inactive();
}

BasePin* SourceFilter::GetPin(int index) {
    if (index < 0 || index >= GetPinCount()) return nullptr;
    return pins_[index].get();
}

}  // namespace quil
