#pragma once

#include <QString>
#include <QWidget>

#include <string_view>

namespace quil::settings {

// A page of the options dialog; the dialog's Save button stores the page shown.
class OptionsPage : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
    virtual void Save() = 0;
};

inline QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace quil::settings
