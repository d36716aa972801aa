#include "app/shell/pages/media/media_page.h"

#include <utility>

#include "app/settings/grabber_handover.h"
#include "app/settings/output_file.h"
#include "app/settings/output_naming.h"
#include "app/shell/messages.h"
#include "app/shell/pages/player/file_list_view.h"
#include "app/shell/pages/player/media_texts.h"
#include "app/shell/string_table.h"
#include "app/shell/unseen_notice.h"
#include "engine/core/grabber_types.h"
#include "engine/media/file_audio_grabber.h"

namespace quil::shell {

namespace {

// Status 100 and duration 120 wide, size the rest: 80 + 250 + 100 + 120 taken from the width.
constexpr int kFillOffset = 550;
// The graph's error for a full disk (ERROR_DISK_FULL as an HRESULT).
constexpr int32_t kDiskFull = static_cast<int32_t>(0x80070070);

std::vector<FileColumnSpec> MediaColumns() {
    return {
        {FileColumn::Format, 122, 80, Qt::AlignLeft},
        {FileColumn::Name, 121, 250, Qt::AlignLeft},
        {FileColumn::Status, 125, 100, Qt::AlignHCenter},
        {FileColumn::Duration, 123, 120, Qt::AlignHCenter},
        {FileColumn::Size, 124, 0, Qt::AlignHCenter},
    };
}

QString Elapsed(double position, double duration) {
    return QString("%1 (%2)").arg(DurationText(position), DurationText(duration));
}

}  // namespace

MediaPage::MediaPage(PageHost& host, QWidget* parent)
    : MediaListPage(host, MediaColumns(), kFillOffset, parent) {
    grabTimer_.setInterval(kProgressPeriodMs);
    connect(&grabTimer_, &QTimer::timeout, this, &MediaPage::OnGrabTick);
}

MediaPage::~MediaPage() {
    StopPlayback();
    StopGrab();
}

bool MediaPage::InUse(const std::string& path) const {
    return path == playPath() || path == grabPath_;
}

bool MediaPage::Idle() const {
    return playPath().empty() && grabPath_.empty();
}

int MediaPage::StartGrab() {
    if (grabber_ && !grabPath_.empty() && grabber_->GetState() == engine::kPaused) {
        if (!grabber_->Run()) return 0;
        model()->SetStatus(model()->Find(grabPath_), LoadString(196));
        return 1;
    }
    if (model()->rowCount() == 0) return 0;
    // A playback and a grab never share the grabber.
    StopPlayback();
    view()->SelectRow(0);
    list_ = {};
    // A single file the user picked answers for itself, with its message; a list may run
    // unattended, so a file of it that cannot be grabbed is counted and the list goes on.
    if (model()->rowCount() == 1) {
        list_.running = GrabFile(model()->Row(0).path, 0, true) != 0;
        return list_.running ? 1 : 0;
    }
    list_.running = true;
    if (GrabListFrom(0)) return 1;
    FinishList({});
    return 0;
}

bool MediaPage::GrabListFrom(int row) {
    for (; row >= 0 && row < model()->rowCount(); ++row) {
        if (GrabFile(model()->Row(row).path, row, false)) return true;
        list_.failed << model()->Row(row).name;
    }
    return false;
}

int MediaPage::Play() {
    if (!grabPath_.empty()) return 0;
    return MediaListPage::Play();
}

int MediaPage::GrabFile(const std::string& path, int row, bool single) {
    int format = host().CurrentOutputFormat();
    settings::OutputPath output = settings::BuildOutputPath(format);
    if (output.path.empty()) return 0;
    EndGrabber();
    grabber_ = CreateFileGrabber();
    // The name was taken by creating the file: a grab that never starts leaves nothing behind.
    auto fail = [&] {
        grabber_.reset();
        settings::CheckFinishedOutput(output.path);
        return 0;
    };
    if (!grabber_) return fail();
    settings::HandOverOptions(*grabber_, format, host().WmaProfiles());
    if (!grabber_->Open(0, 0, format, path.c_str(), output.path.c_str(), 0, 0)) return fail();
    int hasAudio = 0;
    grabber_->GetStreamPresence(&hasAudio, nullptr, nullptr, nullptr);
    if (!hasAudio) {
        if (single) services().messages->ShowString(this, 206);
        return fail();
    }
    grabber_->SetNotifyWindow(Handle(), MSG_GRAB_EVENT);
    if (!grabber_->Run()) return fail();
    grabPath_ = path;
    duration_ = 0;
    grabber_->GetDuration(&duration_);
    int shown = model()->Find(path);
    if (shown < 0) shown = row;
    model()->SetStatus(shown, LoadString(196));
    model()->SetDuration(shown, Elapsed(0, duration_));
    model()->Mark(shown);
    PostToMain(MSG_STARTED);
    grabTimer_.start();
    PCMWAVEFORMAT source{};
    if (grabber_->GetSourceFormat(&source) && source.nSamplesPerSec > 0)
        host().SetFormatText(FormatText(source));
    host().SetPathText(DisplayPath(output.path));
    return 1;
}

int MediaPage::PauseGrab() {
    if (!grabber_ || grabPath_.empty() || !grabber_->Pause()) return 0;
    model()->SetStatus(model()->Find(grabPath_), LoadString(146));
    return 1;
}

int MediaPage::StopGrab() {
    // Stopped by the user, who needs no notice of it.
    list_.running = false;
    return EndFileGrab();
}

int MediaPage::EndFileGrab() {
    if (!grabber_ || grabPath_.empty()) return 0;
    grabTimer_.stop();
    EndGrabber();
    int row = model()->Find(grabPath_);
    model()->SetStatus(row, LoadString(136));
    model()->SetDuration(row, DurationText(duration_));
    model()->Mark(-1);
    duration_ = 0;
    grabPath_.clear();
    host().SetFormatText(QString());
    host().SetPathText(QString());
    PostToMain(MSG_STOPPED_PLAYER);
    return 1;
}

void MediaPage::ShowGrabbing(int row, double position) {
    model()->SetStatus(row, LoadString(196));
    model()->SetDuration(row, Elapsed(position, duration_));
}

void MediaPage::ShowRunning(int row, double position) {
    model()->SetStatus(row, LoadString(133));
    model()->SetDuration(row, Elapsed(position, duration_));
}

void MediaPage::ShowStopped(int row) {
    model()->SetStatus(row, LoadString(136));
    model()->SetDuration(row, DurationText(duration_));
}

void MediaPage::ShowResumed(int row) {
    model()->SetStatus(row, LoadString(133));
}

void MediaPage::OnGrabTick() {
    if (!grabber_ || grabPath_.empty() || grabber_->GetState() != engine::kRunning) return;
    double position = 0;
    grabber_->GetPosition(&position);
    ShowGrabbing(model()->Find(grabPath_), position);
    PostProgress(position);
}

void MediaPage::HandleGrabEvents() {
    long code = 0, param1 = 0, param2 = 0;
    while (grabber_ && !grabPath_.empty() && grabber_->GetEvent(&code, &param1, &param2)) {
        if (code == 1) {
            // The next row is found by the finished file's path, so rows added or removed
            // meanwhile count.
            int row = model()->Find(grabPath_);
            int next = row >= 0 && row + 1 < model()->rowCount() ? row + 1 : -1;
            ++list_.grabbed;
            EndFileGrab();
            // A file that cannot be grabbed is reported at the end and does not stop the rest.
            if (next < 0 || !GrabListFrom(next)) FinishList({});
            return;
        }
        if (code == 3) {
            bool diskFull = static_cast<int32_t>(param1) == kDiskFull;
            const int row = model()->Find(grabPath_);
            if (row >= 0) list_.failed << model()->Row(row).name;
            EndFileGrab();
            FinishList(diskFull ? tr("The disk is full.") : tr("An error stopped the grab."));
            services().messages->ShowString(this, diskFull ? 131 : 132);
            return;
        }
        grabber_->FreeEventParams(code, param1, param2);
    }
}

void MediaPage::FinishList(const QString& problem) {
    if (!std::exchange(list_.running, false)) return;
    QString body = CountText(list_.grabbed, tr("file"), tr("files")) + tr(" grabbed");
    if (!list_.failed.isEmpty())
        body += tr(", %1 failed: %2").arg(list_.failed.size()).arg(list_.failed.join(", "));
    body += '.';
    if (!problem.isEmpty()) body += ' ' + problem;
    NotifyUnseen(this, services(),
                 problem.isEmpty() ? tr("Media file list finished") : tr("Media file list stopped"),
                 body);
}

LRESULT MediaPage::OnMessage(const Message& message) {
    if (message.message == MSG_GRAB_EVENT) {
        HandleGrabEvents();
        return 0;
    }
    return MediaListPage::OnMessage(message);
}

}  // namespace quil::shell
