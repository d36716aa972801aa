// The four format sub-pages, set up from stored values and driven through their widgets.

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>

#include "app/settings/format_settings.h"
#include "app/settings/option_tables.h"
#include "app/settings/tests/settings_test_util.h"
#include "app/settings/tests/ui_test_util.h"
#include "app/settings/tests/wmf_profile_grabber.h"
#include "app/settings/ui/format_pages.h"
#include "app/settings/wma_profile_catalogue.h"

namespace quil::settings::test {
namespace {

class FormatPages : public FreshSettings {
protected:
    void SetUp() override {
        EnsureApplication();
        FreshSettings::SetUp();
    }
};

QStringList LabelTexts(QWidget* page) {
    QStringList texts;
    for (auto* label : page->findChildren<QLabel*>()) texts << label->text();
    return texts;
}

QStringList ButtonTexts(QWidget* page) {
    QStringList texts;
    for (auto* button : page->findChildren<QAbstractButton*>()) texts << button->text();
    return texts;
}

QString BitRate(QWidget* page) {
    return Child<QComboBox>(page, "bitRateList")->currentText();
}

TEST_F(FormatPages, Mp3PageTextsAndDefaults) {
    Mp3OptionsPage page;
    EXPECT_TRUE(LabelTexts(&page).contains("Target Sample Rate:"));
    EXPECT_TRUE(LabelTexts(&page).contains("BitRate(KBit/s):"));
    EXPECT_TRUE(LabelTexts(&page).contains("Encoding Quality:"));
    EXPECT_TRUE(LabelTexts(&page).contains("Low"));
    EXPECT_TRUE(LabelTexts(&page).contains("High"));
    EXPECT_EQ(Child<QGroupBox>(&page, "modeGroup")->title(), "Mode Select:");
    EXPECT_EQ(Child<QGroupBox>(&page, "advanceGroup")->title(), "Advance:");
    for (const char* text : {"Stereo", "Joint Strero", "Dual Channel", "Mono", "CopyRight",
                             "CRC Check Sum", "Original Bit Set", "Private Bit Set"})
        EXPECT_TRUE(ButtonTexts(&page).contains(text)) << text;

    auto* rates = Child<QComboBox>(&page, "sampleRateList");
    EXPECT_EQ(Items(rates),
              QStringList({"48kHz", "44.1kHz", "32kHz", "24kHz", "22.05kHz", "16kHz"}));
    EXPECT_EQ(rates->currentText(), "44.1kHz");
    auto* bitRates = Child<QComboBox>(&page, "bitRateList");
    EXPECT_EQ(bitRates->count(), 14);
    EXPECT_EQ(bitRates->itemText(0), "32 kbps");
    EXPECT_EQ(bitRates->itemText(13), "320 kbps");
    EXPECT_EQ(BitRate(&page), "128 kbps");
    EXPECT_EQ(Child<QSlider>(&page, "qualitySlider")->value(), 5);
    EXPECT_EQ(Child<QSlider>(&page, "qualitySlider")->minimum(), 2);
    EXPECT_EQ(Child<QSlider>(&page, "qualitySlider")->maximum(), 9);
}

TEST_F(FormatPages, Mp3PageShowsStoredValuesByItsRules) {
    struct Case {
        int32_t rate, bitRate, quality;
        const char* rateShown;
        const char* bitRateShown;
        int qualityShown;
    } cases[] = {
        {44100, 144, 5, "44.1kHz", "128 kbps", 5},  // not in the high list
        {44100, 0, 0, "44.1kHz", "128 kbps", 5},    // 0 shows 128, quality 0 shows 5
        {48000, 320, 12, "48kHz", "320 kbps", 9},   // quality clamped
        {16000, 8, 1, "16kHz", "8 kbps", 2},
        {22050, 144, 9, "22.05kHz", "144 kbps", 9},
        {22050, 16, 5, "22.05kHz", "16 kbps", 5},
        {44100, 16, 5, "44.1kHz", "128 kbps", 5},  // a whole number, not "160 kbps"
        {11025, 64, 5, "44.1kHz", "64 kbps", 5},   // not one of the six rates
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " " + std::to_string(c.bitRate));
        SaveMp3Settings({c.rate, c.bitRate, 2, c.quality, 0, 1, 0, 1});
        Mp3OptionsPage page;
        EXPECT_EQ(Child<QComboBox>(&page, "sampleRateList")->currentText(), c.rateShown);
        EXPECT_EQ(BitRate(&page), c.bitRateShown);
        EXPECT_EQ(Child<QSlider>(&page, "qualitySlider")->value(), c.qualityShown);
        auto radios = page.findChildren<QRadioButton*>();
        for (auto* radio : radios) EXPECT_EQ(radio->isChecked(), radio->text() == "Dual Channel");
        for (auto* box : page.findChildren<QCheckBox*>()) {
            bool on = box->text() == "CRC Check Sum" || box->text() == "Private Bit Set";
            EXPECT_EQ(box->isChecked(), on) << Str(box->text());
        }
    }
    // The loader still hands the stored 0 to the grabber.
    SaveMp3Settings({44100, 0, 0, 5, 0, 0, 0, 0});
    Mp3OptionsPage page;
    EXPECT_EQ(LoadMp3Settings().bitRate, 0);
}

TEST_F(FormatPages, Mp3SampleRateChangeSwitchesListsAndSearchesTheRememberedRate) {
    SaveMp3Settings({44100, 128, 0, 5, 0, 0, 0, 0});
    Mp3OptionsPage page;
    auto* rates = Child<QComboBox>(&page, "sampleRateList");
    Choose(rates, "16kHz");
    auto* bitRates = Child<QComboBox>(&page, "bitRateList");
    EXPECT_EQ(bitRates->itemText(0), "8 kbps");
    EXPECT_EQ(bitRates->itemText(13), "160 kbps");
    EXPECT_EQ(BitRate(&page), "128 kbps");

    Choose(bitRates, "160 kbps");
    Choose(rates, "48kHz");  // 160 is remembered only once saved
    EXPECT_EQ(BitRate(&page), "128 kbps");

    Choose(bitRates, "224 kbps");
    page.Save();
    Choose(rates, "24kHz");
    EXPECT_EQ(BitRate(&page), "80 kbps");  // 224 is not in the low list: row 8
    Choose(rates, "32kHz");
    EXPECT_EQ(BitRate(&page), "224 kbps");

    SaveMp3Settings({44100, 0, 0, 5, 0, 0, 0, 0});
    Mp3OptionsPage zero;
    Choose(Child<QComboBox>(&zero, "sampleRateList"), "48kHz");
    EXPECT_EQ(BitRate(&zero), "128 kbps");  // row 8 of the high list
}

TEST_F(FormatPages, Mp3SaveClampsBitRatesToTheRatesRange) {
    struct Case {
        const char* rate;
        const char* bitRate;
        int32_t storedRate, storedBitRate;
    } cases[] = {{"48kHz", "320 kbps", 48000, 224}, {"44.1kHz", "256 kbps", 44100, 224},
                 {"32kHz", "224 kbps", 32000, 224}, {"16kHz", "8 kbps", 16000, 32},
                 {"24kHz", "24 kbps", 24000, 32},   {"22.05kHz", "160 kbps", 22050, 160},
                 {"48kHz", "32 kbps", 48000, 32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.rate) + " " + c.bitRate);
        Mp3OptionsPage page;
        Choose(Child<QComboBox>(&page, "sampleRateList"), c.rate);
        Choose(Child<QComboBox>(&page, "bitRateList"), c.bitRate);
        page.Save();
        Mp3Settings stored = LoadMp3Settings();
        EXPECT_EQ(stored.sampleRate, c.storedRate);
        EXPECT_EQ(stored.bitRate, c.storedBitRate);
    }
}

