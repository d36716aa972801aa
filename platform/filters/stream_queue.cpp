// "Stream Queue": passes its input's samples on from a thread of its own, so the filters
// upstream (a decoder) and downstream (an encoder and the file writer) work on two cores while
// cores are spare (see SpareCores). The samples themselves are queued, not copied; the upstream
// allocator is asked for enough buffers to fill the queue.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/graph/base_filter.h"

namespace quil::filters {

namespace {

// A full queue takes new samples again only once it has drained to the low mark, and an empty
// one is delivered from again once a batch has come (or the stream ends), so the two threads
// wake each other once per batch instead of once per sample.
constexpr size_t kMaxQueued = 64;
constexpr size_t kLowQueued = 16;
constexpr size_t kBatch = 16;
constexpr LONG kUpstreamBuffers = kMaxQueued + 4;

// Queues streaming in this process. With more of them than half the cores, the cores are busy
// with other streams already and a hand-over only costs, so samples are passed on at once.
std::atomic<unsigned> streamingQueues{0};

bool SpareCores() {
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());  // reads /sys
    return streamingQueues.load() * 2 <= cores;
}

class StreamQueue;

class QueueInput : public InputPin {
public:
    explicit QueueInput(StreamQueue* queue);
    HRESULT CheckMediaType(const MediaType& type) override {
        return type.majortype != GUID_NULL ? S_OK : S_FALSE;
    }
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* request) override {
        if (!request) return E_POINTER;
        *request = ALLOCATOR_PROPERTIES{kUpstreamBuffers, 0, 0, 0};
        return S_OK;
    }
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    StreamQueue* queue_;
};

class QueueOutput : public OutputPin {
public:
    explicit QueueOutput(StreamQueue* queue);
    HRESULT CheckMediaType(const MediaType& type) override;
    HRESULT GetMediaType(int position, MediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        // Upstream's samples are passed on; these buffers are never filled.
        ALLOCATOR_PROPERTIES wanted{std::max<LONG>(request->cBuffers, 1),
                                    std::max<LONG>(request->cbBuffer, 1), 1, 0},
            actual{};
        return allocator->SetProperties(&wanted, &actual);
    }

private:
    StreamQueue* queue_;
};

class StreamQueue : public BaseFilter {
public:
    StreamQueue()
        : BaseFilter(CLSID_StreamQueue),
          input_(std::make_unique<QueueInput>(this)),
          output_(std::make_unique<QueueOutput>(this)) {}
    ~StreamQueue() override { StopThread(); }

    int GetPinCount() override { return 2; }
    BasePin* GetPin(int index) override {
        if (index == 0) return input_.get();
        if (index == 1) return output_.get();
        return nullptr;
    }

    HRESULT Pause() override {
        bool starting = IsStopped() && output_->IsConnected();
        if (starting) StartThread();
        HRESULT hr = BaseFilter::Pause();
        if (FAILED(hr) && starting) StopThread();
        return hr;
    }
    HRESULT Stop() override {
        StopThread();
        return BaseFilter::Stop();
    }

    const MediaType& InputType() const { return input_->CurrentMediaType(); }
    bool InputConnected() const { return input_->IsConnected(); }

    HRESULT Put(IMediaSample* sample) {
        std::unique_lock lock(mutex_);
        if (queue_.size() >= kMaxQueued) {
            changed_.wait(lock, [&] {
                bool go = exit_ || flushing_ || queue_.size() <= kLowQueued;
                upstreamWaiting_ = !go;
                return go;
            });
        }
        if (exit_) return VFW_E_WRONG_STATE;
        if (flushing_) return S_FALSE;
        if (downstream_ != S_OK) return downstream_;
        if (!queue_.empty() || busy_ || SpareCores()) {
            Push({ComPtr<IMediaSample>(sample), Kind::Sample});
            return S_OK;
        }
        // Nothing queued and the delivery thread idle: the order holds when the caller delivers.
        busy_ = true;
        lock.unlock();
        HRESULT hr = output_->Deliver(sample);
        lock.lock();
        busy_ = false;
        if (hr != S_OK && !flushing_) downstream_ = hr;
        if (flushing_) changed_.notify_all();  // the flush waits for the delivery to end
        return hr;
    }
    void PutEnd() {
        std::lock_guard lock(mutex_);
        if (!exit_ && !flushing_) Push({{}, Kind::End});
    }
    void PutSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
        std::lock_guard lock(mutex_);
        if (!exit_ && !flushing_) Push({{}, Kind::Segment, start, stop, rate});
    }
    void BeginFlush() {
        {
            std::lock_guard lock(mutex_);
            flushing_ = true;
            queue_.clear();
            changed_.notify_all();
        }
        // Frees the delivery thread if it is held downstream.
        output_->DeliverBeginFlush();
    }
    void EndFlush() {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return !busy_ || exit_; });
            queue_.clear();
            flushing_ = false;
            downstream_ = S_OK;
        }
        output_->DeliverEndFlush();
    }

