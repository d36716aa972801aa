#pragma once

// The sound server's recording devices as the rest of the program sees them. A recording device
// is a source of the server, monitors of sinks included (recording one of them records what the
// computer plays). Its recording lines are the source's ports; a source without ports has one
// line named after the device. Levels are source volumes from kVolumeMuted to kVolumeNorm; the
// master output volume is the default sink's volume.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/window/window.h"

namespace quil::audio {

class PulseClient;

constexpr uint32_t kVolumeMuted = 0;
constexpr uint32_t kVolumeNorm = 0x10000;
// Device and line names are cut to this many bytes (on a character boundary).
constexpr size_t kMaxNameBytes = 79;

struct RecordingLine {
    std::string name;
    std::string port;       // empty for the one line of a source without ports
    bool available = true;  // false when the port is known to be unplugged
};

struct RecordingDevice {
    // The friendly name: the source's description, made unique among the listed devices.
    std::string name;
    std::string sourceName;
    bool monitor = false;
    std::vector<RecordingLine> lines;
    std::string activePort;
    int channels = 0;
    uint32_t volume = 0;  // of the first channel
    bool mute = false;
    // Steps between kVolumeMuted and kVolumeNorm, as the server counts them.
    uint32_t volumeSteps = kVolumeNorm - kVolumeMuted;
};

// Every recording device in the server's order; empty without a server.
std::vector<RecordingDevice> RecordingDevices();
// The device with exactly this friendly name.
std::optional<RecordingDevice> FindRecordingDevice(std::string_view name);
// The device of a source, by the server's name of the source.
std::optional<RecordingDevice> FindRecordingSource(std::string_view sourceName);

bool SetRecordingVolume(const std::string& sourceName, uint32_t volume);  // every channel
bool SetRecordingMute(const std::string& sourceName, bool mute);
bool SelectRecordingPort(const std::string& sourceName, const std::string& port);

struct OutputVolume {
    std::string sinkName;
    uint32_t sinkIndex = 0;
    int channels = 0;
    uint32_t volume = 0;  // of the first channel
    uint32_t volumeSteps = kVolumeNorm - kVolumeMuted;
};

std::optional<OutputVolume> DefaultOutputVolume();
std::optional<OutputVolume> OutputVolumeOf(const std::string& sinkName);
bool SetOutputVolume(const std::string& sinkName, uint32_t volume);  // every channel

enum ServerChange : WPARAM { kSinkChanged = 1, kSourceChanged = 2, kServerChanged = 3 };

// Posts `message` to `window` for every change of a sink, a source or the server's defaults
// (wParam: the ServerChange, lParam: the server's index of the sink or source). The window's
// owner handles it on its own thread. When the server goes away (restarted, crashed) it
// subscribes again once a server answers, and posts kServerChanged with lParam
// kServerReconnected: indexes may have changed, so the owner reads everything afresh.
class ChangePoster {
public:
    static constexpr LPARAM kServerReconnected = -1;

    ChangePoster(HWND window, UINT message);
    ~ChangePoster();
    ChangePoster(const ChangePoster&) = delete;
    ChangePoster& operator=(const ChangePoster&) = delete;

    // False while there is no server to subscribe to.
    bool Active() const;

private:
    bool Subscribe();
    void Watch(std::stop_token stop);

    HWND window_;
    UINT message_;
    mutable std::mutex mutex_;
    std::shared_ptr<PulseClient> client_;  // guarded by mutex_
    uint64_t listener_ = 0;                // guarded by mutex_
    std::condition_variable_any wake_;
    std::jthread watcher_;
};

}  // namespace quil::audio
