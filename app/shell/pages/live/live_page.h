#pragma once

// Page 0 of the main window: records one input line of a sound card into a new file, lists the
// recordings made since the program started and plays them back. The device, line and level
// come from the mixer; a level is applied through a short-lived live grabber. The scheduler
// starts and stops recordings through StartGrab and StopGrab, with no user at the window.

#include <QString>
#include <QTimer>

#include <cstdint>
#include <string>

#include "app/shell/page.h"
#include "app/shell/pages/live/recordings_model.h"

class FileAudioGrabber;
class LiveAudioGrabber;
class QCheckBox;
class QComboBox;
class QLabel;
class QTreeView;

namespace quil::controls {
class BitmapSlider;
}

namespace quil::shell {

class LevelMeter;

class LivePage final : public Page {
    Q_OBJECT

public:
    // The settings values of the chosen device and line.
    static constexpr char kDeviceValue[] = "Audio Device";
    static constexpr char kLineValue[] = "Record Line";
    // wParam of the level slider's messages.
    static constexpr WPARAM kLevelSliderId = 1101;

    explicit LivePage(PageHost& host, QWidget* parent = nullptr);
    ~LivePage() override;

    int StartGrab() override;
    int PauseGrab() override;
    int StopGrab() override;
    int Play() override;
    int PausePlayback() override;
    int StopPlayback() override;
    int Previous() override;
    int Next() override;
    void ShowVideo(bool) override {}

    // For tests and the scheduler.
    int Activity() const { return activity_; }
    bool Recording() const { return recorder_ != nullptr; }
    bool NoDevice() const { return noDevice_; }
    const QString& RecordingPath() const { return recordingPath_; }
    const QString& PlayingPath() const { return playingPath_; }
    RecordingsModel& Recordings() { return model_; }
    LiveAudioGrabber* Recorder() const { return recorder_; }
    const LevelMeter* Meter() const { return meter_; }

protected:
    LRESULT OnMessage(const Message& message) override;

private:
    void BuildControls();
    void FillDevices();
    void DeviceChange();
    void LineChange();
    // Reads the line's volume into the slider; false when the line has no usable range.
    bool ReadLineVolume();
    void ApplyLevel(double level);
    void SliderMoved(int position);
    void MuteClicked(bool checked);
    std::string DeviceName() const;
    std::string LineName() const;

    void ReleaseRecorder();
    void RecordProgress();
    void RecorderEvents();
    // A notice that the recording ended on its own, for `cause`; before the recording is closed.
    void NotifyCutShort(const QString& cause);
    void SampleLevel();
    int PlayRow(int row);
    void ReleasePlayer();
    void PlayProgress();
    void PlayerEvents();
    int MoveBy(int step);
    void SaveChoice();

    RecordingsModel model_;
    QComboBox* devices_ = nullptr;
    QComboBox* lines_ = nullptr;
    controls::BitmapSlider* level_ = nullptr;
    LevelMeter* meter_ = nullptr;
    QCheckBox* mute_ = nullptr;
    QTreeView* list_ = nullptr;
    // In the list's place on a computer without recording devices.
    QLabel* noDeviceNote_ = nullptr;
    QTimer recordTimer_;  // 5146
    QTimer playTimer_;    // 5147
    QTimer meterTimer_;

    int activity_ = -1;
    LiveAudioGrabber* recorder_ = nullptr;
    FileAudioGrabber* player_ = nullptr;
    QString recordingPath_;
    QString playingPath_;
    int elapsed_ = 0;
    double playDuration_ = 0;
    bool noDevice_ = false;
    bool levelRange_ = false;  // the line has a volume with maximum above minimum
    std::string savedDevice_;
    std::string savedLine_;
};

}  // namespace quil::shell
