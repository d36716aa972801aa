#pragma once

// The main program's layer over the recording devices and the master output volume. The
// recording-line queries keep no state: each asks the sound server afresh. Device and line
// names are the ones the live grabber selects by (its device and input-line names).

#include <cstdint>
#include <memory>
#include <string>

#include "platform/window/window.h"

namespace quil::audio {
class ChangePoster;
}

namespace quil::mixer {

class MixerControl {
public:
    // True and the name when index < the number of recording devices.
    static bool GetRecordDeviceName(int index, std::string* name);
    // The lines of the device; 0 when no device has that name or there is no sound server.
    static int GetRecordLineCount(const std::string& device);
    static bool GetRecordLineName(const std::string& device, std::string* name, int index);
    // True when the line exists; the four values are set only when the line has a volume (an
    // unplugged port has none). Levels run from kVolumeMuted to kVolumeNorm.
    static bool GetRecordLineVolume(const std::string& device, const std::string& line,
                                    uint32_t* minimum, uint32_t* maximum, uint32_t* steps,
                                    uint32_t* level);
};

// The message a master volume posts to its window when the server reports a change.
constexpr UINT MM_MIXM_CONTROL_CHANGE = 0x3D1;

// The playback volume of the default output device (the default sink at opening).
class MasterVolume {
public:
    using Observer = void (*)(long level, void* user);

    // Opens at construction. With a message window, the server's changes are posted to it as
    // MM_MIXM_CONTROL_CHANGE; the window's handler passes them to HandleMessage, so the
    // observer runs on the window's own thread.
    explicit MasterVolume(HWND messageWindow = nullptr);
    ~MasterVolume();
    MasterVolume(const MasterVolume&) = delete;
    MasterVolume& operator=(const MasterVolume&) = delete;

    bool IsOpened() const { return opened_; }
    bool IsUsable() const { return usable_; }
    long GetMinimum() const { return usable_ ? static_cast<long>(minimum_) : -1; }
    long GetMaximum() const { return usable_ ? static_cast<long>(maximum_) : -1; }
    long GetSteps() const { return usable_ ? static_cast<long>(steps_) : -1; }
    int GetChannelCount() const { return channels_; }
    // The current level of the first channel; -1 when not usable or the server does not answer.
    long GetLevel() const;
    // Sets every channel, when usable and minimum <= level <= maximum; else does nothing.
    void SetLevel(long level);

    void SetObserver(Observer observer, void* user);
    // The window procedure's part: true when the message was the master volume's.
    bool HandleMessage(const Message& message);

private:
    void Close();

    bool opened_ = false;
    bool usable_ = false;
    std::string sinkName_;
    uint32_t sinkIndex_ = 0;
    int channels_ = 0;
    uint32_t minimum_ = 0, maximum_ = 0, steps_ = 0;
    HWND window_ = nullptr;
    std::unique_ptr<audio::ChangePoster> changes_;
    Observer observer_ = nullptr;
    void* user_ = nullptr;
};

}  // namespace quil::mixer
