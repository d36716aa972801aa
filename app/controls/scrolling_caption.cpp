#include "app/controls/scrolling_caption.h"

#include <QPainter>

namespace quil::controls {

namespace {
constexpr int kStepMs = 40;
// Ticks the text rests at its start before it scrolls again.
constexpr int kRestTicks = 40;
constexpr int kGap = 48;
}  // namespace

ScrollingCaption::ScrollingCaption(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(kStepMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (pause_ > 0) {
            --pause_;
            return;
        }
        const int full = fontMetrics().horizontalAdvance(text_) + kGap;
        offset_ = (offset_ + 1) % full;
        if (offset_ == 0) pause_ = kRestTicks;
        update();
    });
}

void ScrollingCaption::SetText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    setAccessibleName(text);
    setToolTip(text);
    Restart();
}

void ScrollingCaption::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Restart();
}

void ScrollingCaption::Restart() {
    offset_ = 0;
    pause_ = kRestTicks;
    if (fontMetrics().horizontalAdvance(text_) > width())
        timer_.start();
    else
        timer_.stop();
    update();
}

void ScrollingCaption::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    if (!timer_.isActive()) {
        painter.drawText(rect(), flags, text_);
        return;
    }
    const int full = fontMetrics().horizontalAdvance(text_) + kGap;
    painter.drawText(QRect(-offset_, 0, full, height()), flags, text_);
    painter.drawText(QRect(full - offset_, 0, full, height()), flags, text_);
}

}  // namespace quil::controls
