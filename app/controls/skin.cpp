#include "app/controls/skin.h"

#include <QApplication>
#include <QEnterEvent>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QStyleFactory>
#include <QStyleOptionFocusRect>

namespace quil::controls {

void ApplyProgramLook(QApplication& application) {
    application.setStyle(QStyleFactory::create("Fusion"));
    QPalette palette;
    palette.setColor(QPalette::Window, colors::kPanel);
    palette.setColor(QPalette::WindowText, colors::kText);
    palette.setColor(QPalette::Base, colors::kWindow);
    palette.setColor(QPalette::AlternateBase, colors::kPanel);
    palette.setColor(QPalette::Text, colors::kText);
    palette.setColor(QPalette::Button, colors::kRaised);
    palette.setColor(QPalette::ButtonText, colors::kText);
    palette.setColor(QPalette::ToolTipBase, colors::kRaised);
    palette.setColor(QPalette::ToolTipText, colors::kText);
    palette.setColor(QPalette::PlaceholderText, colors::kMutedText);
    palette.setColor(QPalette::Highlight, colors::kAccent);
    palette.setColor(QPalette::HighlightedText, colors::kAccentText);
    palette.setColor(QPalette::Link, colors::kAccent);
    palette.setColor(QPalette::LinkVisited, colors::kAccent);
    palette.setColor(QPalette::BrightText, colors::kRecord);
    palette.setColor(QPalette::Light, colors::kBorder);
    palette.setColor(QPalette::Midlight, colors::kRaised);
    palette.setColor(QPalette::Shadow, QColor(0x0b, 0x0d, 0x10));
    palette.setColor(QPalette::Mid, colors::kBorder);
    palette.setColor(QPalette::Dark, colors::kWindow);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, colors::kDisabled);
    application.setPalette(palette);
    application.setStyleSheet(
        "QToolTip { color: #e8ebf0; background: #2a3039; border: 1px solid #3a424e; }"
        "QHeaderView::section { background: #2a3039; color: #e8ebf0; border: 0;"
        "  border-right: 1px solid #3a424e; padding: 2px 4px; }"
        "QTreeView, QListView, QTableView, QTextBrowser { border: 1px solid #3a424e; }"
        "QLineEdit, QPlainTextEdit, QTextEdit { border: 1px solid #3a424e; border-radius: 3px;"
        "  padding: 1px 4px; background: #101317; }"
        "QLineEdit:focus, QPlainTextEdit:focus, QTextEdit:focus { border-color: #3cc88f; }"
        "QMenu { background: #20252c; border: 1px solid #3a424e; }"
        "QMenu::item:selected { background: #3cc88f; color: #0c1a14; }"
        // Fusion draws unchecked indicators in colours that vanish on a dark window.
        "QRadioButton::indicator { width: 12px; height: 12px; border-radius: 7px;"
        "  border: 1px solid #8a939f; background: #20252c; }"
        "QRadioButton::indicator:checked { border: 1px solid #3cc88f; background: qradialgradient("
        "  cx:0.5, cy:0.5, radius:0.5, fx:0.5, fy:0.5, stop:0 #3cc88f, stop:0.5 #3cc88f,"
        "  stop:0.6 #20252c, stop:1 #20252c); }"
        "QAbstractItemView::indicator { width: 12px; height: 12px; border-radius: 3px;"
        "  border: 1px solid #8a939f; background: #20252c; }"
        "QAbstractItemView::indicator:checked { border: 1px solid #3cc88f; background: #3cc88f; }"
        "QAbstractItemView::indicator:checked:selected { border-color: #0c1a14; background: "
        "#0c1a14; }"
        "QCheckBox::indicator { width: 12px; height: 12px; border-radius: 3px;"
        "  border: 1px solid #8a939f; background: #20252c; }"
        "QCheckBox::indicator:checked { border: 1px solid #3cc88f; background: #3cc88f; }"
        "QRadioButton::indicator:disabled, QCheckBox::indicator:disabled { border-color: #4a525e; "
        "}");
}

