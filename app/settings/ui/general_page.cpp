#include "app/settings/ui/general_page.h"

#include <QComboBox>
#include <QLabel>
#include <QVBoxLayout>

#include "app/settings/format_settings.h"
#include "app/settings/option_tables.h"

namespace quil::settings {

GeneralPage::GeneralPage(QWidget* parent) : OptionsPage(parent) {
    setObjectName("generalPage");
    endOption_ = new QComboBox(this);
    endOption_->setObjectName("endOptionList");
    for (std::string_view option : EndOptionTexts()) endOption_->addItem(ToQString(option));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(ToQString(text::kWhenTaskFinished), this));
    layout->addWidget(endOption_);
    layout->addStretch(1);

    endOption_->setCurrentIndex(LoadEndOption());
}

void GeneralPage::Save() {
    SaveEndOption(endOption_->currentIndex());
}

}  // namespace quil::settings
