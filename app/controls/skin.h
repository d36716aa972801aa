#pragma once

// The program's look: one palette and style for every window and dialog, and the skin's
// drawings. Every glyph is a vector drawing, painted at the screen's device-pixel ratio, so it
// stays crisp at any scale.

#include <QAbstractButton>
#include <QColor>
#include <QIcon>
#include <QImage>

class QApplication;
class QPainter;

namespace quil::controls {

namespace colors {
inline const QColor kWindow{0x16, 0x19, 0x1e};
inline const QColor kPanel{0x20, 0x25, 0x2c};
inline const QColor kRaised{0x2a, 0x30, 0x39};
inline const QColor kBorder{0x3a, 0x42, 0x4e};
inline const QColor kText{0xe8, 0xeb, 0xf0};
inline const QColor kMutedText{0xa9, 0xb2, 0xbe};
inline const QColor kAccent{0x3c, 0xc8, 0x8f};
inline const QColor kAccentText{0x0c, 0x1a, 0x14};
inline const QColor kRecord{0xff, 0x5d, 0x62};
inline const QColor kDisabled{0x6b, 0x73, 0x7e};
inline const QColor kIndicatorBorder{0x8a, 0x93, 0x9f};
}  // namespace colors

// Fusion with the program's dark palette and a small style sheet, for the whole application.
void ApplyProgramLook(QApplication& application);

enum class Glyph {
    Record,
    Play,
    Pause,
    Stop,
    Previous,
    Next,
    Recorder,
    MediaFile,
    CdRipper,
    Network,
    Player,
    Option,
    DropDown,
    Help,
    Minimise,
    Close,
    Volume,
    Logo,
    Back,
    Forward,
    Refresh,
    Home,
};

// Draws the glyph into `box` (logical pixels) in `color`.
void DrawGlyph(QPainter& painter, Glyph glyph, const QRectF& box, const QColor& color);
// An icon that draws the glyph at whatever size and pixel ratio it is asked for.
QIcon GlyphIcon(Glyph glyph, const QColor& color = colors::kText);

// A check box drawn like the list rows' boxes of the style sheet, at whatever size and pixel
// ratio it is asked for: for places the style sheet does not reach, such as a header.
QIcon CheckBoxIcon(bool checked);

// A button of the skin: a glyph, optionally with a caption below it, flat until hovered,
// highlighted while checked. The caption must fit: minimumSizeHint says what it needs.
class SkinButton : public QAbstractButton {
    Q_OBJECT

public:
    SkinButton(Glyph glyph, const QString& caption, QWidget* parent = nullptr);
    // Transport buttons are round; source buttons are rounded tabs.
    void SetRound(bool round) { round_ = round; }
    void SetGlyphColor(const QColor& color) { glyphColor_ = color; }
    Glyph glyph() const { return glyph_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Glyph glyph_;
    bool round_ = false;
    bool hovered_ = false;
    QColor glyphColor_ = colors::kText;
};

// Channel and thumb images of the bitmap slider, drawn at `ratio` device pixels per logical
// pixel. The channel's corners are the transparent key colour (its top-left pixel).
QImage SliderChannel(QSize size, qreal ratio, bool active);
QImage SliderThumb(QSize size, qreal ratio, bool active);

// The splash picture: the logo and the name on the skin's background.
QPixmap SplashPixmap(qreal ratio);

}  // namespace quil::controls