namespace {

QPainterPath Triangle(const QRectF& box, bool pointRight) {
    QPainterPath path;
    if (pointRight) {
        path.moveTo(box.left(), box.top());
        path.lineTo(box.right(), box.center().y());
        path.lineTo(box.left(), box.bottom());
    } else {
        path.moveTo(box.right(), box.top());
        path.lineTo(box.left(), box.center().y());
        path.lineTo(box.right(), box.bottom());
    }
    path.closeSubpath();
    return path;
}

QRectF Square(const QRectF& box, qreal fraction) {
    const qreal side = std::min(box.width(), box.height()) * fraction;
    return QRectF(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
}

}  // namespace

void DrawGlyph(QPainter& painter, Glyph glyph, const QRectF& box, const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = Square(box, 1.0);
    const qreal s = r.width();
    QPen pen(color, std::max<qreal>(1.2, s / 11), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    auto at = [&](qreal x, qreal y) { return QPointF(r.left() + x * s, r.top() + y * s); };
    auto rect = [&](qreal x, qreal y, qreal w, qreal h) {
        return QRectF(r.left() + x * s, r.top() + y * s, w * s, h * s);
    };
    switch (glyph) {
        case Glyph::Record:
            painter.drawEllipse(Square(r, 0.62));
            break;
        case Glyph::Play:
            painter.drawPath(Triangle(rect(0.3, 0.2, 0.5, 0.6), true));
            break;
        case Glyph::Pause:
            painter.drawRoundedRect(rect(0.26, 0.22, 0.16, 0.56), s * 0.03, s * 0.03);
            painter.drawRoundedRect(rect(0.58, 0.22, 0.16, 0.56), s * 0.03, s * 0.03);
            break;
        case Glyph::Stop:
            painter.drawRoundedRect(Square(r, 0.52), s * 0.06, s * 0.06);
            break;
        case Glyph::Previous:
            painter.drawRect(rect(0.22, 0.24, 0.1, 0.52));
            painter.drawPath(Triangle(rect(0.32, 0.24, 0.46, 0.52), false));
            break;
        case Glyph::Next:
            painter.drawRect(rect(0.68, 0.24, 0.1, 0.52));
            painter.drawPath(Triangle(rect(0.22, 0.24, 0.46, 0.52), true));
            break;
        case Glyph::Recorder: {
            // A microphone on its stand.
            painter.drawRoundedRect(rect(0.37, 0.08, 0.26, 0.5), s * 0.13, s * 0.13);
            painter.setBrush(Qt::NoBrush);
            painter.setPen(pen);
            QPainterPath cup;
            cup.moveTo(at(0.25, 0.42));
            cup.cubicTo(at(0.25, 0.78), at(0.75, 0.78), at(0.75, 0.42));
            painter.drawPath(cup);
            painter.drawLine(at(0.5, 0.7), at(0.5, 0.88));
            painter.drawLine(at(0.34, 0.9), at(0.66, 0.9));
            break;
        }
        case Glyph::MediaFile: {
            // A page with a folded corner and a note on it.
            QPainterPath page;
            page.moveTo(at(0.22, 0.06));
            page.lineTo(at(0.6, 0.06));
            page.lineTo(at(0.8, 0.26));
            page.lineTo(at(0.8, 0.94));
            page.lineTo(at(0.22, 0.94));
            page.closeSubpath();
            painter.setBrush(Qt::NoBrush);
            painter.setPen(pen);
            painter.drawPath(page);
            painter.setPen(Qt::NoPen);
            painter.setBrush(color);
            painter.drawEllipse(rect(0.34, 0.62, 0.16, 0.13));
            painter.drawRect(rect(0.46, 0.36, 0.05, 0.33));
            painter.drawRect(rect(0.46, 0.36, 0.16, 0.06));
            break;
        }
        case Glyph::CdRipper: {
            QPainterPath disc;
            disc.addEllipse(Square(r, 0.86));
            disc.addEllipse(Square(r, 0.22));
            disc.setFillRule(Qt::OddEvenFill);
            painter.drawPath(disc);
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(colors::kPanel, std::max<qreal>(1.0, s / 16)));
            painter.drawEllipse(Square(r, 0.5));
            break;
        }
        case Glyph::Network: {
            // Waves coming from a mast.
            painter.setBrush(Qt::NoBrush);
            painter.setPen(pen);
            painter.drawLine(at(0.5, 0.5), at(0.5, 0.92));
            painter.drawArc(rect(0.3, 0.3, 0.4, 0.4), 30 * 16, 120 * 16);
            painter.drawArc(rect(0.14, 0.14, 0.72, 0.72), 30 * 16, 120 * 16);
            painter.setPen(Qt::NoPen);
            painter.setBrush(color);
            painter.drawEllipse(rect(0.42, 0.42, 0.16, 0.16));
            break;
        }
        case Glyph::Player: {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(pen);
            painter.drawRoundedRect(rect(0.08, 0.18, 0.84, 0.64), s * 0.08, s * 0.08);
            painter.setPen(Qt::NoPen);
            painter.setBrush(color);
            painter.drawPath(Triangle(rect(0.42, 0.34, 0.24, 0.32), true));
            break;
        }
        case Glyph::Option: {
            // A cog: a ring with eight teeth.
            painter.translate(r.center());
            for (int i = 0; i < 8; ++i) {
                painter.drawRoundedRect(QRectF(-s * 0.07, -s * 0.46, s * 0.14, s * 0.2), s * 0.03,
                                        s * 0.03);
                painter.rotate(45);
            }
            QPainterPath ring;
            ring.addEllipse(QPointF(0, 0), s * 0.32, s * 0.32);
            ring.addEllipse(QPointF(0, 0), s * 0.13, s * 0.13);
            ring.setFillRule(Qt::OddEvenFill);
            painter.drawPath(ring);
            break;
        }
        case Glyph::DropDown: {
            QPainterPath arrow;
            arrow.moveTo(at(0.2, 0.38));
            arrow.lineTo(at(0.8, 0.38));
            arrow.lineTo(at(0.5, 0.68));
            arrow.closeSubpath();
            painter.drawPath(arrow);
            break;
        }
        case Glyph::Help: {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(pen);
            QPainterPath hook;
            hook.moveTo(at(0.32, 0.34));
            hook.cubicTo(at(0.32, 0.1), at(0.72, 0.1), at(0.7, 0.36));
            hook.cubicTo(at(0.68, 0.52), at(0.5, 0.5), at(0.5, 0.66));
            painter.drawPath(hook);
            painter.setPen(Qt::NoPen);
            painter.setBrush(color);
            painter.drawEllipse(rect(0.44, 0.78, 0.12, 0.12));
            break;
        }
        case Glyph::Minimise:
            painter.drawRect(rect(0.22, 0.62, 0.56, 0.1));
            break;
        case Glyph::Close:
            painter.setPen(pen);
            painter.drawLine(at(0.26, 0.26), at(0.74, 0.74));
            painter.drawLine(at(0.74, 0.26), at(0.26, 0.74));
            break;
        case Glyph::Volume: {
            QPainterPath speaker;
            speaker.moveTo(at(0.1, 0.38));
            speaker.lineTo(at(0.3, 0.38));
            speaker.lineTo(at(0.54, 0.16));
            speaker.lineTo(at(0.54, 0.84));
            speaker.lineTo(at(0.3, 0.62));
            speaker.lineTo(at(0.1, 0.62));
            speaker.closeSubpath();
            painter.drawPath(speaker);
            painter.setBrush(Qt::NoBrush);
            painter.setPen(pen);
            painter.drawArc(rect(0.46, 0.3, 0.3, 0.4), -50 * 16, 100 * 16);
            painter.drawArc(rect(0.42, 0.16, 0.5, 0.68), -50 * 16, 100 * 16);
            break;
        }
        case Glyph::Logo: {
            // A quill's feather over a sound wave.
            QLinearGradient fill(r.topLeft(), r.bottomRight());
            fill.setColorAt(0, colors::kAccent);
            fill.setColorAt(1, QColor(0x2b, 0x8f, 0xd6));
            painter.setBrush(fill);
            painter.drawRoundedRect(r, s * 0.22, s * 0.22);
            painter.setBrush(colors::kWindow);
            QPainterPath feather;
            feather.moveTo(at(0.26, 0.8));
            feather.cubicTo(at(0.3, 0.42), at(0.52, 0.2), at(0.8, 0.16));
            feather.cubicTo(at(0.76, 0.44), at(0.56, 0.66), at(0.3, 0.76));
            feather.closeSubpath();
            painter.drawPath(feather);
            painter.setPen(
                QPen(colors::kWindow, std::max<qreal>(1.0, s / 18), Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(at(0.2, 0.86), at(0.42, 0.6));
            break;
        }
        case Glyph::Back:
            painter.drawPath(Triangle(rect(0.28, 0.22, 0.42, 0.56), false));
            break;
        case Glyph::Forward:
            painter.drawPath(Triangle(rect(0.3, 0.22, 0.42, 0.56), true));
            break;
        case Glyph::Refresh: {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(pen);
            painter.drawArc(rect(0.2, 0.2, 0.6, 0.6), 60 * 16, 280 * 16);
            painter.setPen(Qt::NoPen);
            painter.setBrush(color);
            QPainterPath head;
            head.moveTo(at(0.56, 0.08));
            head.lineTo(at(0.8, 0.22));
            head.lineTo(at(0.56, 0.36));
            head.closeSubpath();
            painter.drawPath(head);
            break;
        }
        case Glyph::Home: {
            QPainterPath house;
            house.moveTo(at(0.5, 0.14));
            house.lineTo(at(0.88, 0.5));
            house.lineTo(at(0.76, 0.5));
            house.lineTo(at(0.76, 0.86));
            house.lineTo(at(0.24, 0.86));
            house.lineTo(at(0.24, 0.5));
            house.lineTo(at(0.12, 0.5));
            house.closeSubpath();
            painter.drawPath(house);
            break;
        }
    }
    painter.restore();
}

namespace {

class GlyphIconEngine final : public QIconEngine {
public:
    GlyphIconEngine(Glyph glyph, QColor color) : glyph_(glyph), color_(color) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        // Selected rows of a list are drawn in the accent colour: the glyph takes its text colour.
        const QColor ink = mode == QIcon::Disabled   ? colors::kDisabled
                           : mode == QIcon::Selected ? colors::kAccentText
                                                     : color_;
        DrawGlyph(*painter, glyph_, rect, ink);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    // `size` is in device pixels already; the drawing is made at that resolution.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap pixmap(size);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), (QSizeF(size) / scale).toSize()), mode, state);
        return pixmap;
    }
    QIconEngine* clone() const override { return new GlyphIconEngine(glyph_, color_); }

private:
    Glyph glyph_;
    QColor color_;
};

class CheckBoxIconEngine final : public QIconEngine {
public:
    explicit CheckBoxIconEngine(bool checked) : checked_(checked) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        // 14 of 16 pixels (12 and a 1-pixel border) with a 3-pixel corner, as the style
        // sheet's indicators.
        const qreal side = std::min(rect.width(), rect.height()) * 0.875;
        const QRectF box(rect.x() + (rect.width() - side) / 2,
                         rect.y() + (rect.height() - side) / 2, side, side);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(checked_ ? colors::kAccent : colors::kIndicatorBorder, 1));
        painter->setBrush(checked_ ? colors::kAccent : colors::kPanel);
        painter->drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), side / 4, side / 4);
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap pixmap(size);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), (QSizeF(size) / scale).toSize()), mode, state);
        return pixmap;
    }
    QIconEngine* clone() const override { return new CheckBoxIconEngine(checked_); }

