#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>

#include "app/settings/option_tables.h"
#include "app/settings/ui/format_pages.h"

namespace quil::settings {

namespace {

// The PCM labels line up in columns only in a fixed-pitch font.
QComboBox* MakeAttributeList(QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setObjectName("attributeList");
    list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    for (std::string_view label : PcmFormatTable::Labels()) list->addItem(ToQString(label));
    return list;
}

}  // namespace

WavOptionsPage::WavOptionsPage(QWidget* parent) : QWidget(parent) {
    setObjectName("wavOptionsPage");
    presets_ = new QComboBox(this);
    presets_->setObjectName("presetList");
    for (const auto& preset : WavPresets()) presets_->addItem(ToQString(preset.label));
    attributes_ = MakeAttributeList(this);

    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(ToQString(text::kQualitySetting), this), 0, 0);
    layout->addWidget(presets_, 0, 1);
    layout->addWidget(new QLabel(ToQString(text::kAttribute), this), 1, 0);
    layout->addWidget(attributes_, 1, 1);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(2, 1);

    WavSettings stored = LoadWavSettings();
    presets_->setCurrentIndex(stored.preset);
    attributes_->setCurrentIndex(stored.attribute);
    ApplyPresetRule();
    connect(presets_, &QComboBox::currentIndexChanged, this, [this] { ApplyPresetRule(); });
}

void WavOptionsPage::ApplyPresetRule() {
    int preset = presets_->currentIndex();
    if (preset < 0 || preset >= static_cast<int>(WavPresets().size())) return;
    int row = WavPresets()[static_cast<size_t>(preset)].attribute;
    if (row >= 0) {
        attributes_->setCurrentIndex(row);
        attributes_->setEnabled(false);
        return;
    }
    attributes_->setEnabled(true);
    if (attributes_->currentIndex() < 0)
        attributes_->setCurrentIndex(engine::kDefaultWavFormatIndex);
}

void WavOptionsPage::Save() {
    SaveWavSettings({presets_->currentIndex(), attributes_->currentIndex()});
}

OggOptionsPage::OggOptionsPage(QWidget* parent) : QWidget(parent) {
    setObjectName("oggOptionsPage");
    qualities_ = new QComboBox(this);
    qualities_->setObjectName("qualityList");
    for (std::string_view label : OggQualities()) qualities_->addItem(ToQString(label));
    attributes_ = MakeAttributeList(this);

    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(ToQString(text::kQualitySetting), this), 0, 0);
    layout->addWidget(qualities_, 0, 1);
    layout->addWidget(new QLabel(ToQString(text::kAttribute), this), 1, 0);
    layout->addWidget(attributes_, 1, 1);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(2, 1);

    OggSettings stored = LoadOggSettings();
    qualities_->setCurrentIndex(stored.quality);
    attributes_->setCurrentIndex(stored.attribute);
}

void OggOptionsPage::Save() {
    SaveOggSettings({attributes_->currentIndex(), qualities_->currentIndex()});
}

}  // namespace quil::settings