TEST_F(FormatPages, Mp3SaveWritesAllEightValuesFromTheWidgets) {
    Mp3OptionsPage page;
    page.show();
    Choose(Child<QComboBox>(&page, "sampleRateList"), "32kHz");
    Choose(Child<QComboBox>(&page, "bitRateList"), "96 kbps");
    for (auto* radio : page.findChildren<QRadioButton*>()) {
        if (radio->text() == "Mono") Click(radio);
    }
    for (auto* box : page.findChildren<QCheckBox*>()) {
        if (box->text() == "CopyRight" || box->text() == "Original Bit Set") Click(box);
    }
    auto* slider = Child<QSlider>(&page, "qualitySlider");
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_End);
    page.Save();
    EXPECT_EQ(LoadMp3Settings(), (Mp3Settings{32000, 96, 3, 9, 1, 0, 1, 0}));
}

TEST_F(FormatPages, WavPresetRule) {
    WavOptionsPage page;
    auto* presets = Child<QComboBox>(&page, "presetList");
    auto* attributes = Child<QComboBox>(&page, "attributeList");
    EXPECT_EQ(Items(presets),
              QStringList({"CD Quality", "Radio Quality", "Telephone Quality", "Untitled"}));
    ASSERT_EQ(attributes->count(), 36);
    for (int i = 0; i < 36; ++i) EXPECT_EQ(Str(attributes->itemText(i)), PcmFormatTable::Label(i));
    EXPECT_TRUE(LabelTexts(&page).contains("Quality Setting:"));
    EXPECT_TRUE(LabelTexts(&page).contains("Attribute:"));
    EXPECT_EQ(attributes->currentIndex(), 2);
    EXPECT_FALSE(attributes->isEnabled());

    Choose(presets, "Telephone Quality");
    EXPECT_EQ(attributes->currentIndex(), 33);
    EXPECT_EQ(attributes->currentText(), "11.025kHz  8Bits   Mono            10kb/sec");
    EXPECT_FALSE(attributes->isEnabled());
    Choose(presets, "Radio Quality");
    EXPECT_EQ(attributes->currentIndex(), 27);
    EXPECT_FALSE(attributes->isEnabled());
    Choose(presets, "Untitled");
    EXPECT_TRUE(attributes->isEnabled());
    EXPECT_EQ(attributes->currentIndex(), 27);  // kept, as something is selected
    Choose(attributes, ToQString(PcmFormatTable::Label(9)));
    page.Save();
    EXPECT_EQ(LoadWavSettings(), (WavSettings{3, 9}));

    SaveWavSettings({1, 5});
    WavOptionsPage radio;
    EXPECT_EQ(Child<QComboBox>(&radio, "attributeList")->currentIndex(), 27);
    SaveWavSettings({3, 17});
    WavOptionsPage untitled;
    EXPECT_EQ(Child<QComboBox>(&untitled, "attributeList")->currentIndex(), 17);
    EXPECT_TRUE(Child<QComboBox>(&untitled, "attributeList")->isEnabled());
}

