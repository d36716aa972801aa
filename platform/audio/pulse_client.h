#pragma once

// One connection to the sound server with its own thread (a threaded main loop). Queries wait
// for their answer with a time-out, so a server that stops answering fails a call instead of
// hanging it. Listeners hear about sinks, sources and server changes on the client's thread.

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quil::audio {

struct PulsePort {
    std::string name;
    std::string description;
    int availability = PA_PORT_AVAILABLE_UNKNOWN;
};

struct PulseSource {
    uint32_t index = PA_INVALID_INDEX;
    std::string name;
    std::string description;
    bool monitor = false;
    std::vector<PulsePort> ports;
    std::string activePort;
    pa_cvolume volume{};
    bool mute = false;
    uint32_t volumeSteps = PA_VOLUME_NORM + 1;  // distinct levels the server offers
};

struct PulseSink {
    uint32_t index = PA_INVALID_INDEX;
    std::string name;
    pa_cvolume volume{};
    bool mute = false;
    uint32_t volumeSteps = PA_VOLUME_NORM + 1;
};

class PulseClient {
public:
    // The process's connection, made on first use and kept; made again once the server went away
    // or PULSE_SERVER names another. Null when no server answers.
    static std::shared_ptr<PulseClient> Shared();

    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    bool Connected();

    // Queries and changes; none may be called on the client's own thread.
    std::optional<std::vector<PulseSource>> Sources();
    std::optional<PulseSource> Source(const std::string& name);
    std::optional<std::string> DefaultSinkName();
    std::optional<PulseSink> Sink(const std::string& name);
    bool SetSourceVolume(const std::string& name, const pa_cvolume& volume);
    bool SetSourceMute(const std::string& name, bool mute);
    bool SetSourcePort(const std::string& name, const std::string& port);
    bool SetSinkVolume(const std::string& name, const pa_cvolume& volume);

    // Called on the client's thread with its lock held; a listener must not block or query.
    using Listener = std::function<void(pa_subscription_event_type_t event, uint32_t index)>;
    uint64_t AddListener(Listener listener);
    // Once it returns the listener is never called again.
    void RemoveListener(uint64_t id);

    // Holds the client's lock (the main loop's); a no-op on the client's own thread.
    class Lock {
    public:
        explicit Lock(PulseClient& client);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
        bool held_;
    };

    pa_threaded_mainloop* Loop() const { return loop_; }
    pa_context* Context() const { return context_; }
    // Wakes whoever waits on the loop (from a callback).
    void Signal() { pa_threaded_mainloop_signal(loop_, 0); }

private:
    PulseClient() = default;
    bool Connect();
    // Starts an operation under the lock and waits for it to end or time out.
    bool Await(const std::function<pa_operation*()>& start);
    bool AwaitSuccess(const std::function<pa_operation*(pa_context_success_cb_t, void*)>& start);

    static void OnContextState(pa_context* context, void* self);
    static void OnEvent(pa_context* context, pa_subscription_event_type_t event, uint32_t index,
                        void* self);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    std::map<uint64_t, Listener> listeners_;
    uint64_t nextListener_ = 1;
};

// PA_VOLUME_NORM as a fraction of 1.0 and back.
double VolumeToLevel(pa_volume_t volume);
pa_volume_t LevelToVolume(double level);

}  // namespace quil::audio
