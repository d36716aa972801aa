#include "app/controls/bitmap_slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include <algorithm>
#include <cstdlib>

#include "app/shell/messages.h"

namespace quil::controls {

namespace {

QSize LogicalSize(const QImage& image) {
    if (image.isNull()) return {};
    return (QSizeF(image.size()) / image.devicePixelRatio()).toSize();
}

// Pixels of the key colour become fully transparent, so what lies beneath shows through them.
QImage WithTransparency(const QImage& image, QRgb key, int keyX, int keyY) {
    QImage result = image.convertToFormat(QImage::Format_ARGB32);
    if (key == BitmapSlider::kKeyFromPixel) {
        if (!result.valid(keyX, keyY)) return {};
        key = result.pixel(keyX, keyY);
    }
    const QRgb opaqueKey = key | 0xFF000000;
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x)
            if ((line[x] | 0xFF000000) == opaqueKey) line[x] = 0;
    }
    result.setDevicePixelRatio(image.devicePixelRatio());
    return result;
}

bool Prepare(const QImage& normal, const QImage& active, bool transparent, QRgb key, int keyX,
             int keyY, QImage* normalOut, QImage* activeOut) {
    QImage first = transparent ? WithTransparency(normal, key, keyX, keyY) : normal;
    if (first.isNull()) return false;
    QImage second;
    if (!active.isNull()) {
        second = transparent ? WithTransparency(active, key, keyX, keyY) : active;
        if (second.isNull()) return false;
    }
    *normalOut = first;
    *activeOut = second;
    return true;
}

}  // namespace

BitmapSlider::BitmapSlider(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

BitmapSlider::~BitmapSlider() = default;

void BitmapSlider::SetNotify(HWND window, WPARAM controlId) {
    notify_ = window;
    controlId_ = controlId;
}

void BitmapSlider::SetRange(int minimum, int maximum, bool redraw) {
    minimum_ = minimum;
    maximum_ = maximum;
    position_ = std::clamp(position_, std::min(minimum_, maximum_), std::max(minimum_, maximum_));
    if (redraw) update();
}

void BitmapSlider::SetPos(int position) {
    // Above the maximum first, then below the minimum: an inverted range ends at the minimum.
    if (position > maximum_) position = maximum_;
    if (position < minimum_) position = minimum_;
    if (position == position_) return;
    position_ = position;
    update();
}

int BitmapSlider::SetPageSize(int size) {
    return std::exchange(pageSize_, size);
}

void BitmapSlider::SetVertical(bool vertical) {
    vertical_ = vertical;
    update();
}

void BitmapSlider::SetMargin(int left, int top, int right, int bottom) {
    marginLeft_ = left;
    marginTop_ = top;
    marginRight_ = right;
    marginBottom_ = bottom;
    update();
}

bool BitmapSlider::SetChannel(const QImage& normal, const QImage& active, bool transparent,
                              QRgb key, int keyX, int keyY) {
    if (normal.isNull()) {
        channel_ = activeChannel_ = QImage();
        update();
        return true;
    }
    if (!Prepare(normal, active, transparent, key, keyX, keyY, &channel_, &activeChannel_)) {
        channel_ = activeChannel_ = QImage();
        return false;
    }
    resize(LogicalSize(channel_));
    update();
    return true;
}

bool BitmapSlider::SetThumb(const QImage& normal, const QImage& active, bool transparent, QRgb key,
                            int keyX, int keyY) {
    if (normal.isNull()) {
        thumb_ = activeThumb_ = QImage();
        update();
        return true;
    }
    if (!Prepare(normal, active, transparent, key, keyX, keyY, &thumb_, &activeThumb_)) {
        thumb_ = activeThumb_ = QImage();
        return false;
    }
    update();
    return true;
}

void BitmapSlider::Enable(bool enable) {
    setEnabled(enable);
}

void BitmapSlider::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled() && dragging_) {
        dragging_ = false;
        releaseMouse();
    }
    QWidget::changeEvent(event);
}

void BitmapSlider::EnableFocusRect(bool enable, bool redraw) {
    focusRect_ = enable;
    if (redraw) update();
}

QSize BitmapSlider::sizeHint() const {
    return channel_.isNull() ? QSize(100, 16) : LogicalSize(channel_);
}

int BitmapSlider::Length() const {
    return vertical_ ? height() : width();
}

int BitmapSlider::ThumbSize() const {
    QSize size = LogicalSize(thumb_);
    return vertical_ ? size.height() : size.width();
}

int BitmapSlider::NearMargin() const {
    return vertical_ ? marginTop_ : marginLeft_;
}

int BitmapSlider::FarMargin() const {
    return vertical_ ? marginBottom_ : marginRight_;
}

