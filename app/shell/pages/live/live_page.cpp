#include "app/shell/pages/live/live_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

#include "app/controls/bitmap_slider.h"
#include "app/controls/elided_combo_box.h"
#include "app/controls/skin.h"
#include "app/mixer/mixer_control.h"
#include "app/settings/grabber_handover.h"
#include "app/settings/output_naming.h"
#include "app/settings/settings_key.h"
#include "app/shell/messages.h"
#include "app/shell/pages/live/level_meter.h"
#include "app/shell/string_table.h"
#include "app/shell/unseen_notice.h"
#include "engine/live/live_audio_grabber.h"
#include "engine/media/file_audio_grabber.h"

namespace quil::shell {

namespace {

constexpr int kRecordTimer = 5146;
constexpr int kPlayTimer = 5147;
constexpr int kProgressPeriodMs = 1000;
constexpr int kMeterPeriodMs = 100;
constexpr int32_t kDiskFull = static_cast<int32_t>(0x80070070);
constexpr long kDeviceLost = 31;

constexpr int kPlaying = 133;
constexpr int kRecording = 134;
constexpr int kRecordPaused = 135;
constexpr int kStopped = 136;
constexpr int kPlayPaused = 137;

QString Duration(double seconds) {
    return QString::fromStdString(settings::FormatDuration(static_cast<int>(seconds)));
}

QString FormatText(const PCMWAVEFORMAT& format) {
    return QString::asprintf(
        "%2.0fkHz %dBits %s", static_cast<double>(format.nSamplesPerSec / 1000),
        static_cast<int>(format.wBitsPerSample), format.nChannels > 1 ? "Stereo" : "Mono");
}

// The first entry that begins with `saved` (case-insensitive), else entry 0.
int PrefixMatch(const QComboBox* combo, const std::string& saved) {
    const QString prefix = QString::fromStdString(saved);
    for (int i = 0; i < combo->count(); ++i)
        if (combo->itemText(i).startsWith(prefix, Qt::CaseInsensitive)) return i;
    return combo->count() > 0 ? 0 : -1;
}

}  // namespace

LivePage::LivePage(PageHost& host, QWidget* parent) : Page(host, parent) {
    BuildControls();
    recordTimer_.setInterval(kProgressPeriodMs);
    recordTimer_.setObjectName(QString::number(kRecordTimer));
    connect(&recordTimer_, &QTimer::timeout, this, &LivePage::RecordProgress);
    playTimer_.setInterval(kProgressPeriodMs);
    playTimer_.setObjectName(QString::number(kPlayTimer));
    connect(&playTimer_, &QTimer::timeout, this, &LivePage::PlayProgress);
    meterTimer_.setInterval(kMeterPeriodMs);
    connect(&meterTimer_, &QTimer::timeout, this, &LivePage::SampleLevel);

    std::string first;
    if (!mixer::MixerControl::GetRecordDeviceName(0, &first)) {
        noDevice_ = true;
        list_->hide();
        noDeviceNote_->show();
        devices_->setEnabled(false);
        lines_->setEnabled(false);
        level_->Enable(false);
        mute_->setEnabled(false);
        PostToMain(MSG_LOCK_CONTROLS);
        return;
    }
    settings::SettingsKey key;
    if (!key.Open()) key.Create();
    savedDevice_ = key.ReadString(kDeviceValue, "");
    savedLine_ = key.ReadString(kLineValue, "");
    key.Close();
    FillDevices();
}

LivePage::~LivePage() {
    if (noDevice_) return;
    StopGrab();
    StopPlayback();
    SaveChoice();
}

void LivePage::BuildControls() {
    auto* deviceLabel = new QLabel(QStringLiteral("Input device"), this);
    devices_ = new controls::ElidedComboBox(this);
    devices_->setObjectName("devices");
    devices_->setAccessibleName(deviceLabel->text());
    devices_->setMinimumContentsLength(18);
    devices_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    deviceLabel->setBuddy(devices_);
    auto* lineLabel = new QLabel(QStringLiteral("Record from"), this);
    lines_ = new controls::ElidedComboBox(this);
    lines_->setObjectName("lines");
    lines_->setAccessibleName(lineLabel->text());
    lines_->setMinimumContentsLength(12);
    lines_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    lineLabel->setBuddy(lines_);
    auto* levelLabel = new QLabel(QStringLiteral("Record volume"), this);
    level_ = new controls::BitmapSlider(this);
    level_->setObjectName("level");
    level_->setAccessibleName(levelLabel->text());
    level_->setToolTip(levelLabel->text());
    level_->SetNotify(Handle(), kLevelSliderId);
    const qreal ratio = devicePixelRatioF();
    level_->SetChannel(controls::SliderChannel({120, 12}, ratio, false),
                       controls::SliderChannel({120, 12}, ratio, true), true);
    level_->SetThumb(controls::SliderThumb({8, 12}, ratio, false),
                     controls::SliderThumb({8, 12}, ratio, true), true);
    meter_ = new LevelMeter(this);
    meter_->setObjectName("meter");
    mute_ = new QCheckBox(QStringLiteral("Mute"), this);
    mute_->setObjectName("mute");
    mute_->setAccessibleName(mute_->text());

    list_ = new QTreeView(this);
    list_->setObjectName("recordings");
    list_->setAccessibleName(QStringLiteral("Recordings"));
    list_->setModel(&model_);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setIconSize({16, 16});
    const int widths[] = {80, 260, 110, 120};
    for (int column = 0; column < 4; ++column) list_->setColumnWidth(column, widths[column]);
    list_->header()->setStretchLastSection(true);

    auto* top = new QHBoxLayout;
    top->addWidget(deviceLabel);
    top->addWidget(devices_, 2);
    top->addSpacing(8);
    top->addWidget(lineLabel);
    top->addWidget(lines_, 1);
    top->addSpacing(8);
    top->addWidget(levelLabel);
    auto* levelColumn = new QVBoxLayout;
    levelColumn->setSpacing(2);
    levelColumn->addWidget(level_);
    levelColumn->addWidget(meter_);
    top->addLayout(levelColumn);
    top->addWidget(mute_);
    noDeviceNote_ = new QLabel(tr("No recording device was found."), this);
    noDeviceNote_->setObjectName("noDeviceNote");
    noDeviceNote_->setAlignment(Qt::AlignCenter);
    noDeviceNote_->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(list_, 1);
    // Takes the list's room when there is none, so the top row stays at the top.
    layout->addWidget(noDeviceNote_, 1);

    connect(devices_, &QComboBox::activated, this, [this] { DeviceChange(); });
    connect(lines_, &QComboBox::activated, this, [this] { LineChange(); });
    connect(mute_, &QCheckBox::clicked, this, &LivePage::MuteClicked);
}

std::string LivePage::DeviceName() const {
    return devices_->currentText().toStdString();
}

std::string LivePage::LineName() const {
    return lines_->currentText().toStdString();
}

void LivePage::FillDevices() {
    devices_->clear();
    std::string name;
    for (int index = 0; mixer::MixerControl::GetRecordDeviceName(index, &name); ++index)
        devices_->addItem(QString::fromStdString(name));
    devices_->setCurrentIndex(PrefixMatch(devices_, savedDevice_));
    DeviceChange();
}

void LivePage::DeviceChange() {
    const std::string device = DeviceName();
    lines_->clear();
    const int count = mixer::MixerControl::GetRecordLineCount(device);
    std::string name;
    for (int index = 0; index < count; ++index)
        if (mixer::MixerControl::GetRecordLineName(device, &name, index))
            lines_->addItem(QString::fromStdString(name));
    lines_->setCurrentIndex(PrefixMatch(lines_, savedLine_));
    LineChange();
}

bool LivePage::ReadLineVolume() {
    uint32_t minimum = 0, maximum = 0, steps = 0, level = 0;
    levelRange_ = mixer::MixerControl::GetRecordLineVolume(DeviceName(), LineName(), &minimum,
                                                           &maximum, &steps, &level) &&
                  maximum > minimum;
    if (levelRange_) {
        level_->SetRange(static_cast<int>(minimum), static_cast<int>(maximum));
        level_->SetPos(static_cast<int>(level));
    }
    return levelRange_;
}

void LivePage::LineChange() {
    // A line without a volume (or with an empty range) has no level to apply.
    if (!ReadLineVolume()) return;
    if (mute_->isChecked()) {
        ApplyLevel(0);
        return;
    }
    ApplyLevel(static_cast<double>(level_->GetPos() - level_->Minimum()) /
               (level_->Maximum() - level_->Minimum()));
}

void LivePage::ApplyLevel(double level) {
    auto* grabber = static_cast<LiveAudioGrabber*>(LiveAudioGrabberCreateInstance());
    if (!grabber) return;
    const std::string device = DeviceName();
    const std::string line = LineName();
    if (grabber->SelectDevice(device.c_str(), 0) && grabber->EnableInputLineByName(line.c_str(), 1))
        grabber->SetInputLevel(std::clamp(level, 0.0, 1.0));
    grabber->ReleaseGraph();
    grabber->Destroy();
}

void LivePage::SliderMoved(int position) {
    if (!levelRange_ || mute_->isChecked()) return;
    ApplyLevel(static_cast<double>(position - level_->Minimum()) /
               (level_->Maximum() - level_->Minimum()));
}

void LivePage::MuteClicked(bool checked) {
    level_->Enable(!checked);
    if (checked) {
        if (levelRange_) ApplyLevel(0);
        return;
    }
    ReadLineVolume();
}

void LivePage::ReleaseRecorder() {
    if (!recorder_) return;
    recorder_->Stop();
    recorder_->ReleaseGraph();
    recorder_->Destroy();
    recorder_ = nullptr;
}

int LivePage::StartGrab() {
    if (noDevice_) return 0;
    // A paused recording resumes in its own file, even after a playback changed the activity.
    if (recorder_ && recorder_->GetState() == 2) {
        if (!recorder_->Run()) {
            services().messages->ShowString(this, 174);
            StopGrab();
            return 0;
        }
        activity_ = 0;
        model_.SetStatus(model_.Find(recordingPath_), LoadString(kRecording));
        meterTimer_.start();
        return 1;
    }
    const int format = host().CurrentOutputFormat();
    settings::OutputPath output = settings::BuildOutputPath(format);
    if (output.path.empty()) {
        services().messages->ShowString(this, 130);
        return 0;
    }
    ReleaseRecorder();
    recorder_ = static_cast<LiveAudioGrabber*>(LiveAudioGrabberCreateInstance());
    if (!recorder_) {
        services().messages->ShowString(this, 174);
        return 0;
    }
    settings::HandOverOptions(*recorder_, format, host().WmaProfiles());
    const std::string device = DeviceName();
    const std::string line = LineName();
    bool started = false;
    if (!recorder_->SelectDevice(device.c_str(), 0)) {
        services().messages->Warn(
            this, QStringLiteral("%1 %2").arg(QString::fromStdString(device), LoadString(173)));
    } else if (!recorder_->EnableInputLineByName(line.c_str(), 1)) {
        services().messages->Warn(
            this, QStringLiteral("%1 %2").arg(QString::fromStdString(line), LoadString(173)));
    } else {
        started = recorder_->BuildGraph(format, output.path.c_str()) &&
                  recorder_->SetNotifyWindow(Handle(), MSG_LIVE_EVENT) && recorder_->Run();
    }
    if (!started) {
        services().messages->ShowString(this, 174);
        ReleaseRecorder();
        return 0;
    }
    activity_ = 0;
    elapsed_ = 0;
    recordingPath_ = QString::fromStdString(output.path);
    RecordingRow row{QString::fromStdString(output.extension),
                     QString::fromStdString(output.fileName),
                     LoadString(kRecording),
                     Duration(0),
                     QStringLiteral("0 kb"),
                     recordingPath_};
    int at = model_.Append(row);
    list_->setCurrentIndex(model_.index(at, 0));
    model_.SetHighlighted(at);
    PCMWAVEFORMAT captured{};
    if (recorder_->GetCaptureFormat(&captured)) host().SetFormatText(FormatText(captured));
    host().SetPathText(recordingPath_);
    recordTimer_.start();
    meterTimer_.start();
    devices_->setEnabled(false);
    return 1;
}

void LivePage::RecordProgress() {
    // Counts while the recorder runs, also while a listed recording is played meanwhile.
    if (!recorder_ || recorder_->GetState() != 1) return;
    ++elapsed_;
    int row = model_.Find(recordingPath_);
    model_.SetDuration(row, Duration(elapsed_));
    std::error_code error;
    auto bytes = std::filesystem::file_size(recordingPath_.toStdString(), error);
    if (!error)
        model_.SetSize(row, QString::fromStdString(settings::FormatByteSize(
                                static_cast<uint32_t>(std::min<uintmax_t>(bytes, UINT32_MAX)))));
}

void LivePage::SampleLevel() {
    if (!recorder_ || recorder_->GetState() != 1) {
        meter_->SetLevel(0);
        return;
    }
    int size = 0;
    if (!recorder_->GetSample(nullptr, &size, nullptr) || size <= 0) return;
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    PCMWAVEFORMAT format{};
    if (!recorder_->GetSample(buffer.data(), &size, &format)) return;
    meter_->SetLevel(PeakLevel(buffer.data(), size, format));
}

int LivePage::PauseGrab() {
    if (!recorder_ || recorder_->GetState() != 1) return 0;
    if (!recorder_->Pause()) return 0;
    activity_ = 2;
    model_.SetStatus(model_.Find(recordingPath_), LoadString(kRecordPaused));
    meterTimer_.stop();
    meter_->SetLevel(0);
    return 1;
}

int LivePage::StopGrab() {
    if (!recorder_) return 0;
    recordTimer_.stop();
    meterTimer_.stop();
    ReleaseRecorder();
    activity_ = 4;
    model_.SetStatus(model_.Find(recordingPath_), LoadString(kStopped));
    recordingPath_.clear();
    elapsed_ = 0;
    model_.SetHighlighted(-1);
    meter_->SetLevel(0);
    PostToMain(MSG_STOPPED);
    devices_->setEnabled(true);
    host().SetFormatText({});
    host().SetPathText({});
    return 1;
}

void LivePage::RecorderEvents() {
    long code = 0, param1 = 0, param2 = 0;
    while (recorder_ && recorder_->GetEvent(&code, &param1, &param2)) {
        recorder_->FreeEventParams(code, param1, param2);
        if (code == 1) {
            StopGrab();
            return;
        }
        if (code == kDeviceLost && param2 == 0) {
            const QString device = devices_->currentText();
            NotifyCutShort(tr("%1 was disconnected.").arg(device));
            StopGrab();
            services().messages->Warn(this, QStringLiteral("%1 %2").arg(device, LoadString(175)));
            return;
        }
        if (code == 3) {
            NotifyCutShort(static_cast<int32_t>(param1) == kDiskFull
                               ? tr("The disk is full.")
                               : tr("An error stopped the recording."));
            StopGrab();
            services().messages->ShowString(this,
                                            static_cast<int32_t>(param1) == kDiskFull ? 131 : 132);
            return;
        }
    }
}

void LivePage::NotifyCutShort(const QString& cause) {
    const QString name = QFileInfo(recordingPath_).fileName();
    NotifyUnseen(this, services(), tr("Recording stopped"),
                 cause + ' ' + tr("What was recorded until then is in %1.").arg(name));
}

int LivePage::Play() {
    if (activity_ == 3 && player_ && player_->GetState() == 2) {
        if (!player_->Run()) {
            services().messages->ShowString(this, 178);
            StopPlayback();
            return 0;
        }
        activity_ = 1;
        model_.SetStatus(model_.Find(playingPath_), LoadString(kPlaying));
        return 1;
    }
    QModelIndexList selected = list_->selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        services().messages->ShowString(this, 176);
        return 0;
    }
    const int row = selected.first().row();
    if (!recordingPath_.isEmpty() && model_.Row(row).path == recordingPath_) {
        services().messages->ShowString(this, 177);
        return 0;
    }
    if (!PlayRow(row)) {
        services().messages->ShowString(this, 178);
        return 0;
    }
    return 1;
}

