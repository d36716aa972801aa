#include "app/shell/pages/player/media_list_page.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <filesystem>
#include <unordered_set>

#include "app/settings/output_naming.h"
#include "app/shell/messages.h"
#include "app/shell/pages/player/file_list_view.h"
#include "app/shell/pages/player/media_texts.h"
#include "app/shell/pages/player/video_window.h"
#include "app/shell/string_table.h"
#include "engine/core/grabber_types.h"
#include "engine/media/file_audio_grabber.h"

namespace quil::shell {

namespace {

constexpr int kHeaderHeight = 35;

WPARAM WholeSeconds(double seconds) {
    return seconds > 0 ? static_cast<WPARAM>(std::trunc(seconds)) : 0;
}

}  // namespace

void GrabberRelease::operator()(FileAudioGrabber* grabber) const {
    grabber->ReleaseGraph();
    grabber->Destroy();
}

GrabberPtr CreateFileGrabber() {
    return GrabberPtr(static_cast<FileAudioGrabber*>(FileAudioGrabberCreateInstance()));
}

MediaListPage::MediaListPage(PageHost& host, std::vector<FileColumnSpec> columns, int fillOffset,
                             QWidget* parent)
    : Page(host, parent), model_(new FileListModel(std::move(columns), this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QWidget(this);
    bar->setFixedHeight(kHeaderHeight);
    buttons_ = new QHBoxLayout(bar);
    buttons_->setContentsMargins(6, 4, 6, 4);
    buttons_->setSpacing(4);
    layout->addWidget(bar);
    view_ = new FileListView(model_, fillOffset, this);
    view_->setAccessibleName(tr("File list"));
    layout->addWidget(view_, 1);

    connect(AddButton(tr("Add file"), 191), &QToolButton::clicked, this,
            &MediaListPage::ChooseFiles);
    connect(AddButton(tr("Delete file"), 192), &QToolButton::clicked, this,
            &MediaListPage::DeleteFile);
    connect(AddButton(tr("Delete all"), 57350), &QToolButton::clicked, this,
            &MediaListPage::DeleteAll);
    // Kept from the original layout; they have no action.
    AddButton(tr("Move up"), 194)->hide();
    AddButton(tr("Move down"), 193)->hide();
    buttons_->addStretch(1);

    // Queued, so no message box opens while the drag is still under way.
    connect(view_, &FileListView::FilesDropped, this, &MediaListPage::AddFiles,
            Qt::QueuedConnection);
    connect(view_, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) { OnDoubleClicked(index.row()); });
    playTimer_.setInterval(kProgressPeriodMs);
    connect(&playTimer_, &QTimer::timeout, this, &MediaListPage::OnPlayTick);
}

MediaListPage::~MediaListPage() {
    playTimer_.stop();
    EndGrabber();
}

QToolButton* MediaListPage::AddButton(const QString& caption, int tooltipId) {
    auto* button = new QToolButton(buttons_->parentWidget());
    button->setText(caption);
    button->setToolTip(LoadString(tooltipId));
    button->setAccessibleName(caption);
    button->setAccessibleDescription(LoadString(tooltipId));
    button->setAutoRaise(true);
    buttons_->addWidget(button);
    return button;
}

void MediaListPage::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect band(0, 0, width(), kHeaderHeight);
    painter.fillRect(band, palette().brush(QPalette::Button));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(band.bottomLeft(), band.bottomRight());
}

void MediaListPage::AddFiles(const QStringList& paths) {
    std::vector<std::string> bytes;
    for (const QString& path : paths) bytes.push_back(PathBytes(path));
    AddPaths(bytes);
}

void MediaListPage::AddPaths(const std::vector<std::string>& paths) {
    std::vector<FileRow> rows;
    std::unordered_set<std::string> added;
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) continue;
        if (model_->Contains(path) || added.count(path)) {
            services().messages->Show(this, LoadString(195), LoadString(57344), QMessageBox::Ok,
                                      QMessageBox::Warning);
            continue;
        }
        std::string name, extension;
        settings::SplitFileName(path, nullptr, &name, &extension);
        FileRow row;
        row.path = path;
        row.format = DisplayPath(extension.size() > 1 ? extension.substr(1) : std::string());
        row.name = DisplayPath(name);
        row.status = LoadString(136);
        auto bytes = std::filesystem::file_size(path, error);
        row.size = SizeText(error ? 0 : bytes);
        added.insert(path);
        rows.push_back(std::move(row));
    }
    model_->Append(std::move(rows));
    if (model_->rowCount() > 0) view_->SelectRow(0);
}

void MediaListPage::ChooseFiles() {
    QStringList chosen =
        services().files->OpenFiles(this, QString(), QString(), QtFileFilter(LoadString(138)));
    AddFiles(chosen);
}

void MediaListPage::DeleteFile() {
    QList<int> selected = view_->SelectedRows();
    if (selected.isEmpty()) return;
    int row = selected.front();
    if (!InUse(model_->Row(row).path)) model_->Remove(row);
    view_->SelectRow(row == model_->rowCount() ? 0 : row);
}

void MediaListPage::DeleteAll() {
    if (!Idle()) return;
    model_->Clear();
}

void MediaListPage::ShowPlayPaused(int row) {
    model_->SetStatus(row, LoadString(137));
}

int MediaListPage::Play() {
    if (!playPath_.empty() && grabber_ && grabber_->GetState() == engine::kPaused) {
        if (!grabber_->Run()) return 0;
        ShowResumed(model_->Find(playPath_));
        return 1;
    }
    QList<int> selected = view_->SelectedRows();
    if (selected.isEmpty()) return 0;
    int row = selected.back();
    return PlayFile(model_->Row(row).path, row);
}

