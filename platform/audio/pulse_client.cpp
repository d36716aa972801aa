#include "platform/audio/pulse_client.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace quil::audio {

namespace {

constexpr pa_usec_t kAnswerTimeout = 5 * PA_USEC_PER_SEC;
constexpr pa_usec_t kConnectTimeout = 3 * PA_USEC_PER_SEC;

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

std::string Text(const char* text) {
    return text ? text : "";
}

PulseSource ToSource(const pa_source_info& info) {
    PulseSource source;
    source.index = info.index;
    source.name = Text(info.name);
    source.description = Text(info.description);
    source.monitor = info.monitor_of_sink != PA_INVALID_INDEX;
    for (uint32_t i = 0; i < info.n_ports; ++i) {
        const pa_source_port_info* port = info.ports[i];
        source.ports.push_back({Text(port->name), Text(port->description), port->available});
    }
    if (info.active_port) source.activePort = Text(info.active_port->name);
    source.volume = info.volume;
    source.mute = info.mute != 0;
    if (info.n_volume_steps > 1) source.volumeSteps = info.n_volume_steps;
    return source;
}

template <class Item>
struct ListQuery {
    explicit ListQuery(PulseClient* owner) : client(owner) {}
    PulseClient* client;
    std::vector<Item> items;
    bool failed = false;
};

void OnSourceInfo(pa_context*, const pa_source_info* info, int eol, void* data) {
    auto* query = static_cast<ListQuery<PulseSource>*>(data);
    if (eol < 0) query->failed = true;
    if (info && eol == 0) query->items.push_back(ToSource(*info));
    if (eol) query->client->Signal();
}

void OnSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* data) {
    auto* query = static_cast<ListQuery<PulseSink>*>(data);
    if (eol < 0) query->failed = true;
    if (info && eol == 0) {
        query->items.push_back(
            {info->index, Text(info->name), info->volume, info->mute != 0,
             info->n_volume_steps > 1 ? info->n_volume_steps : PA_VOLUME_NORM + 1});
    }
    if (eol) query->client->Signal();
}

struct ServerQuery {
    explicit ServerQuery(PulseClient* owner) : client(owner) {}
    PulseClient* client;
    std::string defaultSink;
};

void OnServerInfo(pa_context*, const pa_server_info* info, void* data) {
    auto* query = static_cast<ServerQuery*>(data);
    if (info) query->defaultSink = Text(info->default_sink_name);
    query->client->Signal();
}

struct SuccessQuery {
    explicit SuccessQuery(PulseClient* owner) : client(owner) {}
    PulseClient* client;
    bool success = false;
};

void OnSuccess(pa_context*, int success, void* data) {
    auto* query = static_cast<SuccessQuery*>(data);
    query->success = success != 0;
    query->client->Signal();
}

}  // namespace

double VolumeToLevel(pa_volume_t volume) {
    return std::min(1.0, static_cast<double>(volume) / PA_VOLUME_NORM);
}

pa_volume_t LevelToVolume(double level) {
    return static_cast<pa_volume_t>(std::lround(std::clamp(level, 0.0, 1.0) * PA_VOLUME_NORM));
}

std::shared_ptr<PulseClient> PulseClient::Shared() {
    static std::mutex mutex;
    // Kept for the life of the process: a connection costs a thread and a round of handshakes,
    // and the desktop program asks the server a dozen times while it starts. Never destroyed,
    // so no query can meet it half torn down at exit.
    static auto* cached = new std::shared_ptr<PulseClient>();
    static auto* cachedServer = new std::string();  // PULSE_SERVER it was made for
    std::lock_guard lock(mutex);
    const char* server = std::getenv("PULSE_SERVER");
    if (*cached && *cachedServer == (server ? server : "") && (*cached)->Connected())
        return *cached;
    cached->reset();
    std::shared_ptr<PulseClient> client(new PulseClient());
    if (!client->Connect()) return nullptr;
    *cached = client;
    *cachedServer = server ? server : "";
    return client;
}

bool PulseClient::Connect() {
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return false;
    pa_threaded_mainloop_set_name(loop_, "quil-pulse");
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Quillet");
    context_ =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), "Quillet", properties);
    pa_proplist_free(properties);
    if (!context_) return false;
    pa_context_set_state_callback(context_, &PulseClient::OnContextState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    if (pa_threaded_mainloop_start(loop_) < 0) return false;

    pa_threaded_mainloop_lock(loop_);
    Deadline deadline{this};
    pa_time_event* timer =
        pa_context_rttime_new(context_, pa_rtclock_now() + kConnectTimeout, OnDeadline, &deadline);
    pa_context_state_t state;
    while ((state = pa_context_get_state(context_)) != PA_CONTEXT_READY &&
           PA_CONTEXT_IS_GOOD(state) && !deadline.passed)
        pa_threaded_mainloop_wait(loop_);
    if (timer) pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    bool ready = state == PA_CONTEXT_READY;
    if (ready) {
        pa_context_set_subscribe_callback(context_, &PulseClient::OnEvent, this);
        auto mask = static_cast<pa_subscription_mask_t>(
            PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER);
        if (pa_operation* op = pa_context_subscribe(context_, mask, nullptr, nullptr))
            pa_operation_unref(op);
    }
    pa_threaded_mainloop_unlock(loop_);
    return ready;
}

