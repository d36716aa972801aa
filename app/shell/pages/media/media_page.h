#pragma once

// The media file page: grabs the audio of the listed files one after another, from the first
// row to the last, into files named by the output naming rules, and plays a chosen file.

#include <QStringList>

#include <string>

#include "app/shell/pages/player/media_list_page.h"

namespace quil::shell {

constexpr int kGrabProgressTimer = 3141;

class MediaPage final : public MediaListPage {
    Q_OBJECT

public:
    explicit MediaPage(PageHost& host, QWidget* parent = nullptr);
    ~MediaPage() override;

    int StartGrab() override;
    int PauseGrab() override;
    int StopGrab() override;
    // Fails while a grab runs: a playback never takes the grab's grabber.
    int Play() override;

    const std::string& grabPath() const { return grabPath_; }

protected:
    LRESULT OnMessage(const Message& message) override;
    void ShowRunning(int row, double position) override;
    void ShowStopped(int row) override;
    void ShowResumed(int row) override;
    bool InUse(const std::string& path) const override;
    bool Idle() const override;
    bool MayPlayOnDoubleClick() const override { return grabPath_.empty(); }

private:
    // `single`: the one file of the list, whose missing audio is told in a message box; in a
    // list it only counts as failed.
    int GrabFile(const std::string& path, int row, bool single);
    // Grabs the first file from `row` on that can be grabbed, counting those that cannot.
    bool GrabListFrom(int row);
    // Ends the file's grab; the list goes on or ends as the caller decides.
    int EndFileGrab();
    // The list ended on its own: a notice with what was grabbed and what failed. `problem` says
    // why it stopped early; empty when it reached its end.
    void FinishList(const QString& problem);
    void ShowGrabbing(int row, double position);
    void OnGrabTick();
    void HandleGrabEvents();

    std::string grabPath_;
    QTimer grabTimer_;
    // The list walk Record started.
    struct ListWalk {
        bool running = false;
        int grabbed = 0;
        QStringList failed;  // file names
    } list_;
};

}  // namespace quil::shell