TEST_F(FormatPages, OggPageListsAndSave) {
    SaveOggSettings({20, 3});
    OggOptionsPage page;
    auto* qualities = Child<QComboBox>(&page, "qualityList");
    auto* attributes = Child<QComboBox>(&page, "attributeList");
    EXPECT_EQ(Items(qualities), QStringList({"0 (Best Speed)", "1", "2", "3", "4", "5", "6", "7",
                                             "8", "9 (Best Quality)"}));
    EXPECT_EQ(attributes->count(), 36);
    EXPECT_EQ(qualities->currentIndex(), 3);
    EXPECT_EQ(attributes->currentIndex(), 20);
    Choose(qualities, "9 (Best Quality)");
    Choose(attributes, ToQString(PcmFormatTable::Label(0)));
    page.Save();
    EXPECT_EQ(LoadOggSettings(), (OggSettings{0, 9}));

    RemoveSettingsKey();
    OggOptionsPage defaults;
    EXPECT_EQ(Child<QComboBox>(&defaults, "qualityList")->currentText(), "6");
    EXPECT_EQ(Child<QComboBox>(&defaults, "attributeList")->currentIndex(), 2);
}

WmaProfileCatalogue SystemCatalogue() {
    ProfileManagerGrabber grabber;
    return WmaProfileCatalogue::BuildFrom(grabber);
}