void LivePage::ReleasePlayer() {
    if (!player_) return;
    player_->Stop();
    player_->ReleaseGraph();
    player_->Destroy();
    player_ = nullptr;
}

int LivePage::PlayRow(int row) {
    ReleasePlayer();
    player_ = static_cast<FileAudioGrabber*>(FileAudioGrabberCreateInstance());
    if (!player_) return 0;
    const QString path = model_.Row(row).path;
    const std::string source = path.toStdString();
    if (!player_->Open(1, 0, 0, source.c_str(), nullptr, 0, 0) ||
        !player_->SetNotifyWindow(Handle(), MSG_PLAY_EVENT) || !player_->Run()) {
        ReleasePlayer();
        return 0;
    }
    PCMWAVEFORMAT format{};
    if (player_->GetSourceFormat(&format)) host().SetFormatText(FormatText(format));
    host().SetPathText(path);
    playDuration_ = 0;
    player_->GetDuration(&playDuration_);
    model_.SetDuration(row, QStringLiteral("00:00:00(%1)").arg(Duration(playDuration_)));
    model_.SetStatus(row, LoadString(kPlaying));
    playingPath_ = path;
    activity_ = 1;
    model_.SetHighlighted(row);
    playTimer_.start();
    PostToMain(MSG_STARTED);
    return 1;
}