int BitmapSlider::ValueToPixel(int value) const {
    const int thumb = ThumbSize();
    // An empty range has nowhere to go: the thumb stays at the near end.
    const double span = maximum_ - minimum_;
    const double fraction = span == 0 ? 0.0 : (value - minimum_) / span;
    const double travel = Length() - FarMargin() - thumb - NearMargin();
    return static_cast<int>(NearMargin() + fraction * travel + thumb / 2.0);
}

int BitmapSlider::PixelToValue(int pixel) const {
    const int thumb = ThumbSize();
    const double travel = Length() - FarMargin() - NearMargin() - thumb;
    if (travel <= 0) return minimum_;
    const double fraction = (pixel - thumb / 2.0 - NearMargin()) / travel;
    return static_cast<int>(fraction * (maximum_ - minimum_) + minimum_);
}

int BitmapSlider::Along(const QPoint& point) const {
    return vertical_ ? point.y() : point.x();
}

void BitmapSlider::Post(UINT message) const {
    if (notify_) PostMessage(notify_, message, controlId_, position_);
}

void BitmapSlider::mousePressEvent(QMouseEvent* event) {
    if (!isEnabled() || event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    grabMouse();
    setFocus(Qt::MouseFocusReason);
    dragging_ = true;
    const int pointer = Along(event->position().toPoint());
    const int centre = ValueToPixel(position_);
    gripOffset_ = std::abs(pointer - centre) > ThumbSize() / 2 ? 0 : pointer - centre;
    MoveTo(pointer);
    update();
}

void BitmapSlider::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || !isEnabled()) return;
    MoveTo(Along(event->position().toPoint()));
}

void BitmapSlider::MoveTo(int pointer) {
    const int thumb = ThumbSize();
    int p = pointer - gripOffset_;
    p = std::max(p, NearMargin() + thumb / 2);
    p = std::min(p, Length() - thumb / 2 - FarMargin());
    if (p == ValueToPixel(position_)) return;
    SetPos(PixelToValue(p));
    Post(shell::MSG_SLIDER_MOVED);
}

void BitmapSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (!isEnabled() || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    releaseMouse();
    dragging_ = false;
    update();
    Post(shell::MSG_SLIDER_RELEASED);
}

void BitmapSlider::keyPressEvent(QKeyEvent* event) {
    if (!isEnabled()) return QWidget::keyPressEvent(event);
    int target = 0;
    switch (event->key()) {
        case Qt::Key_PageUp:
            target = position_ - pageSize_;
            break;
        case Qt::Key_PageDown:
            target = position_ + pageSize_;
            break;
        case Qt::Key_End:
            target = maximum_;
            break;
        case Qt::Key_Home:
            target = minimum_;
            break;
        case Qt::Key_Right:
        case Qt::Key_Down:
            target = position_ + 1;
            break;
        case Qt::Key_Left:
        case Qt::Key_Up:
            target = position_ - 1;
            break;
        default:
            return QWidget::keyPressEvent(event);
    }
    SetPos(target);
    Post(shell::MSG_SLIDER_RELEASED);
}

void BitmapSlider::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void BitmapSlider::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

void BitmapSlider::paintEvent(QPaintEvent*) {
    // QWidget painting is double-buffered by the backing store; a transparent channel keeps the
    // parent's drawing underneath because the widget is not opaque.
    QPainter painter(this);
    if (!channel_.isNull() && !channel_.hasAlphaChannel())
        painter.fillRect(rect(), palette().window());
    const int centre = ValueToPixel(position_);
    if (!channel_.isNull()) {
        const QSize size = LogicalSize(channel_);
        if (!activeChannel_.isNull() && isEnabled()) {
            const double dpr = channel_.devicePixelRatio();
            QRectF active = vertical_ ? QRectF(0, 0, size.width(), centre)
                                      : QRectF(0, 0, centre, size.height());
            QRectF rest = vertical_ ? QRectF(0, centre, size.width(), size.height() - centre)
                                    : QRectF(centre, 0, size.width() - centre, size.height());
            auto source = [dpr](const QRectF& r) {
                return QRectF(r.topLeft() * dpr, r.size() * dpr);
            };
            painter.drawImage(active, activeChannel_, source(active));
            painter.drawImage(rest, channel_, source(rest));
        } else {
            painter.drawImage(QRectF(QPointF(0, 0), QSizeF(size)), channel_);
        }
    }
    if (!thumb_.isNull() && isEnabled()) {
        const QImage& image = dragging_ && !activeThumb_.isNull() ? activeThumb_ : thumb_;
        const QSize size = LogicalSize(image);
        QPoint topLeft = vertical_ ? QPoint(marginLeft_, centre - size.height() / 2)
                                   : QPoint(centre - size.width() / 2, marginTop_);
        painter.drawImage(QRectF(topLeft, QSizeF(size)), image);
    }
    if (focusRect_ && hasFocus() && isEnabled()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect();
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

}  // namespace quil::controls
