#include "platform/audio/capture_stream.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quil::audio {

namespace {

// Small fragments, so the server hands over what it recorded at least every 50 ms and a stop
// finds next to nothing still in the server.
constexpr pa_usec_t kFragment = 50 * PA_USEC_PER_MSEC;
constexpr int kBufferSeconds = 4;
constexpr pa_usec_t kOpenTimeout = 3 * PA_USEC_PER_SEC;

struct Deadline {
    explicit Deadline(PulseClient* owner) : client(owner) {}
    PulseClient* client;
    bool passed = false;
};

void OnDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
    auto* deadline = static_cast<Deadline*>(data);
    deadline->passed = true;
    deadline->client->Signal();
}

}  // namespace

CaptureStream::CaptureStream(std::shared_ptr<PulseClient> client, std::string sourceName,
                             const WAVEFORMATEX& format, PresenceHandler onPresence)
    : client_(std::move(client)),
      sourceName_(std::move(sourceName)),
      format_(format),
      onPresence_(std::move(onPresence)) {
    spec_.format = format.wBitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec_.rate = format.nSamplesPerSec;
    spec_.channels = static_cast<uint8_t>(format.nChannels);
    size_t bytes = std::max<size_t>(size_t{format.nAvgBytesPerSec} * kBufferSeconds, 65536);
    ring_.resize(bytes - bytes % std::max<WORD>(format.nBlockAlign, 1));
}

CaptureStream::~CaptureStream() {
    Close();
}

HRESULT CaptureStream::Open() {
    const HRESULT kNoDevice = HRESULT_FROM_WIN32(1167);  // ERROR_DEVICE_NOT_CONNECTED
    if (!pa_sample_spec_valid(&spec_)) return E_INVALIDARG;
    {
        std::lock_guard lock(mutex_);
        head_ = size_ = 0;
        interrupted_ = inFlight_ = overrunning_ = finishing_ = finished_ = false;
        latency_ = 0;
    }
    PulseClient::Lock lock(*client_);
    closing_ = false;
    lost_ = false;
    corked_ = true;
    if (!StartStream()) return kNoDevice;
    Deadline deadline{client_.get()};
    pa_time_event* timer = pa_context_rttime_new(
        client_->Context(), pa_rtclock_now() + kOpenTimeout, OnDeadline, &deadline);
    pa_stream_state_t state;
    while ((state = pa_stream_get_state(stream_)) != PA_STREAM_READY && PA_STREAM_IS_GOOD(state) &&
           !deadline.passed)
        pa_threaded_mainloop_wait(client_->Loop());
    if (timer) pa_threaded_mainloop_get_api(client_->Loop())->time_free(timer);
    if (state != PA_STREAM_READY) {
        DropStream();
        return kNoDevice;
    }
    listener_ = client_->AddListener([this](pa_subscription_event_type_t event, uint32_t index) {
        if (!lost_ || closing_) return;
        if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SOURCE ||
            (event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) != PA_SUBSCRIPTION_EVENT_NEW)
            return;
        std::erase_if(lookups_, [](pa_operation* op) {
            if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) return false;
            pa_operation_unref(op);
            return true;
        });
        if (pa_operation* op = pa_context_get_source_info_by_index(
                client_->Context(), index, &CaptureStream::OnSourceInfo, this))
            lookups_.push_back(op);
    });
    return S_OK;
}

bool CaptureStream::StartStream() {
    ready_ = false;
    {
        std::lock_guard lock(mutex_);
        streamBytes_ = 0;
    }
    stream_ = pa_stream_new(client_->Context(), "Quillet recording", &spec_, nullptr);
    if (!stream_) return false;
    pa_stream_set_state_callback(stream_, &CaptureStream::OnState, this);
    pa_stream_set_read_callback(stream_, &CaptureStream::OnRead, this);
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragment, &spec_));
    // A vanished source must end this stream, not move it to another source unnoticed.
    auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE | PA_STREAM_AUTO_TIMING_UPDATE |
        PA_STREAM_INTERPOLATE_TIMING | (corked_ ? PA_STREAM_START_CORKED : 0));
    if (pa_stream_connect_record(stream_, sourceName_.c_str(), &attributes, flags) < 0) {
        pa_stream_unref(stream_);
        stream_ = nullptr;
        return false;
    }
    return true;
}

void CaptureStream::DropStream() {
    if (!stream_) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void CaptureStream::SetCorked(bool corked) {
    PulseClient::Lock lock(*client_);
    corked_ = corked;
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY)
        if (pa_operation* op = pa_stream_cork(stream_, corked ? 1 : 0, nullptr, nullptr))
            pa_operation_unref(op);
}

