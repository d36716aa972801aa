#pragma once

// The Format page of the options dialog with its four format sub-pages. Each sub-page loads
// its stored values when it is made and stores them on Save.

#include <QWidget>

#include "app/settings/format_settings.h"
#include "app/settings/ui/options_page.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QPlainTextEdit;
class QSlider;
class QStackedWidget;

namespace quil::settings {

class WmaProfileCatalogue;

class WavOptionsPage : public QWidget {
    Q_OBJECT

public:
    explicit WavOptionsPage(QWidget* parent = nullptr);
    void Save();

private:
    void ApplyPresetRule();

    QComboBox* presets_;
    QComboBox* attributes_;
};

class OggOptionsPage : public QWidget {
    Q_OBJECT

public:
    explicit OggOptionsPage(QWidget* parent = nullptr);
    void Save();

private:
    QComboBox* qualities_;
    QComboBox* attributes_;
};

class Mp3OptionsPage : public QWidget {
    Q_OBJECT

public:
    explicit Mp3OptionsPage(QWidget* parent = nullptr);
    void Save();

private:
    void FillBitRates(int32_t sampleRate, int32_t wanted);
    void OnSampleRateChanged();

    QComboBox* sampleRates_;
    QComboBox* bitRates_;
    QButtonGroup* modes_;
    QCheckBox* flags_[4];
    QSlider* quality_;
    int32_t shownRate_ = 0;
    // The values of set-up or of the last save, searched again after a sample-rate change.
    Mp3Settings remembered_;
};

class WmaOptionsPage : public QWidget {
    Q_OBJECT

public:
    explicit WmaOptionsPage(const WmaProfileCatalogue& catalogue, QWidget* parent = nullptr);
    void Save();

private:
    void OnVersionChanged();
    void OnProfileChanged();
    int32_t CurrentVersion() const;

    const WmaProfileCatalogue& catalogue_;
    QComboBox* versions_;
    QComboBox* profiles_;
    QPlainTextEdit* description_;
    WmaSettings stored_;
};

class FormatPage : public OptionsPage {
    Q_OBJECT

public:
    explicit FormatPage(const WmaProfileCatalogue& catalogue, QWidget* parent = nullptr);
    void Save() override;

private:
    QButtonGroup* formats_;
    QStackedWidget* frame_;
    WavOptionsPage* wav_;
    Mp3OptionsPage* mp3_;
    WmaOptionsPage* wma_;
    OggOptionsPage* ogg_;
};

}  // namespace quil::settings
