#pragma once

// The page interface: every page of the main window is a QWidget behind this class, and the
// main window knows pages only through it. Transport operations return 1 on success and 0 on
// failure, like the grabbers below them.

#include <QString>
#include <QWidget>

#include "app/shell/qt_window_target.h"
#include "app/shell/services.h"

namespace quil::settings {
class WmaProfileCatalogue;
}

namespace quil::shell {

// What a page may ask of the main window (same thread, no message).
class PageHost {
public:
    virtual ~PageHost() = default;
    // The audio format of the running item; empty clears it.
    virtual void SetFormatText(const QString& text) = 0;
    // The path line: "Output file path:  " followed by the text; empty clears it.
    virtual void SetPathText(const QString& text) = 0;
    // The checked format button as an OutputFormat code (0 WAV, 1 MP3, 2 WMA, 3 OGG).
    virtual int CurrentOutputFormat() const = 0;
    // Where pages post MSG_PROGRESS, MSG_STARTED, MSG_STOPPED, MSG_STOPPED_PLAYER and
    // MSG_LOCK_CONTROLS.
    virtual HWND MainWindowHandle() const = 0;
    virtual const Services& services() const = 0;
    virtual const settings::WmaProfileCatalogue& WmaProfiles() const = 0;
};

class Page : public QWidget {
    Q_OBJECT

public:
    Page(PageHost& host, QWidget* parent = nullptr);
    ~Page() override;

    virtual int StartGrab() = 0;
    virtual int PauseGrab() = 0;
    virtual int StopGrab() = 0;
    virtual int Play() = 0;
    virtual int PausePlayback() = 0;
    virtual int StopPlayback() = 0;
    virtual int Previous() = 0;
    virtual int Next() = 0;
    virtual void ShowVideo(bool show) = 0;
    // Called each time the page is selected (the player lists the output folder again).
    virtual void Refresh() {}

    // The handle grabbers and workers post to (SetNotifyWindow, MSG_SEEK, worker results).
    HWND Handle() const { return target_->handle(); }

protected:
    // Messages posted to Handle(), on the UI thread.
    virtual LRESULT OnMessage(const Message& message) = 0;

    PageHost& host() const { return host_; }
    const Services& services() const { return host_.services(); }
    // Posts one of the page-to-main messages.
    void PostToMain(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

private:
    PageHost& host_;
    QtWindowTarget* target_;
};

// A page that is not built yet: every operation fails.
class EmptyPage final : public Page {
    Q_OBJECT

public:
    using Page::Page;
    int StartGrab() override { return 0; }
    int PauseGrab() override { return 0; }
    int StopGrab() override { return 0; }
    int Play() override { return 0; }
    int PausePlayback() override { return 0; }
    int StopPlayback() override { return 0; }
    int Previous() override { return 0; }
    int Next() override { return 0; }
    void ShowVideo(bool) override {}

protected:
    LRESULT OnMessage(const Message&) override { return 0; }
};

}  // namespace quil::shell