void CaptureStream::Close() {
    {
        PulseClient::Lock lock(*client_);
        closing_ = true;
        for (pa_operation* op : lookups_) {
            pa_operation_cancel(op);
            pa_operation_unref(op);
        }
        lookups_.clear();
        if (listener_) client_->RemoveListener(listener_);
        listener_ = 0;
        DropStream();
        for (pa_stream* dead : dead_) {
            pa_stream_set_state_callback(dead, nullptr, nullptr);
            pa_stream_set_read_callback(dead, nullptr, nullptr);
            pa_stream_unref(dead);
        }
        dead_.clear();
    }
    std::lock_guard lock(mutex_);
    if (overrunning_) EndOverrun();
    interrupted_ = true;
    changed_.notify_all();
}

void CaptureStream::OnState(pa_stream* stream, void* data) {
    auto* self = static_cast<CaptureStream*>(data);
    self->client_->Signal();
    if (stream != self->stream_ || self->closing_) return;
    pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) {
        self->ready_ = true;
        if (self->lost_) {
            self->lost_ = false;
            if (self->onPresence_) self->onPresence_(true);
        }
    } else if (!PA_STREAM_IS_GOOD(state)) {
        // A first connection that fails is Open's to report.
        if (!self->ready_ && !self->lost_) return;
        // Released later: a stream must not be freed inside its own callback.
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        self->dead_.push_back(stream);
        self->stream_ = nullptr;
        self->ready_ = false;
        if (!self->lost_) {
            self->lost_ = true;
            if (self->onPresence_) self->onPresence_(false);
        }
    }
}

void CaptureStream::OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* data) {
    auto* self = static_cast<CaptureStream*>(data);
    if (eol != 0 || !info || self->closing_ || !self->lost_ || self->stream_) return;
    if (self->sourceName_ != info->name) return;
    for (pa_stream* dead : self->dead_) {
        pa_stream_set_state_callback(dead, nullptr, nullptr);
        pa_stream_unref(dead);
    }
    self->dead_.clear();
    self->StartStream();
}

void CaptureStream::OnRead(pa_stream* stream, size_t, void* data) {
    auto* self = static_cast<CaptureStream*>(data);
    // The sound server's thread fills the ring; on a busy machine it must still get its turn.
    // Raising the nice value needs CAP_SYS_NICE, so failure is normal and harmless.
    static thread_local bool raised = [] {
        setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -10);
        return true;
    }();
    (void)raised;
    while (pa_stream_readable_size(stream) > 0) {
        const void* bytes = nullptr;
        size_t length = 0;
        if (pa_stream_peek(stream, &bytes, &length) < 0 || length == 0) break;
        // No data with a length is a hole: the server lost that much.
        self->Push(static_cast<const uint8_t*>(bytes), length);
        pa_stream_drop(stream);
    }
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream, &latency, &negative) == 0)
        self->serverLatency_ = negative ? 0 : latency;
}

void CaptureStream::Push(const uint8_t* data, size_t bytes) {
    std::lock_guard lock(mutex_);
    size_t block = std::max<WORD>(format_.nBlockAlign, 1);
    size_t room = ring_.size() - size_;
    size_t fit = std::min(room, bytes);
    fit -= fit % block;
    size_t tail = (head_ + size_) % ring_.size();
    size_t first = std::min(fit, ring_.size() - tail);
    uint8_t silence = format_.wBitsPerSample == 8 ? 0x80 : 0x00;
    if (data) {
        std::memcpy(ring_.data() + tail, data, first);
        std::memcpy(ring_.data(), data + first, fit - first);
    } else {
        std::memset(ring_.data() + tail, silence, first);
        std::memset(ring_.data(), silence, fit - first);
    }
    size_ += fit;
    streamBytes_ += bytes;
    long long lost = static_cast<long long>(bytes - fit) + (data ? 0 : static_cast<long long>(fit));
    if (lost > 0) {
        bytesLost_ += lost;
        episodeLost_ += lost;
        if (!overrunning_) {
            ++overruns_;
            overrunning_ = true;
            std::fprintf(stderr, "Quillet: recording from %s fell behind, audio is being lost\n",
                         sourceName_.c_str());
        }
    } else if (overrunning_) {
        EndOverrun();
    }
    changed_.notify_all();
}

// Under mutex_.
void CaptureStream::EndOverrun() {
    std::fprintf(stderr, "Quillet: recording from %s lost %lld ms of audio\n", sourceName_.c_str(),
                 episodeLost_ * 1000 / std::max<long long>(format_.nAvgBytesPerSec, 1));
    overrunning_ = false;
    episodeLost_ = 0;
}

