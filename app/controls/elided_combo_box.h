#pragma once

// A drop-down list whose shown entry is shortened with "…" when the box is narrower than it
// (a long device name), instead of being cut at the arrow; the whole entry is the tooltip.

#include <QComboBox>

namespace quil::controls {

class ElidedComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit ElidedComboBox(QWidget* parent = nullptr);
    // What the box shows of the current entry at its current width.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect TextRect() const;
};

}  // namespace quil::controls
