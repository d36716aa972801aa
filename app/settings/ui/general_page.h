#pragma once

#include "app/settings/ui/options_page.h"

class QComboBox;

namespace quil::settings {

// What the program does when a scheduled task has finished.
class GeneralPage : public OptionsPage {
    Q_OBJECT

public:
    explicit GeneralPage(QWidget* parent = nullptr);
    void Save() override;

private:
    QComboBox* endOption_;
};

}  // namespace quil::settings
