#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStyle>

#include <algorithm>

#include "app/settings/option_tables.h"
#include "app/settings/ui/format_pages.h"
#include "app/settings/wma_profile_catalogue.h"

namespace quil::settings {

WmaOptionsPage::WmaOptionsPage(const WmaProfileCatalogue& catalogue, QWidget* parent)
    : QWidget(parent), catalogue_(catalogue) {
    setObjectName("wmaOptionsPage");
    versions_ = new QComboBox(this);
    versions_->setObjectName("versionList");
    profiles_ = new QComboBox(this);
    profiles_->setObjectName("profileList");
    // Profile names are long; the box follows the page and its list opens wider.
    profiles_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    profiles_->setMinimumContentsLength(24);
    description_ = new QPlainTextEdit(this);
    description_->setObjectName("descriptionBox");
    description_->setReadOnly(true);

    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(ToQString(text::kWmaVersion), this), 0, 0);
    layout->addWidget(versions_, 0, 1);
    layout->addWidget(new QLabel(ToQString(text::kEncoderProperty), this), 1, 0);
    layout->addWidget(profiles_, 1, 1);
    layout->addWidget(new QLabel(ToQString(text::kDescription), this), 2, 0, Qt::AlignTop);
    layout->addWidget(description_, 2, 1);
    layout->setColumnStretch(1, 1);

    stored_ = LoadWmaSettings(catalogue_);
    for (int32_t version : kWmaVersions) {
        if (!catalogue_.List(version).empty())
            versions_->addItem(ToQString(WmaVersionLabel(version)), version);
    }
    int row = versions_->findData(stored_.version);
    versions_->setCurrentIndex(row >= 0 ? row : 0);
    OnVersionChanged();

    connect(versions_, &QComboBox::currentIndexChanged, this, [this] { OnVersionChanged(); });
    connect(profiles_, &QComboBox::currentIndexChanged, this, [this] { OnProfileChanged(); });
}

int32_t WmaOptionsPage::CurrentVersion() const {
    return versions_->currentIndex() >= 0 ? versions_->currentData().toInt() : stored_.version;
}

void WmaOptionsPage::OnVersionChanged() {
    QSignalBlocker quiet(profiles_);
    profiles_->clear();
    QFontMetrics metrics(profiles_->view()->font());
    int widest = 0;
    for (const auto& entry : catalogue_.List(CurrentVersion())) {
        QString name = ToQString(entry.name);
        profiles_->addItem(name);
        widest = std::max(widest, metrics.horizontalAdvance(name));
    }
    // An exact name first, so a name that starts another one still finds itself.
    QString wanted = ToQString(stored_.profile);
    int row = profiles_->findText(wanted, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (row < 0 && !wanted.isEmpty()) row = profiles_->findText(wanted, Qt::MatchStartsWith);
    profiles_->setCurrentIndex(row >= 0 ? row : profiles_->count() - 1);
    int extra = style()->pixelMetric(QStyle::PM_ScrollBarExtent) +
                2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    profiles_->view()->setMinimumWidth(widest + extra);
    OnProfileChanged();
}

void WmaOptionsPage::OnProfileChanged() {
    QString selected = profiles_->currentText();
    if (selected.isEmpty()) return;
    const WmaProfileEntry* entry = catalogue_.Find(CurrentVersion(), selected.toStdString());
    description_->setPlainText(entry ? ToQString(entry->description) : QString());
}

void WmaOptionsPage::Save() {
    WmaSettings settings{CurrentVersion(), profiles_->currentText().toStdString()};
    SaveWmaSettings(settings);
    stored_ = LoadWmaSettings(catalogue_);
}

}  // namespace quil::settings
