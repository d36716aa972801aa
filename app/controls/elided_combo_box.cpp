#include "app/controls/elided_combo_box.h"

#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace quil::controls {

ElidedComboBox::ElidedComboBox(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { setToolTip(text); });
}

QRect ElidedComboBox::TextRect() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    // The icon, when there is one, comes before the text.
    if (!option.currentIcon.isNull()) field.setLeft(field.left() + option.iconSize.width() + 4);
    return field;
}

QString ElidedComboBox::ShownText() const {
    return fontMetrics().elidedText(currentText(), Qt::ElideRight, TextRect().width());
}

void ElidedComboBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    if (!isEditable()) {
        option.currentText = ShownText();
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }
}

}  // namespace quil::controls