private:
    enum class Kind { Sample, End, Segment };
    struct Entry {
        ComPtr<IMediaSample> sample;
        Kind kind;
        REFERENCE_TIME start = 0, stop = 0;
        double rate = 1.0;
    };

    // With the mutex held.
    void Push(Entry entry) {
        queue_.push_back(std::move(entry));
        if (deliveryWaiting_ && BatchReady()) {
            deliveryWaiting_ = false;
            changed_.notify_all();
        }
    }
    bool BatchReady() const {
        return queue_.size() >= kBatch || (!queue_.empty() && queue_.back().kind != Kind::Sample);
    }

    void StartThread() {
        {
            std::lock_guard lock(mutex_);
            queue_.clear();
            exit_ = flushing_ = busy_ = upstreamWaiting_ = deliveryWaiting_ = false;
            downstream_ = S_OK;
        }
        thread_ = std::thread(&StreamQueue::DeliveryLoop, this);
        ++streamingQueues;
    }

    void StopThread() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            exit_ = true;
            changed_.notify_all();
        }
        thread_.join();
        --streamingQueues;
        std::lock_guard lock(mutex_);
        queue_.clear();
    }

    void DeliveryLoop() {
        bool draining = false;  // a batch has started: deliver until the queue is empty
        while (true) {
            Entry entry;
            {
                std::unique_lock lock(mutex_);
                busy_ = false;
                if (queue_.empty()) changed_.notify_all();  // a flush waits for an idle thread
                if (queue_.empty()) draining = false;
                changed_.wait(lock, [&] {
                    bool go = exit_ || (!queue_.empty() && (draining || BatchReady()));
                    deliveryWaiting_ = !go;
                    return go;
                });
                draining = true;
                if (exit_) return;
                entry = std::move(queue_.front());
                queue_.pop_front();
                busy_ = true;
                if (upstreamWaiting_ && queue_.size() <= kLowQueued) {
                    upstreamWaiting_ = false;
                    changed_.notify_all();
                }
            }
            HRESULT hr = S_OK;
            switch (entry.kind) {
                case Kind::Sample:
                    hr = output_->Deliver(entry.sample.Get());
                    break;
                case Kind::End:
                    output_->DeliverEndOfStream();
                    break;
                case Kind::Segment:
                    output_->DeliverNewSegment(entry.start, entry.stop, entry.rate);
                    break;
            }
            entry.sample = nullptr;  // back to upstream's pool before the next wait
            if (hr != S_OK) {
                // Downstream refused (and reported why itself): upstream stops on its next
                // sample, as it would without the queue.
                std::lock_guard lock(mutex_);
                if (!flushing_) downstream_ = hr;
            }
        }
    }

    std::unique_ptr<QueueInput> input_;
    std::unique_ptr<QueueOutput> output_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Entry> queue_;
    bool exit_ = true;  // no delivery thread: nothing may be queued
    bool flushing_ = false;
    bool busy_ = false;
    bool upstreamWaiting_ = false;
    bool deliveryWaiting_ = false;
    HRESULT downstream_ = S_OK;
};

QueueInput::QueueInput(StreamQueue* queue) : InputPin(queue, L"Input"), queue_(queue) {}

HRESULT QueueInput::Receive(IMediaSample* sample) {
    HRESULT hr = InputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return queue_->Put(sample);
}

HRESULT QueueInput::EndOfStream() {
    HRESULT hr = InputPin::EndOfStream();
    if (hr != S_OK) return hr;
    queue_->PutEnd();
    return S_OK;
}

HRESULT QueueInput::BeginFlush() {
    InputPin::BeginFlush();
    queue_->BeginFlush();
    return S_OK;
}

HRESULT QueueInput::EndFlush() {
    queue_->EndFlush();
    return InputPin::EndFlush();
}

HRESULT QueueInput::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    InputPin::NewSegment(start, stop, rate);
    queue_->PutSegment(start, stop, rate);
    return S_OK;
}

QueueOutput::QueueOutput(StreamQueue* queue) : OutputPin(queue, L"Output"), queue_(queue) {}

HRESULT QueueOutput::CheckMediaType(const MediaType& type) {
    if (!queue_->InputConnected()) return VFW_E_NOT_CONNECTED;
    return queue_->InputType().Matches(type) ? S_OK : S_FALSE;
}

HRESULT QueueOutput::GetMediaType(int position, MediaType* type) {
    if (!queue_->InputConnected() || position != 0) return VFW_S_NO_MORE_ITEMS;
    *type = queue_->InputType();
    return S_OK;
}

}  // namespace

HRESULT CreateStreamQueue(REFIID iid, void** out) {
    return CreateObject<StreamQueue>(iid, out);
}

}  // namespace quil::filters
