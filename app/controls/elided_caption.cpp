#include "app/controls/elided_caption.h"

#include <QPainter>

namespace quil::controls {

ElidedCaption::ElidedCaption(QWidget* parent) : QWidget(parent) {}

void ElidedCaption::SetText(const QString& lead, const QString& body) {
    if (lead == lead_ && body == body_) return;
    lead_ = lead;
    body_ = body;
    setToolTip(Text());
    setAccessibleDescription(Text());
    update();
}

QString ElidedCaption::ShownText() const {
    const QFontMetrics metrics = fontMetrics();
    const QString whole = Text();
    if (metrics.horizontalAdvance(whole) <= width()) return whole;
    const int room = width() - metrics.horizontalAdvance(lead_);
    // A line too narrow for the lead itself is shortened as a whole.
    if (room <= metrics.horizontalAdvance(QStringLiteral("…")) * 4)
        return metrics.elidedText(whole, Qt::ElideMiddle, width());
    return lead_ + metrics.elidedText(body_, Qt::ElideMiddle, room);
}

void ElidedCaption::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, ShownText());
}

}  // namespace quil::controls