size_t CaptureStream::Read(uint8_t* buffer, size_t capacity) {
    size_t block = std::max<WORD>(format_.nBlockAlign, 1);
    std::unique_lock lock(mutex_);
    // Coming back for more means the previous data went downstream.
    inFlight_ = false;
    changed_.notify_all();
    if (capacity < block) return 0;
    changed_.wait(lock, [&] { return interrupted_ || finishing_ || size_ >= block; });
    if (interrupted_) return 0;
    if (size_ < block) {
        finished_ = true;
        changed_.notify_all();
        return 0;
    }
    size_t waiting = size_;
    size_t take = std::min(size_, capacity);
    take -= take % block;
    size_t first = std::min(take, ring_.size() - head_);
    std::memcpy(buffer, ring_.data() + head_, first);
    std::memcpy(buffer + first, ring_.data(), take - first);
    head_ = (head_ + take) % ring_.size();
    size_ -= take;
    inFlight_ = true;
    latency_ = static_cast<REFERENCE_TIME>(serverLatency_.load()) * 10 +
               static_cast<REFERENCE_TIME>(waiting) * 10'000'000 /
                   std::max<REFERENCE_TIME>(format_.nAvgBytesPerSec, 1);
    return take;
}

void CaptureStream::Finish() {
    std::lock_guard lock(mutex_);
    finishing_ = true;
    changed_.notify_all();
}

bool CaptureStream::WaitFinished(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return finished_; });
}

void CaptureStream::Interrupt() {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
    changed_.notify_all();
}

std::optional<uint64_t> CaptureStream::ServerWrittenBytes(std::chrono::milliseconds timeout) {
    PulseClient::Lock lock(*client_);
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return std::nullopt;
    struct Update {
        PulseClient* client;
        bool done = false;
    } update{client_.get()};
    pa_operation* op = pa_stream_update_timing_info(
        stream_,
        [](pa_stream*, int, void* data) {
            auto* update = static_cast<Update*>(data);
            update->done = true;
            update->client->Signal();
        },
        &update);
    if (!op) return std::nullopt;
    Deadline deadline{client_.get()};
    pa_time_event* timer = pa_context_rttime_new(
        client_->Context(), pa_rtclock_now() + static_cast<pa_usec_t>(timeout.count()) * 1000,
        OnDeadline, &deadline);
    while (!update.done && !deadline.passed && pa_operation_get_state(op) == PA_OPERATION_RUNNING)
        pa_threaded_mainloop_wait(client_->Loop());
    if (timer) pa_threaded_mainloop_get_api(client_->Loop())->time_free(timer);
    if (!update.done) pa_operation_cancel(op);
    pa_operation_unref(op);
    const pa_timing_info* timing = update.done ? pa_stream_get_timing_info(stream_) : nullptr;
    if (!timing || timing->write_index_corrupt || timing->write_index < 0) return std::nullopt;
    return static_cast<uint64_t>(timing->write_index);
}

uint64_t CaptureStream::RecordedBytes() {
    PulseClient::Lock lock(*client_);
    pa_usec_t time = 0;
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY ||
        pa_stream_get_time(stream_, &time) < 0)
        return 0;
    return pa_usec_to_bytes(time, &spec_);
}

// The server may still hold what it recorded (a virtual sink renders in large blocks until it
// learns the latency wanted): waits until the stream's clock is matched by data received.
bool CaptureStream::WaitCaptured(std::chrono::milliseconds timeout) {
    uint64_t expected = RecordedBytes();
    uint64_t slack = pa_usec_to_bytes(10 * PA_USEC_PER_MSEC, &spec_);
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout,
                             [&] { return interrupted_ || streamBytes_ + slack >= expected; });
}

bool CaptureStream::WaitDelivered(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    // What the server really holds for us, not the interpolated clock: that runs on while an
    // idle source (a suspended sink's monitor) sends nothing, and a stop would wait it out.
    uint64_t expected = ServerWrittenBytes(timeout).value_or(RecordedBytes());
    uint64_t slack = pa_usec_to_bytes(10 * PA_USEC_PER_MSEC, &spec_);
    size_t block = std::max<WORD>(format_.nBlockAlign, 1);
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, deadline, [&] {
        return interrupted_ || (streamBytes_ + slack >= expected && size_ < block && !inFlight_);
    });
}

unsigned CaptureStream::Overruns() const {
    std::lock_guard lock(mutex_);
    return overruns_;
}

long long CaptureStream::BytesLost() const {
    std::lock_guard lock(mutex_);
    return bytesLost_;
}

REFERENCE_TIME CaptureStream::Latency() const {
    std::lock_guard lock(mutex_);
    return latency_;
}

}  // namespace quil::audio