private:
    bool checked_;
};

}  // namespace

QIcon GlyphIcon(Glyph glyph, const QColor& color) {
    return QIcon(new GlyphIconEngine(glyph, color));
}

QIcon CheckBoxIcon(bool checked) {
    return QIcon(new CheckBoxIconEngine(checked));
}

SkinButton::SkinButton(Glyph glyph, const QString& caption, QWidget* parent)
    : QAbstractButton(parent), glyph_(glyph) {
    setText(caption);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

QSize SkinButton::sizeHint() const {
    return minimumSizeHint();
}

QSize SkinButton::minimumSizeHint() const {
    if (text().isEmpty()) return {10, 10};
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 6, 18 + metrics.height() + 4};
}

void SkinButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void SkinButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void SkinButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool enabled = isEnabled();
    QColor fill = Qt::transparent;
    if (isChecked()) fill = colors::kRaised;
    if (enabled && (hovered_ || isDown())) fill = isDown() ? colors::kBorder : colors::kRaised;
    // Round buttons sit side by side in rectangles that are not square: a circle a little
    // inside its rectangle keeps neighbours apart.
    const qreal side = std::min(area.width(), area.height()) - 1.5;
    const QRectF circle(width() / 2.0 - side / 2, height() / 2.0 - side / 2, side, side);
    if (round_) {
        painter.setPen(QPen(enabled ? colors::kBorder : colors::kRaised, 1));
        painter.setBrush(fill == Qt::transparent ? colors::kPanel : fill);
        painter.drawEllipse(circle);
    } else if (fill != Qt::transparent) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(area, 5, 5);
    }
    if (isChecked() && !round_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colors::kAccent);
        painter.drawRoundedRect(
            QRectF(area.left() + 8, area.bottom() - 2.5, area.width() - 16, 2.5), 1, 1);
    }
    const QColor ink = enabled ? glyphColor_ : colors::kDisabled;
    if (text().isEmpty()) {
        const qreal side = std::min(width(), height()) * (round_ ? 0.66 : 0.8);
        DrawGlyph(painter, glyph_,
                  QRectF(width() / 2.0 - side / 2, height() / 2.0 - side / 2, side, side), ink);
    } else {
        const QFontMetrics metrics(font());
        const qreal glyphSide = std::max(12, height() - metrics.height() - 8);
        DrawGlyph(painter, glyph_, QRectF(width() / 2.0 - glyphSide / 2, 3, glyphSide, glyphSide),
                  isChecked() && enabled ? colors::kAccent : ink);
        painter.setPen(enabled ? colors::kText : colors::kDisabled);
        painter.drawText(QRectF(0, height() - metrics.height() - 4, width(), metrics.height()),
                         Qt::AlignCenter, text());
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(1, 1, -1, -1);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(colors::kAccent, 1, Qt::DotLine));
        if (round_)
            painter.drawEllipse(circle.adjusted(1, 1, -1, -1));
        else
            painter.drawRoundedRect(area.adjusted(1, 1, -1, -1), 5, 5);
    }
}

