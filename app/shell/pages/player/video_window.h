#pragma once

// The video window of a playback: a frameless top-level window bound to one media file
// grabber. The grabber's video renderer hands frames to this window's video surface on a
// streaming thread; the newest frame is kept and painted on the UI thread, scaled to the
// client area. Dragging anywhere moves the window; the right button offers full screen and
// the zoom sizes. Used by the media file, network and player pages.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <memory>
#include <mutex>

#include "platform/window/video_surface.h"

class FileAudioGrabber;
class QMenu;

namespace quil::shell {

class QtWindowTarget;

class VideoWindow final : public QWidget, public VideoSurface {
    Q_OBJECT

public:
    enum ZoomState { kFullScreen = 0, kHalfSize = 1, kNormalSize = 2, kDoubleSize = 3 };
    // Menu commands of the right-button popup.
    enum Command { kFullScreenCommand, kHalfCommand, kNormalCommand, kDoubleCommand };

    // Becomes the grabber's video owner; the grabber must outlive the window (the page closes
    // the window before it destroys the grabber).
    explicit VideoWindow(FileAudioGrabber* grabber);
    ~VideoWindow() override;

    // Brings the window to the front and shows it.
    void ShowWindow();
    void HideWindow();

    ZoomState zoomState() const { return zoom_; }
    QSize videoSize() const { return {videoWidth_, videoHeight_}; }
    // The newest frame shown (null before the first).
    QImage LastFrame() const;
    int FramesShown() const { return framesShown_; }

    // What the popup's entries do.
    void RunCommand(Command command);
    // The popup of the right button, with the check mark on the current zoom.
    std::unique_ptr<QMenu> CreateMenu();

    void PresentFrame(const uint8_t* rgb32, int width, int height, int stride,
                      REFERENCE_TIME time) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Initialise();
    void Zoom(double factor, ZoomState state);
    void ToggleFullScreen();
    void TellVideoPosition();
    QRect ScreenArea() const;
    void ShowFrame();

    FileAudioGrabber* grabber_;
    QtWindowTarget* owner_;
    int videoWidth_ = 320, videoHeight_ = 240;
    ZoomState zoom_ = kNormalSize;
    ZoomState zoomBeforeFullScreen_ = kNormalSize;
    QRect savedGeometry_;
    bool dragging_ = false;
    QPoint dragOrigin_;
    bool initialised_ = false;

    mutable std::mutex frameLock_;
    QImage pending_;  // written on the streaming thread
    bool framePosted_ = false;
    QImage frame_;  // UI thread only
    int framesShown_ = 0;
};

}  // namespace quil::shell
