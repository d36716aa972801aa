#include "app/settings/ui/options_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/settings/option_tables.h"
#include "app/settings/output_naming.h"
#include "app/settings/ui/folder_browser.h"
#include "app/settings/ui/format_pages.h"
#include "app/settings/ui/general_page.h"
#include "app/settings/ui/save_page.h"
#include "app/settings/ui/schedule_page.h"

namespace quil::settings {

namespace {
constexpr const char* kTabNames[] = {"formatTab", "saveTab", "generalTab", "scheduleTab"};
}

OptionsDialog::OptionsDialog(const WmaProfileCatalogue& catalogue, FolderBrowser* browser,
                             OptionsPage* schedulePage, QWidget* parent)
    : QDialog(parent) {
    setObjectName("optionsDialog");
    setWindowTitle(ToQString(text::kDialogTitle));
    setModal(true);
    if (!browser) {
        ownBrowser_ = std::make_unique<QtFolderBrowser>();
        browser = ownBrowser_.get();
    }

    tabs_ = new QButtonGroup(this);
    tabs_->setExclusive(true);
    auto* tabRow = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        auto* tab = new QPushButton(ToQString(text::kTabs[static_cast<size_t>(i)]), this);
        tab->setObjectName(kTabNames[i]);
        tab->setCheckable(true);
        tab->setAutoDefault(false);
        // The style draws a checked button barely darker on a dark palette: the current page's
        // tab takes the highlight colours so it can be told apart.
        connect(tab, &QPushButton::toggled, tab, [tab](bool checked) {
            QPalette colours = QApplication::palette(tab);
            if (checked) {
                colours.setColor(QPalette::Button, colours.color(QPalette::Highlight));
                colours.setColor(QPalette::ButtonText, colours.color(QPalette::HighlightedText));
            }
            tab->setPalette(colours);
        });
        tabs_->addButton(tab, i);
        tabRow->addWidget(tab);
    }
    tabRow->addStretch(1);

    caption_ = new QLabel(this);
    caption_->setObjectName("caption");
    QFont captionFont = caption_->font();
    captionFont.setBold(true);
    caption_->setFont(captionFont);

    // Before any page loads: a loader creates a missing key, and the prefix default is written
    // only into a key that is new.
    ApplyStartupDefaults();
    pages_ = new QStackedWidget(this);
    pageList_ = {new FormatPage(catalogue, pages_), new SavePage(*browser, pages_),
                 new GeneralPage(pages_), schedulePage ? schedulePage : new SchedulePage()};
    for (OptionsPage* page : pageList_) pages_->addWidget(page);

    auto* save = new QPushButton(ToQString(text::kSave), this);
    save->setObjectName("saveButton");
    save->setDefault(true);
    auto* cancel = new QPushButton(ToQString(text::kCancel), this);
    cancel->setObjectName("cancelButton");
    cancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(tabRow);
    layout->addWidget(caption_);
    layout->addWidget(pages_, 1);
    layout->addLayout(buttons);

    connect(tabs_, &QButtonGroup::idClicked, this, [this](int id) { ShowPage(id); });
    connect(save, &QPushButton::clicked, this, [this] { SaveCurrentPage(); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    ShowPage(kFormatPage);
}

OptionsDialog::~OptionsDialog() = default;

void OptionsDialog::ShowPage(int page) {
    if (page < 0 || page >= static_cast<int>(pageList_.size())) return;
    pages_->setCurrentIndex(page);
    tabs_->button(page)->setChecked(true);
    caption_->setText(ToQString(text::kCaptions[static_cast<size_t>(page)]));
}

int OptionsDialog::CurrentPage() const {
    return pages_->currentIndex();
}

void OptionsDialog::SaveCurrentPage() {
    if (auto* page = qobject_cast<OptionsPage*>(pages_->currentWidget())) page->Save();
}

}  // namespace quil::settings
