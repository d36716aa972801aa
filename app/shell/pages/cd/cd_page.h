#pragma once

// Page 2 of the main window: lists the optical drives (and disc images), tells what disc is in
// the chosen one, rips the checked tracks one after another and plays single tracks, all through
// one CD grabber the page keeps for its life. Drive scans and disc checks run on a worker so a
// slow drive never freezes the window.

#include <QTimer>

#include <vector>

#include "app/shell/page.h"
#include "app/shell/pages/cd/background_jobs.h"
#include "app/shell/pages/cd/track_list_model.h"
#include "platform/sectorlink/sectorlink.h"

class CDAudioGrabber;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeView;

namespace quil::shell {

// The track list's message for a disc of that kind; empty for the kinds whose tracks are listed.
QString DiscKindMessage(sectorlink::DiscKind kind);

class CdPage final : public Page {
    Q_OBJECT

public:
    explicit CdPage(PageHost& host, QWidget* parent = nullptr);
    ~CdPage() override;

    int StartGrab() override;
    int PauseGrab() override;
    int StopGrab() override;
    int Play() override;
    int PausePlayback() override;
    int StopPlayback() override;
    int Previous() override;
    int Next() override;
    void ShowVideo(bool) override {}

    // For tests and the window: a drive scan or disc check is still on its way.
    bool Busy() const { return scanTicket_ != 0 || checkTicket_ != 0; }
    bool HasGrabber() const { return grabber_ != nullptr; }
    bool DoorLocked() const { return doorLocked_; }
    int GrabRow() const { return grabRow_; }
    int PlayRow() const { return playRow_; }
    QString ListMessage() const;
    TrackListModel& Tracks() { return model_; }
    CDAudioGrabber* Grabber() const { return grabber_; }

protected:
    LRESULT OnMessage(const Message& message) override;

private:
    void BuildControls();
    void CreateGrabber();
    void ReleaseGrabber();
    void StartDriveScan();
    void DrivesScanned(int ticket);
    void DriveChange();
    void DiscChecked(int ticket);
    void LoadTracks(int letter);
    void SetListMessage(const QString& text);
    void EnableDriveControls(bool enable);
    void Eject();

    bool RipRow(int row);
    void GrabEvents();
    void GrabProgress();
    void ReportUnreadable();
    // The batch ended on its own: a notice with the tracks ripped and any unreadable sectors.
    // `problem` says why it stopped early; empty when every checked track was ripped.
    void FinishBatch(const QString& problem);
    int PlayTrackRow(int row);
    void PlayEvents();
    void PlayProgress();
    int MoveTo(int row);
    void Seek(int percent);
    void RowDoubleClicked(const QModelIndex& index);
    // Elapsed seconds and percent of the running track; false when not running.
    bool Position(int row, double* seconds, unsigned* percent);

    CDAudioGrabber* grabber_ = nullptr;
    TrackListModel model_;
    QComboBox* drives_ = nullptr;
    QPushButton* rescan_ = nullptr;
    QPushButton* eject_ = nullptr;
    QTreeView* list_ = nullptr;
    QLabel* listMessage_ = nullptr;
    QTimer grabTimer_;  // 3139
    QTimer playTimer_;  // 3134

    int grabRow_ = -1;
    int pausedPercent_ = 0;
    int playRow_ = -1;
    bool doorOpen_ = false;
    bool doorLocked_ = false;
    int currentLetter_ = -1;
    std::vector<int> batchRows_;  // rows ripped in this batch, for the unreadable report
    int batchRipped_ = 0;         // of them, those complete

    BackgroundJobs jobs_;
    int scanTicket_ = 0;
    int checkTicket_ = 0;
};

}  // namespace quil::shell
