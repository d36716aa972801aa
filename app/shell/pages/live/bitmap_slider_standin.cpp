// A plain implementation of the skinned slider's interface, used only until app/controls has
// the real one: draws the images it is given, follows mouse and keys, posts the two messages.

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

#include "app/controls/bitmap_slider.h"
#include "app/shell/messages.h"

namespace quil::controls {

BitmapSlider::BitmapSlider(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

BitmapSlider::~BitmapSlider() = default;

void BitmapSlider::SetNotify(HWND window, WPARAM controlId) {
    notify_ = window;
    controlId_ = controlId;
}

void BitmapSlider::SetRange(int minimum, int maximum, bool redraw) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    position_ = std::clamp(position_, minimum_, maximum_);
    if (redraw) update();
}

void BitmapSlider::SetPos(int position) {
    position_ = std::clamp(position, minimum_, maximum_);
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
}

bool BitmapSlider::SetChannel(const QImage& normal, const QImage& active, bool, QRgb, int, int) {
    channel_ = normal;
    activeChannel_ = active;
    if (!normal.isNull()) setFixedSize(normal.deviceIndependentSize().toSize());
    update();
    return true;
}

bool BitmapSlider::SetThumb(const QImage& normal, const QImage& active, bool, QRgb, int, int) {
    thumb_ = normal;
    activeThumb_ = active;
    update();
    return true;
}

void BitmapSlider::Enable(bool enable) {
    if (!enable) dragging_ = false;
    setEnabled(enable);
}

void BitmapSlider::EnableFocusRect(bool enable, bool redraw) {
    focusRect_ = enable;
    if (redraw) update();
}

int BitmapSlider::Length() const {
    return vertical_ ? height() : width();
}

int BitmapSlider::ThumbSize() const {
    if (thumb_.isNull()) return 0;
    QSize size = thumb_.deviceIndependentSize().toSize();
    return vertical_ ? size.height() : size.width();
}

int BitmapSlider::NearMargin() const {
    return vertical_ ? marginTop_ : marginLeft_;
}

int BitmapSlider::FarMargin() const {
    return vertical_ ? marginBottom_ : marginRight_;
}

int BitmapSlider::Along(const QPoint& point) const {
    return vertical_ ? point.y() : point.x();
}

int BitmapSlider::ValueToPixel(int value) const {
    if (maximum_ == minimum_) return NearMargin();
    double span = Length() - NearMargin() - FarMargin();
    return static_cast<int>(NearMargin() + span * (value - minimum_) / (maximum_ - minimum_));
}

int BitmapSlider::PixelToValue(int pixel) const {
    double span = Length() - NearMargin() - FarMargin();
    if (span <= 0) return minimum_;
    double value = minimum_ + (pixel - NearMargin()) * (maximum_ - minimum_) / span;
    return std::clamp(static_cast<int>(value), minimum_, maximum_);
}

QSize BitmapSlider::sizeHint() const {
    if (!channel_.isNull()) return channel_.deviceIndependentSize().toSize();
    return {120, 16};
}

void BitmapSlider::MoveTo(int pointer) {
    int value = PixelToValue(pointer - gripOffset_);
    if (value == position_) return;
    position_ = value;
    Post(shell::MSG_SLIDER_MOVED);
    update();
}

void BitmapSlider::Post(UINT message) const {
    if (notify_) PostMessage(notify_, message, controlId_, position_);
}

void BitmapSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int centre = ValueToPixel(position_);
    if (!channel_.isNull()) {
        if (!activeChannel_.isNull() && isEnabled()) {
            const qreal scale = channel_.devicePixelRatio();
            QRect left(0, 0, centre, height());
            painter.drawImage(left, activeChannel_,
                              QRectF(0, 0, centre * scale, activeChannel_.height()));
            QRect right(centre, 0, width() - centre, height());
            painter.drawImage(
                right, channel_,
                QRectF(centre * scale, 0, (width() - centre) * scale, channel_.height()));
        } else {
            painter.drawImage(QPoint(0, 0), channel_);
        }
    }
    if (!thumb_.isNull() && isEnabled()) {
        const QImage& thumb = dragging_ && !activeThumb_.isNull() ? activeThumb_ : thumb_;
        QSize size = thumb.deviceIndependentSize().toSize();
        QPoint corner = vertical_ ? QPoint(marginLeft_, centre - size.height() / 2)
                                  : QPoint(centre - size.width() / 2, marginTop_);
        painter.drawImage(corner, thumb);
    }
}

void BitmapSlider::mousePressEvent(QMouseEvent* event) {
    if (!isEnabled() || event->button() != Qt::LeftButton) return;
    setFocus();
    dragging_ = true;
    int pointer = Along(event->position().toPoint());
    int centre = ValueToPixel(position_);
    gripOffset_ = std::abs(pointer - centre) > ThumbSize() / 2 ? 0 : pointer - centre;
    MoveTo(pointer);
}

void BitmapSlider::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) MoveTo(Along(event->position().toPoint()));
}

void BitmapSlider::mouseReleaseEvent(QMouseEvent*) {
    if (!dragging_) return;
    dragging_ = false;
    Post(shell::MSG_SLIDER_RELEASED);
    update();
}

void BitmapSlider::keyPressEvent(QKeyEvent* event) {
    int position = position_;
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
            position -= 1;
            break;
        case Qt::Key_Right:
        case Qt::Key_Down:
            position += 1;
            break;
        case Qt::Key_PageUp:
            position -= pageSize_;
            break;
        case Qt::Key_PageDown:
            position += pageSize_;
            break;
        case Qt::Key_Home:
            position = minimum_;
            break;
        case Qt::Key_End:
            position = maximum_;
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    position_ = std::clamp(position, minimum_, maximum_);
    Post(shell::MSG_SLIDER_RELEASED);
    update();
}

void BitmapSlider::focusInEvent(QFocusEvent*) {
    update();
}

void BitmapSlider::focusOutEvent(QFocusEvent*) {
    update();
}

void BitmapSlider::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
}

}  // namespace quil::controls
