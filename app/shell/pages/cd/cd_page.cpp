#include "app/shell/pages/cd/cd_page.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>

#include "app/controls/elided_combo_box.h"
#include "app/settings/grabber_handover.h"
#include "app/settings/output_naming.h"
#include "app/shell/messages.h"
#include "app/shell/pages/cd/drive_probe.h"
#include "app/shell/pages/cd/progress_delegate.h"
#include "app/shell/string_table.h"
#include "app/shell/unseen_notice.h"
#include "engine/cd/cd_audio_grabber.h"

namespace quil::shell {

namespace {

constexpr int kGrabTimer = 3139;
constexpr int kGrabPeriodMs = 500;
constexpr int kPlayTimer = 3134;
constexpr int kPlayPeriodMs = 1000;
// Worker results, posted to the page itself.
constexpr UINT kDrivesScanned = 0x8401;
constexpr UINT kDiscChecked = 0x8402;
constexpr int32_t kDiskFull = static_cast<int32_t>(0x80070070);

constexpr int kStopped = 136;
constexpr int kGrabPaused = 146;
constexpr int kPlayPaused = 137;
constexpr int kComplete = 153;
constexpr int kPlaying = 133;

constexpr char kDvdMovieText[] =
    "  It's a DVD movie disk, Please insert a audio CD/DVD disk. if \nyou want to rip the audio "
    "from this disk, please select Ripper audio from DVD movie";
constexpr char kUnsupportedText[] = "Unsupport disk type, Please insert a audio CD/DVD disk";

QString PlayingText(const QString& elapsed) {
    return QStringLiteral("%1 %2").arg(LoadString(kPlaying), elapsed);
}

QString Duration(int seconds) {
    return QString::fromStdString(settings::FormatDuration(seconds));
}

}  // namespace

CdPage::CdPage(PageHost& host, QWidget* parent) : Page(host, parent) {
    BuildControls();
    grabTimer_.setInterval(kGrabPeriodMs);
    grabTimer_.setObjectName(QString::number(kGrabTimer));
    connect(&grabTimer_, &QTimer::timeout, this, &CdPage::GrabProgress);
    playTimer_.setInterval(kPlayPeriodMs);
    playTimer_.setObjectName(QString::number(kPlayTimer));
    connect(&playTimer_, &QTimer::timeout, this, &CdPage::PlayProgress);

    CreateGrabber();
    if (!grabber_) {
        EnableDriveControls(false);
        services().messages->ShowString(this, 199);
        return;
    }
    StartDriveScan();
}

CdPage::~CdPage() {
    grabTimer_.stop();
    playTimer_.stop();
    if (grabber_ && doorLocked_) grabber_->LockDoor(0);
    ReleaseGrabber();
}

void CdPage::BuildControls() {
    auto* label = new QLabel(QStringLiteral("Insert Audio CD"), this);
    drives_ = new controls::ElidedComboBox(this);
    drives_->setObjectName("drives");
    drives_->setAccessibleName(QStringLiteral("Insert Audio CD"));
    drives_->setMinimumContentsLength(28);
    label->setBuddy(drives_);
    rescan_ = new QPushButton(QStringLiteral("Rescan"), this);
    rescan_->setObjectName("rescan");
    rescan_->setAccessibleName(rescan_->text());
    eject_ = new QPushButton(QStringLiteral("Eject CD"), this);
    eject_->setObjectName("eject");
    eject_->setAccessibleName(eject_->text());

    list_ = new QTreeView(this);
    list_->setObjectName("tracks");
    list_->setAccessibleName(QStringLiteral("Tracks"));
    list_->setModel(&model_);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setItemDelegateForColumn(TrackListModel::kStatus,
                                    new ProgressDelegate(TrackListModel::kProgressRole, list_));
    list_->header()->setSectionsClickable(true);
    list_->header()->setDefaultAlignment(Qt::AlignCenter);
    // Track, duration and status keep their widths; the sector columns share the rest.
    const int widths[] = {100, 100, 120};
    for (int column = 0; column < 3; ++column) list_->setColumnWidth(column, widths[column]);
    list_->header()->setSectionResizeMode(TrackListModel::kStartSector, QHeaderView::Stretch);
    list_->header()->setSectionResizeMode(TrackListModel::kEndSector, QHeaderView::Stretch);

    listMessage_ = new QLabel(list_->viewport());
    listMessage_->setObjectName("listMessage");
    listMessage_->setAlignment(Qt::AlignCenter);
    listMessage_->setWordWrap(true);
    listMessage_->hide();
    auto* messageLayout = new QVBoxLayout(list_->viewport());
    messageLayout->addWidget(listMessage_);

    auto* top = new QHBoxLayout;
    top->addWidget(label);
    top->addWidget(drives_, 1);
    top->addWidget(rescan_);
    top->addWidget(eject_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(list_, 1);

    connect(drives_, &QComboBox::activated, this, [this] { DriveChange(); });
    connect(rescan_, &QPushButton::clicked, this, [this] { DriveChange(); });
    connect(eject_, &QPushButton::clicked, this, [this] { Eject(); });
    connect(list_->header(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (section == TrackListModel::kTrack) model_.SetAllChecked(!model_.AllChecked());
    });
    connect(list_, &QTreeView::doubleClicked, this, &CdPage::RowDoubleClicked);
}

void CdPage::CreateGrabber() {
    grabber_ = static_cast<CDAudioGrabber*>(CDAudioGrabberCreateInstance());
    if (grabber_ && !grabber_->CreateGraph()) ReleaseGrabber();
}

void CdPage::ReleaseGrabber() {
    if (!grabber_) return;
    grabber_->Stop();
    grabber_->ReleaseGraph();
    grabber_->Destroy();
    grabber_ = nullptr;
}

void CdPage::StartDriveScan() {
    drives_->clear();
    scanTicket_ = jobs_.Run([] { return std::any(ScanDrives()); }, Handle(), kDrivesScanned);
}

void CdPage::DrivesScanned(int ticket) {
    auto result = jobs_.Take(ticket);
    if (ticket != scanTicket_ || !result) return;
    scanTicket_ = 0;
    for (const DriveEntry& drive : std::any_cast<std::vector<DriveEntry>>(*result))
        drives_->addItem(QString::fromStdString(drive.text), drive.letterNumber);
    if (drives_->count() == 0) {
        SetListMessage(QStringLiteral("No CD or DVD drive was found."));
        return;
    }
    drives_->setCurrentIndex(0);
    DriveChange();
}

void CdPage::DriveChange() {
    model_.Clear();
    SetListMessage({});
    currentLetter_ = -1;
    if (drives_->currentIndex() < 0) return;
    int letterNumber = drives_->currentData().toInt();
    checkTicket_ = jobs_.Run([letterNumber] { return std::any(CheckDisc(letterNumber)); }, Handle(),
                             kDiscChecked);
}

void CdPage::DiscChecked(int ticket) {
    auto result = jobs_.Take(ticket);
    // A later selection or rescan superseded this check.
    if (ticket != checkTicket_ || !result) return;
    checkTicket_ = 0;
    const auto check = std::any_cast<DiscCheck>(*result);
    if (!check.opened) {
        SetListMessage(LoadString(147));
        return;
    }
    if (check.kind == sectorlink::DiscKind::AudioCd || check.kind == sectorlink::DiscKind::AudioDvd)
        LoadTracks('A' + drives_->currentData().toInt());
    else
        SetListMessage(DiscKindMessage(check.kind));
}

QString DiscKindMessage(sectorlink::DiscKind kind) {
    using sectorlink::DiscKind;
    switch (kind) {
        case DiscKind::NoDisk:
            return QStringLiteral("No Disk");
        case DiscKind::AudioCd:
        case DiscKind::AudioDvd:
            return {};
        case DiscKind::DataDvd:
            return QString::fromUtf8(kDvdMovieText);
        default:
            return QString::fromUtf8(kUnsupportedText);
    }
}

void CdPage::LoadTracks(int letter) {
    if (!grabber_) return;
    grabber_->Stop();
    grabber_->ClearOutput();
    int count = 0;
    // A disc that cannot be read now (still spinning up, or taken out since the check) says so
    // in the list; the grabber stays, so Rescan can try again.
    if (!grabber_->SetDrive(letter) || !grabber_->GetTrackCount(&count) || count <= 0) {
        SetListMessage(LoadString(147));
        return;
    }
    currentLetter_ = letter;
    for (int track = 1; track <= count; ++track) {
        int hours = 0, minutes = 0, seconds = 0, frames = 0, milliseconds = 0;
        int first = 0, length = 0;
        if (!grabber_->GetTrackInfo(track, &hours, &minutes, &seconds, &frames, &milliseconds,
                                    &first, &length))
            continue;
        TrackRow row;
        row.track = track;
        row.duration = Duration(hours * 3600 + minutes * 60 + seconds);
        row.status = LoadString(kStopped);
        row.firstSector = first;
        row.endSector = first + length;
        model_.Append(row);
    }
    if (model_.rowCount() > 0) list_->setCurrentIndex(model_.index(0, 0));
}

QString CdPage::ListMessage() const {
    return listMessage_->text();
}

void CdPage::SetListMessage(const QString& text) {
    listMessage_->setText(text);
    listMessage_->setAccessibleName(text);
    listMessage_->setVisible(!text.isEmpty());
}

void CdPage::EnableDriveControls(bool enable) {
    drives_->setEnabled(enable);
    rescan_->setEnabled(enable);
    eject_->setEnabled(enable);
}

void CdPage::Eject() {
    if (!grabber_) return;
    doorOpen_ = !doorOpen_;
    grabber_->MoveDoor(doorOpen_ ? 1 : 0);
    DriveChange();
}

int CdPage::StartGrab() {
    if (!grabber_) return 0;
    if (grabRow_ >= 0 && grabber_->GetState() == 2) {
        if (!grabber_->Run()) return 0;
        model_.SetStatus(grabRow_, QString());
        model_.SetProgress(grabRow_, pausedPercent_);
        grabTimer_.start();
        return 1;
    }
    // The grabber plays and rips through one graph: a playback ends before a rip begins.
    if (playRow_ >= 0) StopPlayback();
    grabRow_ = -1;
    batchRows_.clear();
    batchRipped_ = 0;
    int row = model_.NextChecked(0);
    if (row < 0 || !RipRow(row)) return 0;
    EnableDriveControls(false);
    return 1;
}

bool CdPage::RipRow(int row) {
    const int format = host().CurrentOutputFormat();
    settings::OutputPath output = settings::BuildOutputPath(format);
    if (output.path.empty()) {
        services().messages->ShowString(this, 130);
        return false;
    }
    if (!grabber_->LockDoor(1)) {
        grabber_->Stop();
        grabber_->ClearOutput();
        return false;
    }
    doorLocked_ = true;
    grabber_->Stop();
    grabber_->ClearOutput();
    settings::HandOverOptions(*grabber_, format, host().WmaProfiles());
    int sectorsPerRead = 0;
    grabber_->GetReadCapability(&sectorsPerRead);
    grabber_->SetSectorsPerRead(sectorsPerRead);
    grabber_->SetNotifyWindow(Handle(), MSG_CD_GRAB_EVENT);
    if (!grabber_->SetCurrentTrack(model_.Row(row).track) ||
        !grabber_->SetOutputFile(output.path.c_str()) || !grabber_->BuildOutput(1, 0, format) ||
        !grabber_->Run()) {
        grabber_->Stop();
        grabber_->ClearOutput();
        // Nothing runs, so nothing may keep the tray shut.
        grabber_->LockDoor(0);
        doorLocked_ = false;
        return false;
    }
    char description[40] = {};
    if (grabber_->GetFormatDescription(description))
        host().SetFormatText(QStringLiteral("%1kHz %2Bits %3")
                                 .arg(QString::fromUtf8(description),
                                      QString::fromUtf8(description + 10),
                                      QString::fromUtf8(description + 20)));
    host().SetPathText(QString::fromStdString(output.path));
    grabRow_ = row;
    model_.SetUnreadable(row, -1);
    model_.SetProgress(row, 0);
    batchRows_.push_back(row);
    grabTimer_.start();
    return true;
}

void CdPage::GrabEvents() {
    if (!grabber_) return;
    long code = 0, param1 = 0, param2 = 0;
    while (grabber_->GetEvent(&code, &param1, &param2)) {
        grabber_->FreeEventParams(code, param1, param2);
        if (code == 1) {
            const int done = grabRow_;
            if (done < 0) continue;
            int unreadable = 0;
            if (grabber_->GetUnreadableSectors(&unreadable)) model_.SetUnreadable(done, unreadable);
            model_.SetProgress(done, -1);
            model_.SetStatus(done, LoadString(kComplete));
            // The finished row keeps "Complete" whatever happens to the next one.
            grabRow_ = -1;
            ++batchRipped_;
            int next = model_.NextChecked(done + 1);
            if (next < 0) {
                FinishBatch({});
                StopGrab();
                return;
            }
            if (!RipRow(next)) {
                FinishBatch(tr("Track %1 could not be ripped.").arg(model_.Row(next).track));
                StopGrab();
                return;
            }
        } else if (code == 3) {
            FinishBatch(static_cast<int32_t>(param1) == kDiskFull
                            ? tr("The disk is full.")
                            : tr("An error stopped the rip."));
            StopGrab();
            services().messages->ShowString(this,
                                            static_cast<int32_t>(param1) == kDiskFull ? 131 : 132);
            return;
        }
    }
}

bool CdPage::Position(int row, double* seconds, unsigned* percent) {
    int first = 0, end = 0, current = 0;
    if (!grabber_->GetTrackRange(&first, &end) || !grabber_->GetCurrentSector(&current))
        return false;
    current = std::clamp(current, first, std::max(first, end));
    *seconds = 0;
    grabber_->SectorsToSeconds(current - first, seconds);
    int hours, minutes, secs, frames, milliseconds, firstSector, length;
    if (row < 0 || !grabber_->GetTrackInfo(model_.Row(row).track, &hours, &minutes, &secs, &frames,
                                           &milliseconds, &firstSector, &length))
        return false;
    *percent = first < end ? static_cast<unsigned>(current - first) * 100u /
                                 static_cast<unsigned>(end - first)
                           : 0u;
    return true;
}

void CdPage::GrabProgress() {
    if (!grabber_ || grabRow_ < 0 || grabber_->GetState() != 1) return;
    double seconds = 0;
    unsigned percent = 0;
    if (!Position(grabRow_, &seconds, &percent)) percent = 0;
    model_.SetProgress(grabRow_, static_cast<int>(percent));
}

int CdPage::PauseGrab() {
    if (!grabber_ || grabRow_ < 0) return 0;
    if (!grabber_->Pause()) return 0;
    grabTimer_.stop();
    pausedPercent_ = std::max(0, model_.Row(grabRow_).progress);
    model_.SetProgress(grabRow_, -1);
    model_.SetStatus(grabRow_, LoadString(kGrabPaused));
    return 1;
}

int CdPage::StopGrab() {
    if (!grabber_) return 0;
    grabTimer_.stop();
    grabber_->Stop();
    grabber_->ClearOutput();
    grabber_->LockDoor(0);
    doorLocked_ = false;
    if (grabRow_ >= 0) {
        model_.SetProgress(grabRow_, -1);
        model_.SetStatus(grabRow_, LoadString(kStopped));
    }
    grabRow_ = -1;
    PostToMain(MSG_STOPPED);
    EnableDriveControls(true);
    host().SetFormatText({});
    host().SetPathText({});
    ReportUnreadable();
    return 1;
}

void CdPage::FinishBatch(const QString& problem) {
    QString body = CountText(batchRipped_, tr("track"), tr("tracks")) + tr(" ripped.");
    if (!problem.isEmpty()) body += ' ' + problem;
    QStringList unreadable;
    for (int row : batchRows_) {
        if (row >= model_.rowCount() || model_.Row(row).unreadableSectors <= 0) continue;
        const TrackRow& track = model_.Row(row);
        unreadable << tr("track %1: %2")
                          .arg(track.track)
                          .arg(CountText(track.unreadableSectors, tr("sector"), tr("sectors")));
    }
    if (!unreadable.isEmpty())
        body += ' ' + tr("Unreadable sectors, written as silence: %1.").arg(unreadable.join(", "));
    NotifyUnseen(this, services(), problem.isEmpty() ? tr("CD rip finished") : tr("CD rip stopped"),
                 body);
}

void CdPage::ReportUnreadable() {
    QStringList tracks;
    for (int row : batchRows_) {
        if (row >= model_.rowCount()) continue;
        const TrackRow& track = model_.Row(row);
        if (track.unreadableSectors > 0)
            tracks << QStringLiteral("Track %1: %2 sectors")
                          .arg(track.track)
                          .arg(track.unreadableSectors);
    }
    batchRows_.clear();
    if (tracks.isEmpty()) return;
    services().messages->Warn(
        this, QStringLiteral("Some sectors could not be read and were written as silence. The "
                             "disc may be dirty or scratched.\n\n") +
                  tracks.join('\n'));
}

int CdPage::Play() {
    if (!grabber_) return 0;
    if (playRow_ >= 0 && grabber_->GetState() == 2) {
        if (!grabber_->Run()) {
            services().messages->ShowString(this, 198);
            StopPlayback();
            return 1;
        }
        model_.SetStatus(playRow_, PlayingText(Duration(0)));
        playTimer_.start();
        PlayProgress();
        return 1;
    }
    if (grabRow_ >= 0) return 0;
    QModelIndexList selected = list_->selectionModel()->selectedRows();
    if (selected.isEmpty()) return 0;
    return PlayTrackRow(selected.first().row());
}

int CdPage::PlayTrackRow(int row) {
    grabber_->Stop();
    grabber_->ClearOutput();
    if (!grabber_->BuildOutput(0, 1, 0) || !grabber_->SetCurrentTrack(model_.Row(row).track) ||
        !grabber_->SetNotifyWindow(Handle(), MSG_CD_PLAY_EVENT) || !grabber_->Run()) {
        grabber_->Stop();
        grabber_->ClearOutput();
        return 0;
    }
    char description[40] = {};
    if (grabber_->GetFormatDescription(description))
        host().SetFormatText(QStringLiteral("%1kHz %2Bits %3")
                                 .arg(QString::fromUtf8(description),
                                      QString::fromUtf8(description + 10),
                                      QString::fromUtf8(description + 20)));
    playRow_ = row;
    playTimer_.start();
    model_.SetStatus(row, PlayingText(Duration(0)));
    model_.SetHighlighted(row);
    PostToMain(MSG_STARTED);
    EnableDriveControls(false);
    return 1;
}

void CdPage::PlayProgress() {
    if (!grabber_ || playRow_ < 0 || grabber_->GetState() != 1) return;
    double seconds = 0;
    unsigned percent = 0;
    if (Position(playRow_, &seconds, &percent)) PostToMain(MSG_PROGRESS, 100, percent);
    model_.SetStatus(playRow_, PlayingText(Duration(static_cast<int>(seconds))));
}

int CdPage::PausePlayback() {
    if (!grabber_ || playRow_ < 0 || grabber_->GetState() != 1) return 0;
    if (!grabber_->Pause()) return 0;
    playTimer_.stop();
    model_.SetStatus(playRow_, LoadString(kPlayPaused));
    return 1;
}

int CdPage::StopPlayback() {
    if (!grabber_) return 0;
    playTimer_.stop();
    grabber_->Stop();
    grabber_->ClearOutput();
    model_.SetStatus(playRow_, LoadString(kStopped));
    playRow_ = -1;
    model_.SetHighlighted(-1);
    EnableDriveControls(true);
    PostToMain(MSG_STOPPED_PLAYER);
    host().SetFormatText({});
    return 1;
}

int CdPage::Previous() {
    if (!grabber_ || playRow_ < 0 || grabber_->GetState() != 1) return 0;
    if (playRow_ - 1 < 0) return 0;
    return MoveTo(playRow_ - 1);
}

int CdPage::Next() {
    if (!grabber_ || playRow_ < 0 || grabber_->GetState() != 1) return 0;
    if (playRow_ + 1 >= model_.rowCount()) return 0;
    return MoveTo(playRow_ + 1);
}

int CdPage::MoveTo(int row) {
    grabber_->Stop();
    model_.SetStatus(playRow_, LoadString(kStopped));
    if (!grabber_->SetCurrentTrack(model_.Row(row).track) || !grabber_->Run()) {
        StopPlayback();
        services().messages->ShowString(this, 198);
        return 0;
    }
    playRow_ = row;
    model_.SetStatus(row, PlayingText(Duration(0)));
    model_.SetHighlighted(row);
    return 1;
}

void CdPage::PlayEvents() {
    if (!grabber_) return;
    long code = 0, param1 = 0, param2 = 0;
    while (grabber_->GetEvent(&code, &param1, &param2)) {
        grabber_->FreeEventParams(code, param1, param2);
        if (playRow_ < 0) continue;
        if (code == 1) {
            grabber_->Stop();
            model_.SetStatus(playRow_, LoadString(kStopped));
            if (playRow_ + 1 >= model_.rowCount()) {
                StopPlayback();
                return;
            }
            if (!MoveTo(playRow_ + 1)) return;
        } else if (code == 3) {
            StopPlayback();
            services().messages->ShowString(this, 198);
            return;
        }
    }
}

void CdPage::Seek(int percent) {
    if (!grabber_ || grabber_->GetState() != 1) return;
    int first = 0, end = 0;
    if (!grabber_->GetTrackRange(&first, &end)) return;
    percent = std::clamp(percent, 0, 100);
    grabber_->SetCurrentSector(first + (end - first) * percent / 100);
}

void CdPage::RowDoubleClicked(const QModelIndex& index) {
    if (!index.isValid() || !grabber_ || grabRow_ >= 0) return;
    StopPlayback();
    list_->setCurrentIndex(model_.index(index.row(), 0));
    if (!Play()) services().messages->ShowString(this, 198);
}

LRESULT CdPage::OnMessage(const Message& message) {
    switch (message.message) {
        case MSG_CD_GRAB_EVENT:
            GrabEvents();
            break;
        case MSG_CD_PLAY_EVENT:
            PlayEvents();
            break;
        case MSG_SEEK:
            Seek(static_cast<int>(message.wParam));
            break;
        case kDrivesScanned:
            DrivesScanned(static_cast<int>(message.wParam));
            break;
        case kDiscChecked:
            DiscChecked(static_cast<int>(message.wParam));
            break;
    }
    return 0;
}

}  // namespace quil::shell
