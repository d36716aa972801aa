#pragma once

// The skinned slider: draws a channel and a thumb image instead of the style's slider, follows
// the mouse and the keyboard, and posts MSG_SLIDER_MOVED while dragged and MSG_SLIDER_RELEASED
// on release and after every handled key to the window it notifies. Images are in device
// pixels with their device-pixel ratio set; sizes and coordinates here are logical pixels.

#include <QImage>
#include <QWidget>

#include "platform/window/window.h"

namespace quil::controls {

class BitmapSlider : public QWidget {
    Q_OBJECT

public:
    // The colour that asks for the key pixel's colour as the transparent one.
    static constexpr QRgb kKeyFromPixel = 0xFF000000;

    explicit BitmapSlider(QWidget* parent = nullptr);
    ~BitmapSlider() override;

    // Messages go to `window` with `controlId` as wParam and the position as lParam.
    void SetNotify(HWND window, WPARAM controlId);

    void SetRange(int minimum, int maximum, bool redraw = true);
    int Minimum() const { return minimum_; }
    int Maximum() const { return maximum_; }
    void SetPos(int position);
    int GetPos() const { return position_; }
    // Returns the old page size.
    int SetPageSize(int size);
    int PageSize() const { return pageSize_; }
    void SetVertical(bool vertical);
    void SetMargin(int left, int top, int right, int bottom);

    // A null `normal` unloads the channel. The slider takes the channel's logical size. With
    // `transparent`, pixels of the key colour (or of the key pixel's colour when key is
    // kKeyFromPixel) show what lies beneath. False when an image is unusable.
    bool SetChannel(const QImage& normal, const QImage& active = {}, bool transparent = false,
                    QRgb key = kKeyFromPixel, int keyX = 0, int keyY = 0);
    bool SetThumb(const QImage& normal, const QImage& active = {}, bool transparent = false,
                  QRgb key = kKeyFromPixel, int keyX = 0, int keyY = 0);

    // Disabling while dragging ends the drag.
    void Enable(bool enable);
    void EnableFocusRect(bool enable = true, bool redraw = true);
    bool IsDragging() const { return dragging_; }

    // The thumb centre of a value and the value of a pixel, along the channel.
    int ValueToPixel(int value) const;
    int PixelToValue(int pixel) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int Length() const;
    int ThumbSize() const;
    int NearMargin() const;
    int FarMargin() const;
    int Along(const QPoint& point) const;
    void MoveTo(int pointer);
    void Post(UINT message) const;

    HWND notify_ = nullptr;
    WPARAM controlId_ = 0;
    int minimum_ = 0;
    int maximum_ = 100;
    int position_ = 0;
    int pageSize_ = 20;
    bool vertical_ = false;
    bool focusRect_ = true;
    bool dragging_ = false;
    int gripOffset_ = 0;
    int marginLeft_ = 0, marginRight_ = 0, marginTop_ = 0, marginBottom_ = 0;
    QImage channel_, activeChannel_, thumb_, activeThumb_;
};

}  // namespace quil::controls
