#include "app/settings/ui/save_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/settings/format_settings.h"
#include "app/settings/option_tables.h"
#include "app/settings/output_naming.h"
#include "app/settings/ui/folder_browser.h"

namespace quil::settings {

SavePage::SavePage(FolderBrowser& browser, QWidget* parent)
    : OptionsPage(parent), browser_(browser) {
    setObjectName("savePage");
    folder_ = new QLineEdit(this);
    folder_->setObjectName("folderEdit");
    auto* browse = new QPushButton(ToQString(text::kBrowse), this);
    browse->setObjectName("browseButton");
    browse->setAutoDefault(false);
    prefix_ = new QLineEdit(this);
    prefix_->setObjectName("prefixEdit");
    addDate_ = new QCheckBox(ToQString(text::kCurrentDate), this);
    addDate_->setObjectName("dateCheck");
    suffix_ = new QLineEdit(this);
    suffix_->setObjectName("suffixEdit");

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder_, 1);
    folderRow->addWidget(browse);

    // Left to right as the name is put together.
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(prefix_, 1);
    nameRow->addWidget(new QLabel(ToQString(text::kPlus), this));
    nameRow->addWidget(addDate_);
    nameRow->addWidget(new QLabel(ToQString(text::kPlus), this));
    nameRow->addWidget(new QLabel(ToQString(text::kCurrentTime), this));
    nameRow->addWidget(new QLabel(ToQString(text::kPlus), this));
    nameRow->addWidget(suffix_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(ToQString(text::kOutputLocation), this));
    layout->addLayout(folderRow);
    layout->addSpacing(12);
    layout->addWidget(new QLabel(ToQString(text::kSaveFileName), this));
    layout->addLayout(nameRow);
    layout->addWidget(new QLabel(ToQString(text::kExtensionNote), this));
    layout->addStretch(1);

    ApplyStartupDefaults();
    OutputNamingRule rule = LoadNamingRule();
    folder_->setText(ToQString(rule.folder));
    prefix_->setText(ToQString(rule.prefix));
    suffix_->setText(ToQString(rule.suffix));
    addDate_->setChecked(rule.addDate);

    connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
}

void SavePage::Browse() {
    if (auto folder =
            browser_.BrowseForFolder(this, ToQString(text::kSelectFolder), folder_->text()))
        folder_->setText(*folder);
}

void SavePage::Save() {
    SaveNamingRule({folder_->text().toStdString(), prefix_->text().toStdString(),
                    suffix_->text().toStdString(), addDate_->isChecked()});
}

}  // namespace quil::settings