PulseClient::~PulseClient() {
    if (loop_) pa_threaded_mainloop_stop(loop_);
    if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_) pa_threaded_mainloop_free(loop_);
}

void PulseClient::OnContextState(pa_context*, void* self) {
    static_cast<PulseClient*>(self)->Signal();
}

void PulseClient::OnEvent(pa_context*, pa_subscription_event_type_t event, uint32_t index,
                          void* self) {
    auto* client = static_cast<PulseClient*>(self);
    // A copy, so a listener added or removed meanwhile cannot break the walk.
    auto listeners = client->listeners_;
    for (auto& [id, listener] : listeners) listener(event, index);
}

bool PulseClient::Connected() {
    Lock lock(*this);
    return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

PulseClient::Lock::Lock(PulseClient& client)
    : loop_(client.loop_), held_(!pa_threaded_mainloop_in_thread(client.loop_)) {
    if (held_) pa_threaded_mainloop_lock(loop_);
}

PulseClient::Lock::~Lock() {
    if (held_) pa_threaded_mainloop_unlock(loop_);
}

uint64_t PulseClient::AddListener(Listener listener) {
    Lock lock(*this);
    uint64_t id = nextListener_++;
    listeners_[id] = std::move(listener);
    return id;
}

void PulseClient::RemoveListener(uint64_t id) {
    Lock lock(*this);
    listeners_.erase(id);
}

bool PulseClient::Await(const std::function<pa_operation*()>& start) {
    if (pa_threaded_mainloop_in_thread(loop_)) return false;
    Lock lock(*this);
    if (pa_context_get_state(context_) != PA_CONTEXT_READY) return false;
    pa_operation* op = start();
    if (!op) return false;
    Deadline deadline{this};
    pa_time_event* timer =
        pa_context_rttime_new(context_, pa_rtclock_now() + kAnswerTimeout, OnDeadline, &deadline);
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING && !deadline.passed &&
           pa_context_get_state(context_) == PA_CONTEXT_READY)
        pa_threaded_mainloop_wait(loop_);
    bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    if (!done) pa_operation_cancel(op);
    pa_operation_unref(op);
    if (timer) pa_threaded_mainloop_get_api(loop_)->time_free(timer);
    return done;
}

bool PulseClient::AwaitSuccess(
    const std::function<pa_operation*(pa_context_success_cb_t, void*)>& start) {
    SuccessQuery query{this};
    return Await([&] { return start(OnSuccess, &query); }) && query.success;
}

std::optional<std::vector<PulseSource>> PulseClient::Sources() {
    ListQuery<PulseSource> query{this};
    if (!Await([&] { return pa_context_get_source_info_list(context_, OnSourceInfo, &query); }) ||
        query.failed)
        return std::nullopt;
    std::sort(query.items.begin(), query.items.end(),
              [](const auto& a, const auto& b) { return a.index < b.index; });
    return query.items;
}

std::optional<PulseSource> PulseClient::Source(const std::string& name) {
    ListQuery<PulseSource> query{this};
    if (!Await([&] {
            return pa_context_get_source_info_by_name(context_, name.c_str(), OnSourceInfo, &query);
        }) ||
        query.failed || query.items.empty())
        return std::nullopt;
    return query.items.front();
}

std::optional<std::string> PulseClient::DefaultSinkName() {
    ServerQuery query{this};
    if (!Await([&] { return pa_context_get_server_info(context_, OnServerInfo, &query); }) ||
        query.defaultSink.empty())
        return std::nullopt;
    return query.defaultSink;
}

std::optional<PulseSink> PulseClient::Sink(const std::string& name) {
    ListQuery<PulseSink> query{this};
    if (!Await([&] {
            return pa_context_get_sink_info_by_name(context_, name.c_str(), OnSinkInfo, &query);
        }) ||
        query.failed || query.items.empty())
        return std::nullopt;
    return query.items.front();
}

bool PulseClient::SetSourceVolume(const std::string& name, const pa_cvolume& volume) {
    return AwaitSuccess([&](pa_context_success_cb_t done, void* data) {
        return pa_context_set_source_volume_by_name(context_, name.c_str(), &volume, done, data);
    });
}

bool PulseClient::SetSourceMute(const std::string& name, bool mute) {
    return AwaitSuccess([&](pa_context_success_cb_t done, void* data) {
        return pa_context_set_source_mute_by_name(context_, name.c_str(), mute, done, data);
    });
}

bool PulseClient::SetSourcePort(const std::string& name, const std::string& port) {
    return AwaitSuccess([&](pa_context_success_cb_t done, void* data) {
        return pa_context_set_source_port_by_name(context_, name.c_str(), port.c_str(), done, data);
    });
}

bool PulseClient::SetSinkVolume(const std::string& name, const pa_cvolume& volume) {
    return AwaitSuccess([&](pa_context_success_cb_t done, void* data) {
        return pa_context_set_sink_volume_by_name(context_, name.c_str(), &volume, done, data);
    });
}

}  // namespace quil::audio
