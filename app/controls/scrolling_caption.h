#pragma once

// A one-line caption that scrolls its text sideways when it is wider than the control, so a
// long output path can be read in full. It only animates while the text does not fit.

#include <QTimer>
#include <QWidget>

namespace quil::controls {

class ScrollingCaption : public QWidget {
    Q_OBJECT

public:
    explicit ScrollingCaption(QWidget* parent = nullptr);
    void SetText(const QString& text);
    QString Text() const { return text_; }
    bool IsScrolling() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Restart();

    QString text_;
    QTimer timer_;
    int offset_ = 0;
    int pause_ = 0;
};

}  // namespace quil::controls