void LivePage::PlayProgress() {
    if (activity_ != 1 || !player_ || player_->GetState() != 1) return;
    double position = 0;
    player_->GetPosition(&position);
    model_.SetDuration(model_.Find(playingPath_),
                       QStringLiteral("%1(%2)").arg(Duration(position), Duration(playDuration_)));
    PostToMain(MSG_PROGRESS, static_cast<WPARAM>(playDuration_), static_cast<LPARAM>(position));
}

int LivePage::PausePlayback() {
    if (!player_ || player_->GetState() != 1) return 0;
    if (!player_->Pause()) return 0;
    activity_ = 3;
    model_.SetStatus(model_.Find(playingPath_), LoadString(kPlayPaused));
    return 1;
}

int LivePage::StopPlayback() {
    if (!player_) return 0;
    playTimer_.stop();
    ReleasePlayer();
    activity_ = 4;
    int row = model_.Find(playingPath_);
    model_.SetStatus(row, LoadString(kStopped));
    model_.SetDuration(row, Duration(playDuration_));
    playingPath_.clear();
    playDuration_ = 0;
    // A recording still running keeps its row highlighted.
    model_.SetHighlighted(model_.Find(recordingPath_));
    PostToMain(MSG_STOPPED_PLAYER);
    host().SetFormatText({});
    host().SetPathText(recordingPath_);
    return 1;
}

