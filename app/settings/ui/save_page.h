#pragma once

#include "app/settings/ui/options_page.h"

class QCheckBox;
class QLineEdit;

namespace quil::settings {

class FolderBrowser;

// The output folder and the parts of every file name.
class SavePage : public OptionsPage {
    Q_OBJECT

public:
    SavePage(FolderBrowser& browser, QWidget* parent = nullptr);
    void Save() override;

private:
    void Browse();

    FolderBrowser& browser_;
    QLineEdit* folder_;
    QLineEdit* prefix_;
    QCheckBox* addDate_;
    QLineEdit* suffix_;
};

}  // namespace quil::settings
