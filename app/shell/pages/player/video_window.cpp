#include "app/shell/pages/player/video_window.h"

#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <cmath>
#include <cstring>

#include "app/shell/qt_window_target.h"
#include "app/shell/string_table.h"
#include "engine/media/file_audio_grabber.h"

namespace quil::shell {

namespace {

constexpr int kMinimumSide = 10;
constexpr int kChildClippedStyle =
    0x40000000 /* WS_CHILD */ | 0x04000000 /* WS_CLIPSIBLINGS */ | 0x02000000 /* WS_CLIPCHILDREN */;

}  // namespace

VideoWindow::VideoWindow(FileAudioGrabber* grabber)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint),
      grabber_(grabber),
      owner_(new QtWindowTarget(this, [](const Message&) -> LRESULT { return 0; })) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setWindowTitle(LoadString(57344));
    setAccessibleName(LoadString(57344));
    setMinimumSize(kMinimumSide, kMinimumSide);
    Initialise();
}

VideoWindow::~VideoWindow() {
    // After this no streaming thread reaches the surface.
    UnregisterVideoSurface(owner_->handle());
    if (grabber_) grabber_->SetVideoOwner(nullptr);
}

void VideoWindow::Initialise() {
    hide();
    HWND handle = owner_->handle();
    RegisterVideoSurface(handle, this);
    if (grabber_) {
        grabber_->SetVideoOwner(handle);
        grabber_->SetVideoMessageDrain(handle);
        RECT client{0, 0, width(), height()};
        grabber_->SetVideoPosition(&client);
        grabber_->SetVideoWindowStyle(kChildClippedStyle);
        int w = 0, h = 0;
        if (grabber_->GetVideoSize(&w, &h) && w > 0 && h > 0) {
            videoWidth_ = w;
            videoHeight_ = h;
        }
    }
    initialised_ = true;
    QRect area = ScreenArea();
    QRect placed(0, 0, videoWidth_, videoHeight_);
    placed.moveCenter(area.center());
    setGeometry(placed);
}

void VideoWindow::ShowWindow() {
    show();
    raise();
    activateWindow();
}

void VideoWindow::HideWindow() {
    hide();
}

QImage VideoWindow::LastFrame() const {
    return frame_;
}

QRect VideoWindow::ScreenArea() const {
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 800, 600);
}

void VideoWindow::PresentFrame(const uint8_t* rgb32, int width, int height, int stride,
                               REFERENCE_TIME) {
    if (!rgb32 || width <= 0 || height <= 0 || stride < width * 4) return;
    // Bytes B, G, R, 255 are QImage's RGB32 on a little-endian machine.
    QImage copy(width, height, QImage::Format_RGB32);
    if (copy.isNull()) return;
    for (int row = 0; row < height; ++row)
        std::memcpy(copy.scanLine(row), rgb32 + static_cast<size_t>(row) * stride,
                    static_cast<size_t>(width) * 4);
    bool post = false;
    {
        std::lock_guard lock(frameLock_);
        pending_ = std::move(copy);
        post = !framePosted_;
        framePosted_ = true;
    }
    // One call in flight at a time; Qt drops it when the window is gone.
    if (post)
        QMetaObject::invokeMethod(
            this, [this] { ShowFrame(); }, Qt::QueuedConnection);
}

void VideoWindow::ShowFrame() {
    {
        std::lock_guard lock(frameLock_);
        frame_ = std::move(pending_);
        pending_ = QImage();
        framePosted_ = false;
    }
    if (frame_.isNull()) return;
    ++framesShown_;
    update();
}

void VideoWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (frame_.isNull()) {
        painter.fillRect(rect(), palette().brush(QPalette::Shadow));
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), frame_);
}

void VideoWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (initialised_) TellVideoPosition();
}

void VideoWindow::TellVideoPosition() {
    if (!grabber_) return;
    RECT client{0, 0, width(), height()};
    grabber_->SetVideoPosition(&client);
}

void VideoWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    dragging_ = true;
    dragOrigin_ = event->globalPosition().toPoint();
    grabMouse();
}

void VideoWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return QWidget::mouseMoveEvent(event);
    QPoint now = event->globalPosition().toPoint();
    move(pos() + (now - dragOrigin_));
    dragOrigin_ = now;
}

void VideoWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && dragging_) {
        dragging_ = false;
        releaseMouse();
        return;
    }
    if (event->button() == Qt::RightButton) {
        auto menu = CreateMenu();
        menu->exec(event->globalPosition().toPoint());
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

std::unique_ptr<QMenu> VideoWindow::CreateMenu() {
    auto menu = std::make_unique<QMenu>(this);
    auto add = [&](int stringId, Command command, bool checked) {
        QAction* action = menu->addAction(LoadString(stringId));
        action->setCheckable(true);
        action->setChecked(checked);
        connect(action, &QAction::triggered, this, [this, command] { RunCommand(command); });
    };
    add(139, kFullScreenCommand, zoom_ == kFullScreen);
    menu->addSeparator();
    add(140, kHalfCommand, zoom_ == kHalfSize);
    add(141, kNormalCommand, zoom_ == kNormalSize);
    return menu;
}

void VideoWindow::RunCommand(Command command) {
    switch (command) {
        case kFullScreenCommand:
            ToggleFullScreen();
            break;
        case kHalfCommand:
            Zoom(0.5, kHalfSize);
            break;
        case kNormalCommand:
            Zoom(1.0, kNormalSize);
            break;
        case kDoubleCommand:
            Zoom(2.0, kDoubleSize);
            break;
    }
}

void VideoWindow::Zoom(double factor, ZoomState state) {
    bool leavingFullScreen = zoom_ == kFullScreen;
    bool wasVisible = isVisible();
    // A zoomed window is an ordinary one again.
    if (leavingFullScreen) setWindowFlag(Qt::WindowStaysOnTopHint, false);
    int w = videoWidth_, h = videoHeight_;
    if (factor != 1.0) {
        w = static_cast<int>(factor * videoWidth_);
        h = static_cast<int>(factor * videoHeight_);
    }
    QRect placed(0, 0, std::max(w, kMinimumSide), std::max(h, kMinimumSide));
    placed.moveCenter(ScreenArea().center());
    setGeometry(placed);
    zoom_ = state;
    if (leavingFullScreen && wasVisible) showNormal();
    update();
}

void VideoWindow::ToggleFullScreen() {
    bool wasVisible = isVisible();
    if (zoom_ == kFullScreen) {
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
        setGeometry(savedGeometry_);
        zoom_ = zoomBeforeFullScreen_;
    } else {
        zoomBeforeFullScreen_ = zoom_;
        savedGeometry_ = geometry();
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        setGeometry(ScreenArea());
        zoom_ = kFullScreen;
    }
    // Changing the window flags hides a window.
    if (wasVisible || zoom_ == kFullScreen) showNormal();
    update();
}

}  // namespace quil::shell