int LivePage::MoveBy(int step) {
    const int row = model_.Find(playingPath_);
    if (row < 0) return 0;
    const int target = row + step;
    if (target < 0 || target >= model_.rowCount()) return 0;
    if (!recordingPath_.isEmpty() && model_.Row(target).path == recordingPath_) {
        services().messages->ShowString(this, 177);
        return 0;
    }
    StopPlayback();
    if (!PlayRow(target)) {
        services().messages->ShowString(this, 178);
        return 0;
    }
    return 1;
}

int LivePage::Previous() {
    return MoveBy(-1);
}

int LivePage::Next() {
    return MoveBy(1);
}

void LivePage::PlayerEvents() {
    long code = 0, param1 = 0, param2 = 0;
    while (player_ && player_->GetEvent(&code, &param1, &param2)) {
        player_->FreeEventParams(code, param1, param2);
        if (code == 1) {
            StopPlayback();
            return;
        }
        if (code == 3) {
            StopPlayback();
            services().messages->ShowString(this, 178);
            return;
        }
    }
}

void LivePage::SaveChoice() {
    settings::SettingsKey key;
    if (!key.Create()) return;
    key.WriteString(kDeviceValue, DeviceName());
    key.WriteString(kLineValue, LineName());
}

LRESULT LivePage::OnMessage(const Message& message) {
    switch (message.message) {
        case MSG_LIVE_EVENT:
            RecorderEvents();
            break;
        case MSG_PLAY_EVENT:
            PlayerEvents();
            break;
        case MSG_SEEK:
            if (player_ && static_cast<double>(message.wParam) < static_cast<int>(playDuration_))
                player_->SetPosition(static_cast<double>(message.wParam));
            break;
        case MSG_SLIDER_MOVED:
            if (message.wParam == kLevelSliderId) SliderMoved(static_cast<int>(message.lParam));
            break;
        case MSG_SLIDER_RELEASED:
            if (message.wParam == kLevelSliderId) level_->update();
            break;
    }
    return 0;
}

}  // namespace quil::shell