int MediaListPage::PlayFile(const std::string& path, int row) {
    if (path.empty() || row < 0) return 0;
    if (grabber_) {
        // A playback still running ends quietly; the new one reports its own start.
        playTimer_.stop();
        if (!playPath_.empty()) ShowStopped(model_->Find(playPath_));
        playPath_.clear();
        model_->Mark(-1);
        EndGrabber();
    }
    grabber_ = CreateFileGrabber();
    if (!grabber_) return 0;
    if (!grabber_->Open(1, 0, engine::kWav, path.c_str(), nullptr, 0, 0)) {
        EndGrabber();
        return 0;
    }
    int hasAudio = 0, hasVideo = 0;
    grabber_->GetStreamPresence(&hasAudio, nullptr, &hasVideo, nullptr);
    if (hasVideo) OpenVideoWindow();
    grabber_->SetNotifyWindow(Handle(), MSG_PLAY_EVENT);
    if (!grabber_->Run()) {
        EndGrabber();
        return 0;
    }
    PCMWAVEFORMAT format{};
    if (grabber_->GetSourceFormat(&format) && format.nSamplesPerSec > 0)
        host().SetFormatText(FormatText(format));
    host().SetPathText(DisplayPath(path));
    duration_ = 0;
    grabber_->GetDuration(&duration_);
    playPath_ = path;
    ShowRunning(row, 0);
    model_->Mark(row);
    playTimer_.start();
    PostToMain(MSG_STARTED);
    return 1;
}

int MediaListPage::PausePlayback() {
    if (!grabber_ || playPath_.empty() || !grabber_->Pause()) return 0;
    ShowPlayPaused(model_->Find(playPath_));
    return 1;
}

int MediaListPage::StopPlayback() {
    if (!grabber_ || playPath_.empty()) return 0;
    CloseVideoWindow();
    playTimer_.stop();
    EndGrabber();
    ShowStopped(model_->Find(playPath_));
    duration_ = 0;
    playPath_.clear();
    model_->Mark(-1);
    PostToMain(MSG_STOPPED_PLAYER);
    host().SetFormatText(QString());
    host().SetPathText(QString());
    return 1;
}

int MediaListPage::Previous() {
    return PlayNeighbour(-1);
}

int MediaListPage::Next() {
    return PlayNeighbour(1);
}

int MediaListPage::PlayNeighbour(int step) {
    if (playPath_.empty()) return 0;
    int row = model_->Find(playPath_);
    int target = row + step;
    if (row < 0 || target < 0 || target >= model_->rowCount()) return 0;
    StopPlayback();
    if (PlayFile(model_->Row(target).path, target)) return 1;
    services().messages->ShowString(this, 178);
    return 0;
}

void MediaListPage::OnDoubleClicked(int row) {
    if (row < 0 || !MayPlayOnDoubleClick()) return;
    StopPlayback();
    QList<int> selected = view_->SelectedRows();
    int last = selected.isEmpty() ? -1 : selected.back();
    if (last < 0 || !PlayFile(model_->Row(last).path, last))
        services().messages->ShowString(this, 178);
}

void MediaListPage::ShowVideo(bool show) {
    if (!video_) return;
    if (show)
        video_->ShowWindow();
    else
        video_->HideWindow();
}

void MediaListPage::OpenVideoWindow() {
    CloseVideoWindow();
    if (!grabber_) return;
    video_ = std::make_unique<VideoWindow>(grabber_.get());
    video_->ShowWindow();
}

void MediaListPage::CloseVideoWindow() {
    video_.reset();
}

void MediaListPage::EndGrabber() {
    // The window stops drawing for the grabber before the grabber goes.
    CloseVideoWindow();
    if (!grabber_) return;
    grabber_->Stop();
    grabber_.reset();
}

void MediaListPage::OnPlayTick() {
    if (!grabber_ || playPath_.empty() || grabber_->GetState() != engine::kRunning) return;
    double position = 0;
    grabber_->GetPosition(&position);
    ShowRunning(model_->Find(playPath_), position);
    PostProgress(position);
}

void MediaListPage::PostProgress(double position) {
    PostToMain(MSG_PROGRESS, WholeSeconds(duration_), static_cast<LPARAM>(WholeSeconds(position)));
}

void MediaListPage::HandlePlayEvents() {
    long code = 0, param1 = 0, param2 = 0;
    // Events of a grabber that no longer plays (a grab took its place) are not ours.
    while (grabber_ && !playPath_.empty() && grabber_->GetEvent(&code, &param1, &param2)) {
        if (code == 1) {
            int row = model_->Find(playPath_);
            int next = row >= 0 && row + 1 < model_->rowCount() ? row + 1 : -1;
            StopPlayback();
            if (next >= 0) PlayFile(model_->Row(next).path, next);
            return;
        }
        if (code == 3) {
            StopPlayback();
            services().messages->ShowString(this, 178);
            return;
        }
        grabber_->FreeEventParams(code, param1, param2);
    }
}

void MediaListPage::SeekTo(WPARAM seconds) {
    if (!grabber_) return;
    double duration = 0;
    grabber_->GetDuration(&duration);
    if (seconds < WholeSeconds(duration)) grabber_->SetPosition(static_cast<double>(seconds));
}

LRESULT MediaListPage::OnMessage(const Message& message) {
    switch (message.message) {
        case MSG_PLAY_EVENT:
            HandlePlayEvents();
            return 0;
        case MSG_SEEK:
            SeekTo(message.wParam);
            return 0;
        default:
            return 0;
    }
}

}  // namespace quil::shell
