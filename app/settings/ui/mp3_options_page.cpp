#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

#include "app/settings/option_tables.h"
#include "app/settings/ui/format_pages.h"

namespace quil::settings {

namespace {

constexpr int kQualityLow = 2;
constexpr int kQualityHigh = 9;
constexpr int kFallbackBitRateRow = 8;

// The row whose number is `bitRate`; a bare prefix would take "160 kbps" for 16.
int FindBitRateRow(std::span<const int32_t> list, int32_t bitRate) {
    auto it = std::find(list.begin(), list.end(), bitRate);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

}  // namespace

Mp3OptionsPage::Mp3OptionsPage(QWidget* parent) : QWidget(parent) {
    setObjectName("mp3OptionsPage");
    sampleRates_ = new QComboBox(this);
    sampleRates_->setObjectName("sampleRateList");
    for (const auto& rate : Mp3SampleRates())
        sampleRates_->addItem(ToQString(rate.label), rate.rate);
    bitRates_ = new QComboBox(this);
    bitRates_->setObjectName("bitRateList");

    auto* modeBox = new QGroupBox(ToQString(text::kModeSelect), this);
    modeBox->setObjectName("modeGroup");
    auto* modeLayout = new QGridLayout(modeBox);
    modes_ = new QButtonGroup(this);
    auto channelModes = Mp3ChannelModes();
    for (size_t i = 0; i < channelModes.size(); ++i) {
        auto* radio = new QRadioButton(ToQString(channelModes[i]), modeBox);
        modes_->addButton(radio, static_cast<int>(i));
        modeLayout->addWidget(radio, static_cast<int>(i / 2), static_cast<int>(i % 2));
    }

    auto* advanceBox = new QGroupBox(ToQString(text::kAdvance), this);
    advanceBox->setObjectName("advanceGroup");
    auto* advanceLayout = new QGridLayout(advanceBox);
    for (size_t i = 0; i < 4; ++i) {
        flags_[i] = new QCheckBox(ToQString(text::kMp3Flags[i]), advanceBox);
        advanceLayout->addWidget(flags_[i], static_cast<int>(i / 2), static_cast<int>(i % 2));
    }

    quality_ = new QSlider(Qt::Horizontal, this);
    quality_->setObjectName("qualitySlider");
    quality_->setRange(kQualityLow, kQualityHigh);
    quality_->setPageStep(1);
    // Ticks on both sides keep the groove in the middle, level with "Low" and "High".
    quality_->setTickPosition(QSlider::TicksBothSides);
    quality_->setTickInterval(1);
    auto* qualityRow = new QHBoxLayout;
    qualityRow->addWidget(new QLabel(ToQString(text::kLow), this));
    qualityRow->addWidget(quality_, 1);
    qualityRow->addWidget(new QLabel(ToQString(text::kHigh), this));

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(ToQString(text::kTargetSampleRate), this), 0, 0);
    grid->addWidget(sampleRates_, 0, 1);
    grid->addWidget(new QLabel(ToQString(text::kBitRate), this), 1, 0);
    grid->addWidget(bitRates_, 1, 1);
    grid->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(modeBox);
    layout->addWidget(advanceBox);
    layout->addWidget(new QLabel(ToQString(text::kEncodingQuality), this));
    layout->addLayout(qualityRow);
    layout->addStretch(1);

    remembered_ = LoadMp3Settings();
    sampleRates_->setCurrentIndex(1);  // "44.1kHz"
    int rateRow = sampleRates_->findData(remembered_.sampleRate);
    if (rateRow >= 0) sampleRates_->setCurrentIndex(rateRow);
    // A stored 0 means the encoder's default, shown as 128.
    FillBitRates(remembered_.sampleRate, remembered_.bitRate == 0 ? 128 : remembered_.bitRate);
    int quality = remembered_.quality == 0 ? 5 : remembered_.quality;
    quality_->setValue(std::clamp(quality, kQualityLow, kQualityHigh));
    const int32_t flags[4] = {remembered_.copyright, remembered_.crc, remembered_.original,
                              remembered_.privateBit};
    for (size_t i = 0; i < 4; ++i) flags_[i]->setChecked(flags[i] != 0);
    if (auto* mode = modes_->button(remembered_.channelMode)) mode->setChecked(true);

    connect(sampleRates_, &QComboBox::currentIndexChanged, this, [this] { OnSampleRateChanged(); });
}

void Mp3OptionsPage::FillBitRates(int32_t sampleRate, int32_t wanted) {
    shownRate_ = sampleRate;
    auto list = Mp3BitRates(sampleRate);
    bitRates_->clear();
    for (int32_t rate : list) bitRates_->addItem(QString::number(rate) + " kbps", rate);
    int row = FindBitRateRow(list, wanted);
    bitRates_->setCurrentIndex(row >= 0 ? row : kFallbackBitRateRow);
}

void Mp3OptionsPage::OnSampleRateChanged() {
    int32_t rate = sampleRates_->currentData().toInt();
    FillBitRates(rate, remembered_.bitRate);
}

void Mp3OptionsPage::Save() {
    Mp3Settings settings;
    settings.sampleRate = sampleRates_->currentData().toInt();
    auto list = Mp3BitRates(shownRate_);
    int row = bitRates_->currentIndex();
    settings.bitRate = row >= 0 ? list[static_cast<size_t>(row)] : 128;
    if (settings.sampleRate >= 32000 && settings.bitRate > 224) settings.bitRate = 224;
    if (settings.sampleRate < 32000 && settings.bitRate < 32) settings.bitRate = 32;
    settings.quality = quality_->value();
    settings.channelMode = std::max(modes_->checkedId(), 0);
    settings.copyright = flags_[0]->isChecked() ? 1 : 0;
    settings.crc = flags_[1]->isChecked() ? 1 : 0;
    settings.original = flags_[2]->isChecked() ? 1 : 0;
    settings.privateBit = flags_[3]->isChecked() ? 1 : 0;
    SaveMp3Settings(settings);
    remembered_ = settings;
}

}  // namespace quil::settings