namespace {

QImage Canvas(QSize size, qreal ratio) {
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    return image;
}

}  // namespace

QImage SliderChannel(QSize size, qreal ratio, bool active) {
    // Magenta marks the corners that must show the window beneath.
    QImage image = Canvas(size, ratio);
    image.fill(QColor(255, 0, 255));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const qreal track = std::max<qreal>(3, size.height() * 0.4);
    const QRectF groove(1, (size.height() - track) / 2, size.width() - 2, track);
    painter.setPen(Qt::NoPen);
    painter.setBrush(active ? colors::kAccent : colors::kBorder);
    painter.drawRect(groove);
    return image;
}

QImage SliderThumb(QSize size, qreal ratio, bool active) {
    QImage image = Canvas(size, ratio);
    image.fill(QColor(255, 0, 255));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(colors::kWindow, 1));
    painter.setBrush(active ? colors::kAccent : colors::kText);
    painter.drawRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1));
    return image;
}

QPixmap SplashPixmap(qreal ratio) {
    const QSize size(360, 200);
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(colors::kWindow);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(colors::kBorder);
    painter.drawRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1));
    DrawGlyph(painter, Glyph::Logo, QRectF(32, 60, 80, 80), colors::kAccent);
    QFont title = painter.font();
    title.setPixelSize(34);
    title.setWeight(QFont::DemiBold);
    painter.setFont(title);
    painter.setPen(colors::kText);
    painter.drawText(QRectF(128, 64, 220, 44), Qt::AlignLeft | Qt::AlignVCenter, "Quillet");
    QFont line = painter.font();
    line.setPixelSize(13);
    line.setWeight(QFont::Normal);
    painter.setFont(line);
    painter.setPen(colors::kMutedText);
    painter.drawText(QRectF(130, 108, 220, 22), Qt::AlignLeft | Qt::AlignVCenter,
                     "Record, rip, extract, dump");
    return pixmap;
}

}  // namespace quil::controls
