#include "platform/audio/recording_devices.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "platform/audio/pulse_client.h"
#include "platform/com/strings.h"

namespace quil::audio {

namespace {

std::string Cut(std::string_view text) {
    return std::string(Utf8Prefix(text, kMaxNameBytes));
}

// Descriptions need not be unique (two cards of one model, two null sinks); the source's own
// name tells such devices apart, so selection by name still finds each of them.
std::string UniqueName(const PulseSource& source, const std::set<std::string>& taken) {
    std::string base = Cut(source.description.empty() ? source.name : source.description);
    if (!taken.count(base)) return base;
    std::string named = Cut(base + " (" + source.name + ")");
    if (!taken.count(named)) return named;
    for (int n = 2;; ++n) {
        std::string suffix = " " + std::to_string(n);
        std::string numbered =
            std::string(Utf8Prefix(base, kMaxNameBytes - suffix.size())) + suffix;
        if (!taken.count(numbered)) return numbered;
    }
}

RecordingDevice ToDevice(const PulseSource& source, std::string name) {
    RecordingDevice device;
    device.name = std::move(name);
    device.sourceName = source.name;
    device.monitor = source.monitor;
    device.activePort = source.activePort;
    device.channels = source.volume.channels;
    device.volume = source.volume.channels ? source.volume.values[0] : 0;
    device.mute = source.mute;
    device.volumeSteps = source.volumeSteps - 1;
    for (const PulsePort& port : source.ports)
        device.lines.push_back({Cut(port.description.empty() ? port.name : port.description),
                                port.name, port.availability != PA_PORT_AVAILABLE_NO});
    if (device.lines.empty()) device.lines.push_back({device.name, "", true});
    return device;
}

pa_cvolume Uniform(int channels, uint32_t volume) {
    pa_cvolume result;
    pa_cvolume_set(
        &result, static_cast<unsigned>(std::clamp(channels, 1, static_cast<int>(PA_CHANNELS_MAX))),
        std::min<uint32_t>(volume, PA_VOLUME_MAX));
    return result;
}

}  // namespace

std::vector<RecordingDevice> RecordingDevices() {
    std::vector<RecordingDevice> devices;
    auto client = PulseClient::Shared();
    if (!client) return devices;
    auto sources = client->Sources();
    if (!sources) return devices;
    std::set<std::string> taken;
    for (const PulseSource& source : *sources) {
        std::string name = UniqueName(source, taken);
        taken.insert(name);
        devices.push_back(ToDevice(source, std::move(name)));
    }
    return devices;
}

std::optional<RecordingDevice> FindRecordingDevice(std::string_view name) {
    for (auto& device : RecordingDevices())
        if (device.name == name) return device;
    return std::nullopt;
}

std::optional<RecordingDevice> FindRecordingSource(std::string_view sourceName) {
    for (auto& device : RecordingDevices())
        if (device.sourceName == sourceName) return device;
    return std::nullopt;
}

bool SetRecordingVolume(const std::string& sourceName, uint32_t volume) {
    auto client = PulseClient::Shared();
    if (!client) return false;
    auto source = client->Source(sourceName);
    return source && client->SetSourceVolume(sourceName, Uniform(source->volume.channels, volume));
}

bool SetRecordingMute(const std::string& sourceName, bool mute) {
    auto client = PulseClient::Shared();
    return client && client->SetSourceMute(sourceName, mute);
}

bool SelectRecordingPort(const std::string& sourceName, const std::string& port) {
    auto client = PulseClient::Shared();
    return client && client->SetSourcePort(sourceName, port);
}

std::optional<OutputVolume> OutputVolumeOf(const std::string& sinkName) {
    auto client = PulseClient::Shared();
    if (!client) return std::nullopt;
    auto sink = client->Sink(sinkName);
    if (!sink) return std::nullopt;
    return OutputVolume{sink->name, sink->index, sink->volume.channels,
                        sink->volume.channels ? sink->volume.values[0] : 0, sink->volumeSteps - 1};
}

std::optional<OutputVolume> DefaultOutputVolume() {
    auto client = PulseClient::Shared();
    if (!client) return std::nullopt;
    auto name = client->DefaultSinkName();
    return name ? OutputVolumeOf(*name) : std::nullopt;
}

bool SetOutputVolume(const std::string& sinkName, uint32_t volume) {
    auto client = PulseClient::Shared();
    if (!client) return false;
    auto sink = client->Sink(sinkName);
    return sink && client->SetSinkVolume(sinkName, Uniform(sink->volume.channels, volume));
}

namespace {

// How often a poster whose server went away looks for it again.
constexpr auto kReconnectPeriod = std::chrono::milliseconds(500);

}  // namespace

ChangePoster::ChangePoster(HWND window, UINT message) : window_(window), message_(message) {
    Subscribe();
    watcher_ = std::jthread([this](std::stop_token stop) { Watch(stop); });
}

ChangePoster::~ChangePoster() {
    watcher_.request_stop();
    wake_.notify_all();
    if (watcher_.joinable()) watcher_.join();
    std::lock_guard lock(mutex_);
    if (client_ && listener_) client_->RemoveListener(listener_);
}

bool ChangePoster::Active() const {
    std::lock_guard lock(mutex_);
    return listener_ != 0;
}

bool ChangePoster::Subscribe() {
    auto client = PulseClient::Shared();
    if (!client) return false;
    HWND window = window_;
    UINT message = message_;
    uint64_t listener =
        client->AddListener([window, message](pa_subscription_event_type_t event, uint32_t index) {
            WPARAM change;
            switch (event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) {
                case PA_SUBSCRIPTION_EVENT_SINK:
                    change = kSinkChanged;
                    break;
                case PA_SUBSCRIPTION_EVENT_SOURCE:
                    change = kSourceChanged;
                    break;
                case PA_SUBSCRIPTION_EVENT_SERVER:
                    change = kServerChanged;
                    break;
                default:
                    return;
            }
            PostMessage(window, message, change, static_cast<LPARAM>(index));
        });
    std::lock_guard lock(mutex_);
    client_ = std::move(client);
    listener_ = listener;
    return true;
}

// A lost connection never comes back by itself: look for a server now and then, and
// subscribe to the one that answers.
void ChangePoster::Watch(std::stop_token stop) {
    std::mutex sleep;
    while (!stop.stop_requested()) {
        {
            std::unique_lock lock(sleep);
            wake_.wait_for(lock, stop, kReconnectPeriod, [] { return false; });
        }
        if (stop.stop_requested()) return;
        std::shared_ptr<PulseClient> current;
        {
            std::lock_guard lock(mutex_);
            current = client_;
        }
        if (current && current->Connected()) continue;
        {
            std::lock_guard lock(mutex_);
            if (client_ && listener_) client_->RemoveListener(listener_);
            client_.reset();
            listener_ = 0;
        }
        if (Subscribe()) PostMessage(window_, message_, kServerChanged, kServerReconnected);
    }
}

}  // namespace quil::audio