TEST_F(FormatPages, WmaPageWithoutStoredVersionOpensOnTheLastVersion7Profile) {
    WmaProfileCatalogue catalogue = SystemCatalogue();
    ASSERT_FALSE(catalogue.List(7).empty());
    WmaOptionsPage page(catalogue);
    EXPECT_TRUE(LabelTexts(&page).contains("WMA version:"));
    EXPECT_TRUE(LabelTexts(&page).contains("Encoder Property:"));
    EXPECT_TRUE(LabelTexts(&page).contains("Description:"));
    auto* versions = Child<QComboBox>(&page, "versionList");
    auto* profiles = Child<QComboBox>(&page, "profileList");
    EXPECT_EQ(Items(versions),
              QStringList(
                  {"Windows Media Audio (wma) version 4", "Windows Media Audio (wma) version 7",
                   "Windows Media Audio (wma) version 8", "Windows Media Audio (wma) version 9"}));
    EXPECT_EQ(versions->currentText(), "Windows Media Audio (wma) version 7");
    ASSERT_EQ(profiles->count(), static_cast<int>(catalogue.List(7).size()));
    EXPECT_EQ(Str(profiles->currentText()), catalogue.LastName(7));
    EXPECT_EQ(Str(Child<QPlainTextEdit>(&page, "descriptionBox")->toPlainText()),
              catalogue.List(7).back().description);
    QFontMetrics metrics(profiles->view()->font());
    for (int i = 0; i < profiles->count(); ++i)
        EXPECT_GE(profiles->view()->minimumWidth(),
                  metrics.horizontalAdvance(profiles->itemText(i)));

    page.Save();
    EXPECT_EQ(LoadStoredWmaSettings(), (WmaSettings{7, catalogue.LastName(7)}));
}

TEST_F(FormatPages, WmaPageFindsTheStoredProfileAndFollowsVersionChanges) {
    WmaProfileCatalogue catalogue;
    catalogue.Add(7, {true, 0, "Speech 24", 0, "seven speech"});
    catalogue.Add(7, {true, 0, "Music 64", 0, "seven music"});
    catalogue.Add(9, {true, 0, "CD quality", 0, "nine cd"});
    catalogue.Add(9, {true, 0, "CD quality 128", 0, "nine cd 128"});
    catalogue.Add(9, {true, 0, "Speech", 0, "nine speech"});

    SaveWmaSettings({9, "CD quality"});
    WmaOptionsPage page(catalogue);
    auto* versions = Child<QComboBox>(&page, "versionList");
    auto* profiles = Child<QComboBox>(&page, "profileList");
    auto* description = Child<QPlainTextEdit>(&page, "descriptionBox");
    EXPECT_EQ(versions->count(), 2);  // 4 and 8 have no profiles
    EXPECT_EQ(versions->currentText(), "Windows Media Audio (wma) version 9");
    EXPECT_EQ(profiles->currentText(), "CD quality");
    EXPECT_EQ(description->toPlainText(), "nine cd");

    Choose(profiles, "Speech");
    EXPECT_EQ(description->toPlainText(), "nine speech");
    Choose(versions, "Windows Media Audio (wma) version 7");
    EXPECT_EQ(Items(profiles), QStringList({"Speech 24", "Music 64"}));
    EXPECT_EQ(profiles->currentText(), "Music 64");  // the stored name is not in this list
    EXPECT_EQ(description->toPlainText(), "seven music");
    page.Save();
    EXPECT_EQ(LoadStoredWmaSettings(), (WmaSettings{7, "Music 64"}));

    SaveWmaSettings({9, "cd QUALITY 1"});  // a case-insensitive prefix
    WmaOptionsPage prefix(catalogue);
    EXPECT_EQ(Child<QComboBox>(&prefix, "profileList")->currentText(), "CD quality 128");

    SaveWmaSettings({4, "Anything"});  // a version with no list: the first offered
    WmaOptionsPage absent(catalogue);
    EXPECT_EQ(Child<QComboBox>(&absent, "versionList")->currentText(),
              "Windows Media Audio (wma) version 7");
    EXPECT_EQ(Child<QComboBox>(&absent, "profileList")->currentText(), "Music 64");
}

TEST_F(FormatPages, WmaPageWithAnEmptyCatalogue) {
    WmaProfileCatalogue empty;
    WmaOptionsPage page(empty);
    EXPECT_EQ(Child<QComboBox>(&page, "versionList")->count(), 0);
    EXPECT_EQ(Child<QComboBox>(&page, "profileList")->count(), 0);
    page.Save();
    EXPECT_EQ(LoadStoredWmaSettings(), (WmaSettings{7, ""}));
}

}  // namespace
}  // namespace quil::settings::test
