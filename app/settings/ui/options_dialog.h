#pragma once

// The modal options dialog: four pages chosen by tab buttons, a caption per page, and Save
// (stores the page shown, stays open) and Cancel (closes, stores nothing).

#include <QDialog>

#include <array>
#include <memory>

#include "app/settings/ui/options_page.h"

class QButtonGroup;
class QLabel;
class QStackedWidget;

namespace quil::settings {

class FolderBrowser;
class WmaProfileCatalogue;

class OptionsDialog : public QDialog {
    Q_OBJECT

public:
    enum Page { kFormatPage = 0, kSavePage = 1, kGeneralPage = 2, kSchedulePage = 3 };

    // browser: null for the system folder dialog. schedulePage: null for the empty tab; the
    // dialog takes it over.
    explicit OptionsDialog(const WmaProfileCatalogue& catalogue, FolderBrowser* browser = nullptr,
                           OptionsPage* schedulePage = nullptr, QWidget* parent = nullptr);
    ~OptionsDialog() override;

    void ShowPage(int page);
    int CurrentPage() const;
    // The Save button: stores the page shown.
    void SaveCurrentPage();

private:
    std::unique_ptr<FolderBrowser> ownBrowser_;
    QLabel* caption_;
    QButtonGroup* tabs_;
    QStackedWidget* pages_;
    std::array<OptionsPage*, 4> pageList_{};
};

}  // namespace quil::settings
