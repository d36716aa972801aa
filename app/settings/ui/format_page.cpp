#include <QButtonGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/settings/option_tables.h"
#include "app/settings/ui/format_pages.h"

namespace quil::settings {

FormatPage::FormatPage(const WmaProfileCatalogue& catalogue, QWidget* parent)
    : OptionsPage(parent) {
    setObjectName("formatPage");
    formats_ = new QButtonGroup(this);
    auto* radios = new QHBoxLayout;
    for (int i = 0; i < kOutputFormatCount; ++i) {
        auto* radio =
            new QRadioButton(ToQString(text::kFormatRadios[static_cast<size_t>(i)]), this);
        radio->setObjectName(ToQString(text::kFormatRadios[static_cast<size_t>(i)]).toLower() +
                             "Radio");
        formats_->addButton(radio, i);
        radios->addWidget(radio);
    }
    radios->addStretch(1);

    frame_ = new QStackedWidget(this);
    frame_->setFrameShape(QFrame::StyledPanel);
    wav_ = new WavOptionsPage(frame_);
    mp3_ = new Mp3OptionsPage(frame_);
    wma_ = new WmaOptionsPage(catalogue, frame_);
    ogg_ = new OggOptionsPage(frame_);
    frame_->addWidget(wav_);
    frame_->addWidget(mp3_);
    frame_->addWidget(wma_);
    frame_->addWidget(ogg_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(radios);
    layout->addWidget(frame_, 1);

    int stored = LoadOutputFormat();
    if (stored < kMp3 || stored > kOgg) stored = kWav;
    formats_->button(stored)->setChecked(true);
    frame_->setCurrentIndex(stored);
    connect(formats_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) frame_->setCurrentIndex(id);
    });
}

void FormatPage::Save() {
    int format = formats_->checkedId();
    if (format < 0) format = kWav;
    SaveOutputFormat(format);
    switch (format) {
        case kWav:
            wav_->Save();
            break;
        case kMp3:
            mp3_->Save();
            break;
        case kWma:
            wma_->Save();
            break;
        case kOgg:
            ogg_->Save();
            break;
        default:
            break;
    }
}

}  // namespace quil::settings
