#pragma once

// What the media file page and the player page share: the file list with its buttons (add,
// delete, delete all, dropped files), and the playback of one file at a time through a media
// file grabber, with its video window, progress timer 5147 and the walk to the next row when a
// file ends. The pages differ in their columns and in how a row shows a playback.

#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

#include "app/shell/page.h"
#include "app/shell/pages/player/file_list_model.h"

class FileAudioGrabber;
class QHBoxLayout;
class QToolButton;

namespace quil::shell {

class FileListView;
class VideoWindow;

constexpr int kPlayProgressTimer = 5147;
constexpr int kProgressPeriodMs = 1000;

// Stops nothing: releases the graph and destroys the grabber, as only its own Destroy may.
struct GrabberRelease {
    void operator()(FileAudioGrabber* grabber) const;
};
using GrabberPtr = std::unique_ptr<FileAudioGrabber, GrabberRelease>;
GrabberPtr CreateFileGrabber();

class MediaListPage : public Page {
    Q_OBJECT

public:
    MediaListPage(PageHost& host, std::vector<FileColumnSpec> columns, int fillOffset,
                  QWidget* parent = nullptr);
    ~MediaListPage() override;

    int StartGrab() override { return 0; }
    int PauseGrab() override { return 0; }
    int StopGrab() override { return 0; }
    int Play() override;
    int PausePlayback() override;
    int StopPlayback() override;
    int Previous() override;
    int Next() override;
    void ShowVideo(bool show) override;

    // Adds files in this order as if chosen in the open-file dialog: a listed path shows
    // string 195 and is skipped; folders are skipped.
    void AddFiles(const QStringList& paths);
    // The same for paths as the file system has them (any bytes).
    void AddPaths(const std::vector<std::string>& paths);
    void ChooseFiles();
    void DeleteFile();
    void DeleteAll();

    FileListModel* model() const { return model_; }
    FileListView* view() const { return view_; }
    VideoWindow* videoWindow() const { return video_.get(); }
    const std::string& playPath() const { return playPath_; }

protected:
    LRESULT OnMessage(const Message& message) override;
    void paintEvent(QPaintEvent* event) override;

    // How a row shows the playback (and, on the media page, the grab) of its file.
    virtual void ShowRunning(int row, double position) = 0;
    virtual void ShowPlayPaused(int row);
    virtual void ShowStopped(int row) = 0;
    virtual void ShowResumed(int row) = 0;
    // A row whose file is in use stays when deleted, and Delete all waits for idle.
    virtual bool InUse(const std::string& path) const { return path == playPath_; }
    virtual bool Idle() const { return playPath_.empty(); }
    virtual bool MayPlayOnDoubleClick() const { return true; }

    int PlayFile(const std::string& path, int row);
    // Stop, ReleaseGraph and Destroy of the current grabber, if any.
    void EndGrabber();
    // Video window open for the current grabber (an open one is closed first), or closed.
    void OpenVideoWindow();
    void CloseVideoWindow();
    void HandlePlayEvents();
    void SeekTo(WPARAM seconds);
    // MSG_PROGRESS of the current item.
    void PostProgress(double position);

    QToolButton* AddButton(const QString& caption, int tooltipId);
    QHBoxLayout* buttons() const { return buttons_; }

    GrabberPtr grabber_;
    double duration_ = 0;

private:
    void OnPlayTick();
    void OnDoubleClicked(int row);
    int PlayNeighbour(int step);

    FileListModel* model_;
    FileListView* view_;
    QHBoxLayout* buttons_;
    std::unique_ptr<VideoWindow> video_;
    std::string playPath_;
    QTimer playTimer_;
};

}  // namespace quil::shell
