#include "app/mixer/mixer_control.h"

#include <algorithm>
#include <optional>

#include "platform/audio/recording_devices.h"

namespace quil::mixer {

namespace {

std::optional<audio::RecordingLine> FindLine(const std::string& device, const std::string& line,
                                             audio::RecordingDevice* owner) {
    auto found = audio::FindRecordingDevice(device);
    if (!found) return std::nullopt;
    for (const auto& candidate : found->lines) {
        if (candidate.name != line) continue;
        *owner = *found;
        return candidate;
    }
    return std::nullopt;
}

}  // namespace

bool MixerControl::GetRecordDeviceName(int index, std::string* name) {
    if (index < 0 || !name) return false;
    auto devices = audio::RecordingDevices();
    if (static_cast<size_t>(index) >= devices.size()) return false;
    *name = devices[static_cast<size_t>(index)].name;
    return true;
}

int MixerControl::GetRecordLineCount(const std::string& device) {
    auto found = audio::FindRecordingDevice(device);
    return found ? static_cast<int>(found->lines.size()) : 0;
}

bool MixerControl::GetRecordLineName(const std::string& device, std::string* name, int index) {
    auto found = audio::FindRecordingDevice(device);
    if (!found || !name || index < 0 || static_cast<size_t>(index) >= found->lines.size())
        return false;
    *name = found->lines[static_cast<size_t>(index)].name;
    return true;
}

bool MixerControl::GetRecordLineVolume(const std::string& device, const std::string& line,
                                       uint32_t* minimum, uint32_t* maximum, uint32_t* steps,
                                       uint32_t* level) {
    audio::RecordingDevice owner;
    auto found = FindLine(device, line, &owner);
    if (!found) return false;
    if (!found->available) return true;
    if (minimum) *minimum = audio::kVolumeMuted;
    if (maximum) *maximum = audio::kVolumeNorm;
    if (steps) *steps = owner.volumeSteps;
    // A boosted source reads as full, so the level never leaves the range.
    if (level) *level = std::min(owner.volume, audio::kVolumeNorm);
    return true;
}

MasterVolume::MasterVolume(HWND messageWindow) : window_(messageWindow) {
    auto output = audio::DefaultOutputVolume();
    if (!output) return;
    opened_ = true;
    sinkName_ = output->sinkName;
    sinkIndex_ = output->sinkIndex;
    channels_ = output->channels;
    minimum_ = audio::kVolumeMuted;
    maximum_ = audio::kVolumeNorm;
    steps_ = output->volumeSteps;
    usable_ = channels_ > 0;
    if (window_) changes_ = std::make_unique<audio::ChangePoster>(window_, MM_MIXM_CONTROL_CHANGE);
}

MasterVolume::~MasterVolume() {
    Close();
}

void MasterVolume::Close() {
    changes_.reset();
    opened_ = usable_ = false;
}

long MasterVolume::GetLevel() const {
    if (!usable_) return -1;
    auto output = audio::OutputVolumeOf(sinkName_);
    if (!output) return -1;
    return static_cast<long>(std::min(output->volume, maximum_));
}

void MasterVolume::SetLevel(long level) {
    if (!usable_ || level < static_cast<long>(minimum_) || level > static_cast<long>(maximum_))
        return;
    audio::SetOutputVolume(sinkName_, static_cast<uint32_t>(level));
}

void MasterVolume::SetObserver(Observer observer, void* user) {
    observer_ = observer;
    user_ = user;
}

bool MasterVolume::HandleMessage(const Message& message) {
    if (message.message != MM_MIXM_CONTROL_CHANGE) return false;
    if (message.wParam == audio::kServerChanged &&
        message.lParam == audio::ChangePoster::kServerReconnected) {
        // A restarted server numbers its sinks anew; the level may have changed too.
        auto output = opened_ ? audio::OutputVolumeOf(sinkName_) : std::nullopt;
        if (!output) return true;
        sinkIndex_ = output->sinkIndex;
        channels_ = output->channels;
        steps_ = output->volumeSteps;
        usable_ = channels_ > 0;
    } else if (message.wParam != audio::kSinkChanged ||
               message.lParam != static_cast<LPARAM>(sinkIndex_)) {
        return true;
    }
    if (observer_) observer_(GetLevel(), user_);
    return true;
}

}  // namespace quil::mixer
