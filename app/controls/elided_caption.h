#pragma once

// A one-line caption for a long text such as an output path: a fixed lead ("Output file
// path:  ") stays whole and the rest is shortened in the middle with "…" when the line is too
// narrow, so both the start of the path and the file name's end stay readable. The whole text
// is the tooltip and the accessible description.

#include <QWidget>

namespace quil::controls {

class ElidedCaption : public QWidget {
    Q_OBJECT

public:
    explicit ElidedCaption(QWidget* parent = nullptr);
    void SetText(const QString& lead, const QString& body);
    // The whole text, lead and body.
    QString Text() const { return lead_ + body_; }
    // What the line shows at its current width and font.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString lead_;
    QString body_;
};

}  // namespace quil::controls
