#include "app/shell/pages/live/level_meter.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quil::shell {

namespace {

constexpr double kFloorDb = -60.0;
constexpr int kSegments = 20;

}  // namespace

double PeakLevel(const void* data, int bytes, const PCMWAVEFORMAT& format) {
    if (!data || bytes <= 0 || format.wFormatTag != 1) return 0;
    const auto* bytesIn = static_cast<const uint8_t*>(data);
    int peak = 0;
    if (format.wBitsPerSample == 16) {
        for (int i = 0; i + 1 < bytes; i += 2) {
            int16_t sample;
            std::memcpy(&sample, bytesIn + i, sizeof sample);
            peak = std::max(peak, std::abs(static_cast<int>(sample)));
        }
        return std::min(1.0, peak / 32768.0);
    }
    if (format.wBitsPerSample == 8) {
        for (int i = 0; i < bytes; ++i) peak = std::max(peak, std::abs(bytesIn[i] - 128));
        return std::min(1.0, peak / 128.0);
    }
    return 0;
}

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Input level"));
    setToolTip(QStringLiteral("Input level"));
    setMinimumSize(60, 10);
}

void LevelMeter::SetLevel(double peak) {
    peak = std::clamp(peak, 0.0, 1.0);
    if (peak == peak_) return;
    peak_ = peak;
    setAccessibleDescription(QStringLiteral("%1 %").arg(qRound(LitFraction() * 100)));
    update();
}

double LevelMeter::LitFraction() const {
    if (peak_ <= 0) return 0;
    double db = 20.0 * std::log10(peak_);
    return std::clamp((db - kFloorDb) / -kFloorDb, 0.0, 1.0);
}

QSize LevelMeter::sizeHint() const {
    return {120, 14};
}

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(colours.color(QPalette::Mid));
    painter.setBrush(colours.color(QPalette::Base));
    painter.drawRect(area);
    const double gap = 2;
    const double width = (area.width() - gap * (kSegments + 1)) / kSegments;
    const int lit = static_cast<int>(std::ceil(LitFraction() * kSegments - 1e-9));
    painter.setPen(Qt::NoPen);
    for (int segment = 0; segment < kSegments; ++segment) {
        QRectF box(area.left() + gap + segment * (width + gap), area.top() + gap, width,
                   area.height() - 2 * gap);
        QColor colour =
            segment < lit ? colours.color(QPalette::Highlight) : colours.color(QPalette::Midlight);
        // The last segments, near full scale, stand out so clipping is seen.
        if (segment < lit && segment >= kSegments - 3) colour = colour.darker(150);
        painter.setBrush(colour);
        painter.drawRect(box);
    }
}

}  // namespace quil::shell
