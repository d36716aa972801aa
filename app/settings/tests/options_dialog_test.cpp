// The options dialog driven through its buttons: tabs, captions, Save of the page shown only,
// Cancel, the folder browser, and a screenshot of every page with no control cut off.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>

#include <filesystem>
#include <map>

#include "app/settings/format_settings.h"
#include "app/settings/option_tables.h"
#include "app/settings/output_naming.h"
#include "app/settings/tests/settings_test_util.h"
#include "app/settings/tests/ui_test_util.h"
#include "app/settings/tests/wmf_profile_grabber.h"
#include "app/settings/ui/folder_browser.h"
#include "app/settings/ui/options_dialog.h"
#include "app/settings/wma_profile_catalogue.h"
#include "platform/registry/user_folders.h"

namespace quil::settings::test {
namespace {

class ScriptedFolderBrowser : public FolderBrowser {
public:
    std::optional<QString> answer;
    QString titleSeen, startSeen;
    int calls = 0;
    std::optional<QString> BrowseForFolder(QWidget*, const QString& title,
                                           const QString& start) override {
        ++calls;
        titleSeen = title;
        startSeen = start;
        return answer;
    }
};

// Everything stored under the settings key, to compare before and after.
std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> values;
    for (const auto& value : RawKey().Values()) {
        if (value.Type() == registry::ValueType::Dword)
            values[value.name] = "dword " + std::to_string(std::get<uint32_t>(value.data));
        else
            values[value.name] = "text " + std::get<std::string>(value.data);
    }
    return values;
}

class OptionsDialogTest : public FreshSettings {
protected:
    void SetUp() override {
        EnsureApplication();
        FreshSettings::SetUp();
        ProfileManagerGrabber grabber;
        catalogue_ = WmaProfileCatalogue::BuildFrom(grabber);
    }
    std::unique_ptr<OptionsDialog> Open() {
        auto dialog = std::make_unique<OptionsDialog>(catalogue_, &browser_);
        dialog->show();
        return dialog;
    }
    QPushButton* Tab(OptionsDialog* dialog, int page) {
        const char* names[] = {"formatTab", "saveTab", "generalTab", "scheduleTab"};
        return Child<QPushButton>(dialog, names[page]);
    }
    QWidget* ShownSubPage(OptionsDialog* dialog) {
        return Child<QWidget>(dialog, "formatPage")->findChild<QStackedWidget*>()->currentWidget();
    }

    WmaProfileCatalogue catalogue_;
    ScriptedFolderBrowser browser_;
};

TEST_F(OptionsDialogTest, TabsSwitchPagesAndCaptions) {
    auto dialog = Open();
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(dialog->CurrentPage(), 0);
    auto* caption = Child<QLabel>(dialog.get(), "caption");
    EXPECT_EQ(caption->text(), "Set output format");
    EXPECT_EQ(Child<QPushButton>(dialog.get(), "saveButton")->text(), "Save");
    EXPECT_EQ(Child<QPushButton>(dialog.get(), "cancelButton")->text(), "Cancel");

    const char* tabs[] = {"Format", "Save", "General", "Schedule"};
    const char* captions[] = {"Set output format", "Set output location and name rules",
                              "General setting", "Edit recoder schedule"};
    const char* pages[] = {"formatPage", "savePage", "generalPage", "schedulePage"};
    for (int page : {1, 2, 3, 0, 2}) {
        SCOPED_TRACE(page);
        QPushButton* tab = Tab(dialog.get(), page);
        EXPECT_EQ(tab->text(), tabs[page]);
        Click(tab);
        EXPECT_EQ(dialog->CurrentPage(), page);
        EXPECT_TRUE(tab->isChecked());
        EXPECT_EQ(caption->text(), captions[page]);
        EXPECT_TRUE(Child<QWidget>(dialog.get(), pages[page])->isVisible());
        // Only the current page's tab is drawn in the highlight colours.
        const QColor highlight = QApplication::palette().color(QPalette::Highlight);
        for (int other = 0; other < 4; ++other)
            EXPECT_EQ(Tab(dialog.get(), other)->palette().color(QPalette::Button) == highlight,
                      other == page)
                << other;
    }
}

TEST_F(OptionsDialogTest, FormatRadiosShowTheirSubPage) {
    SaveOutputFormat(kWma);
    auto dialog = Open();
    EXPECT_TRUE(Child<QRadioButton>(dialog.get(), "wmaRadio")->isChecked());
    EXPECT_EQ(ShownSubPage(dialog.get())->objectName(), "wmaOptionsPage");
    const std::pair<const char*, const char*> radios[] = {{"mp3Radio", "mp3OptionsPage"},
                                                          {"oggRadio", "oggOptionsPage"},
                                                          {"wavRadio", "wavOptionsPage"}};
    for (const auto& [radio, subPage] : radios) {
        Click(Child<QRadioButton>(dialog.get(), radio));
        EXPECT_EQ(ShownSubPage(dialog.get())->objectName(), subPage);
    }
    EXPECT_EQ(Child<QRadioButton>(dialog.get(), "wavRadio")->text(), "Wav");
    EXPECT_EQ(Child<QRadioButton>(dialog.get(), "mp3Radio")->text(), "Mp3");
    EXPECT_EQ(Child<QRadioButton>(dialog.get(), "wmaRadio")->text(), "Wma");
    EXPECT_EQ(Child<QRadioButton>(dialog.get(), "oggRadio")->text(), "Ogg");

    RawKey().WriteDword("Output format", 9);
    auto other = Open();
    EXPECT_TRUE(Child<QRadioButton>(other.get(), "wavRadio")->isChecked());
}

TEST_F(OptionsDialogTest, SaveOnTheFormatPageStoresOnlyTheChosenFormat) {
    auto dialog = Open();
    auto* wav = Child<QWidget>(dialog.get(), "wavOptionsPage");
    Choose(Child<QComboBox>(wav, "presetList"), "Untitled");
    Choose(Child<QComboBox>(wav, "attributeList"), ToQString(PcmFormatTable::Label(5)));
    Click(Child<QRadioButton>(dialog.get(), "mp3Radio"));
    auto* mp3 = Child<QWidget>(dialog.get(), "mp3OptionsPage");
    Choose(Child<QComboBox>(mp3, "bitRateList"), "192 kbps");
    // Also edits on other pages, which this Save must not store.
    Click(Tab(dialog.get(), 1));
    Child<QLineEdit>(dialog.get(), "prefixEdit")->setText("not stored");
    Click(Tab(dialog.get(), 0));
    auto before = Snapshot();

    Click(Child<QPushButton>(dialog.get(), "saveButton"));
    EXPECT_TRUE(dialog->isVisible());  // Save leaves the dialog open
    auto after = Snapshot();
    std::map<std::string, std::string> added;
    for (const auto& [name, value] : after) {
        if (before[name] != value) added[name] = value;
    }
    std::map<std::string, std::string> expected = {
        {"Output format", "dword 1"},      {"Mp3 SampleRate", "dword 44100"},
        {"Mp3 BitRate", "dword 192"},      {"Mp3 Channle", "dword 0"},
        {"Mp3 Quality", "dword 5"},        {"Mp3 CopyRight", "dword 0"},
        {"Mp3 CRC Check", "dword 0"},      {"Mp3 Original Bit Set", "dword 0"},
        {"Mp3 Private Bit Set", "dword 0"}};
    EXPECT_EQ(added, expected);
    EXPECT_EQ(LoadWavSettings(), WavSettings{});
    EXPECT_EQ(LoadNamingRule().prefix, "Quilmain");
}

TEST_F(OptionsDialogTest, SaveOnTheSaveAndGeneralPagesStoresOnlyThem) {
    auto dialog = Open();
    Click(Child<QRadioButton>(dialog.get(), "oggRadio"));
    Click(Tab(dialog.get(), 1));
    EXPECT_EQ(Str(Child<QLineEdit>(dialog.get(), "folderEdit")->text()),
              (DataFolder() / "Quilfetch/").string());
    EXPECT_EQ(Child<QLineEdit>(dialog.get(), "prefixEdit")->text(), "Quilmain");
    Child<QLineEdit>(dialog.get(), "folderEdit")->setText("/rec");
    Child<QLineEdit>(dialog.get(), "prefixEdit")->setText("take");
    Child<QLineEdit>(dialog.get(), "suffixEdit")->setText("_b");
    Click(Child<QCheckBox>(dialog.get(), "dateCheck"));
    Click(Child<QPushButton>(dialog.get(), "saveButton"));
    EXPECT_EQ(LoadNamingRule(), (OutputNamingRule{"/rec", "take", "_b", true}));
    EXPECT_FALSE(RawKey().ReadDword("Output format"));
    EXPECT_FALSE(RawKey().ReadDword("End Option"));

    Click(Tab(dialog.get(), 2));
    auto* endOptions = Child<QComboBox>(dialog.get(), "endOptionList");
    EXPECT_EQ(Items(endOptions), QStringList({"NULL", "Close Quillet", "Shut down"}));
    Choose(endOptions, "Shut down");
    Click(Child<QPushButton>(dialog.get(), "saveButton"));
    EXPECT_EQ(LoadEndOption(), kEndShutDown);
    EXPECT_FALSE(RawKey().ReadDword("Output format"));
    EXPECT_FALSE(RawKey().ReadDword("Ogg Quality"));

    auto before = Snapshot();
    Click(Tab(dialog.get(), 3));
    Click(Child<QPushButton>(dialog.get(), "saveButton"));
    EXPECT_EQ(Snapshot(), before);

    auto reopened = Open();
    Click(Tab(reopened.get(), 2));
    EXPECT_EQ(Child<QComboBox>(reopened.get(), "endOptionList")->currentText(), "Shut down");
}

TEST_F(OptionsDialogTest, CancelClosesAndStoresNothing) {
    ApplyStartupDefaults();
    SaveMp3Settings({48000, 160, 1, 4, 0, 0, 0, 0});
    auto before = Snapshot();
    auto dialog = Open();
    Click(Child<QRadioButton>(dialog.get(), "mp3Radio"));
    Choose(Child<QComboBox>(dialog.get(), "bitRateList"), "64 kbps");
    Click(Tab(dialog.get(), 1));
    Child<QLineEdit>(dialog.get(), "suffixEdit")->setText("_lost");
    Click(Tab(dialog.get(), 2));
    Choose(Child<QComboBox>(dialog.get(), "endOptionList"), "Close Quillet");
    Click(Child<QPushButton>(dialog.get(), "cancelButton"));
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(OptionsDialogTest, TheSavePageTexts) {
    auto dialog = Open();
    Click(Tab(dialog.get(), 1));
    QStringList labels;
    for (auto* label : Child<QWidget>(dialog.get(), "savePage")->findChildren<QLabel*>())
        labels << label->text();
    for (const char* text : {"Output location:", "Save file name:", "Current Time", "+",
                             ".wav/.mp3/.wma/.ogg (Base on output format)"})
        EXPECT_TRUE(labels.contains(text)) << text;
    EXPECT_EQ(labels.count("+"), 3);
    EXPECT_EQ(Child<QCheckBox>(dialog.get(), "dateCheck")->text(), "Current Date");
    EXPECT_EQ(Child<QPushButton>(dialog.get(), "browseButton")->text(), "Browse");
}

TEST_F(OptionsDialogTest, BrowseTakesTheChosenFolder) {
    auto dialog = Open();
    Click(Tab(dialog.get(), 1));
    auto* folder = Child<QLineEdit>(dialog.get(), "folderEdit");
    QString original = folder->text();

    Click(Child<QPushButton>(dialog.get(), "browseButton"));
    EXPECT_EQ(browser_.calls, 1);
    EXPECT_EQ(browser_.titleSeen, "Please select a folder");
    EXPECT_EQ(browser_.startSeen, original);
    EXPECT_EQ(folder->text(), original);  // cancelled

    browser_.answer = "/media/recordings";
    Click(Child<QPushButton>(dialog.get(), "browseButton"));
    EXPECT_EQ(folder->text(), "/media/recordings");
    Click(Child<QPushButton>(dialog.get(), "saveButton"));
    EXPECT_EQ(LoadNamingRule().folder, "/media/recordings");
}

// Every label, button and list shows its whole text and lies inside the dialog.
void ExpectNothingClipped(QWidget* dialog, const QString& page) {
    QRect inside = dialog->rect();
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        if (!widget->isVisible()) continue;
        bool textual = qobject_cast<QLabel*>(widget) || qobject_cast<QAbstractButton*>(widget) ||
                       qobject_cast<QComboBox*>(widget);
        if (!textual) continue;
        QString what = page + ": " + widget->metaObject()->className() + " " +
                       widget->objectName() + " '" +
                       (qobject_cast<QLabel*>(widget) ? qobject_cast<QLabel*>(widget)->text()
                        : qobject_cast<QAbstractButton*>(widget)
                            ? qobject_cast<QAbstractButton*>(widget)->text()
                            : qobject_cast<QComboBox*>(widget)->currentText()) +
                       "'";
        QSize hint =
            qobject_cast<QComboBox*>(widget) ? widget->minimumSizeHint() : widget->sizeHint();
        EXPECT_GE(widget->width(), hint.width()) << Str(what);
        EXPECT_GE(widget->height(), hint.height()) << Str(what);
        QRect placed(widget->mapTo(dialog, QPoint(0, 0)), widget->size());
        EXPECT_TRUE(inside.contains(placed)) << Str(what);
    }
}

std::filesystem::path ScreenshotFolder() {
    if (const char* folder = std::getenv("QUIL_SCREENSHOT_DIR"); folder && *folder) return folder;
    return QUIL_SETTINGS_SCREENSHOT_DIR;
}

TEST_F(OptionsDialogTest, ScreenshotsOfEveryPageShowEveryControlWhole) {
    ApplyStartupDefaults();
    auto dialog = Open();
    auto folder = ScreenshotFolder();
    std::filesystem::create_directories(folder);
    struct Shot {
        int page;
        const char* radio;
        const char* file;
    } shots[] = {{0, "wavRadio", "format-wav.png"}, {0, "mp3Radio", "format-mp3.png"},
                 {0, "wmaRadio", "format-wma.png"}, {0, "oggRadio", "format-ogg.png"},
                 {1, nullptr, "save.png"},          {2, nullptr, "general.png"},
                 {3, nullptr, "schedule.png"}};
    for (const auto& shot : shots) {
        SCOPED_TRACE(shot.file);
        Click(Tab(dialog.get(), shot.page));
        if (shot.radio) Click(Child<QRadioButton>(dialog.get(), shot.radio));
        QApplication::processEvents();
        ExpectNothingClipped(dialog.get(), shot.file);
        auto path = folder / shot.file;
        EXPECT_TRUE(dialog->grab().save(QString::fromStdString(path.string()))) << path;
    }
}

}  // namespace
}  // namespace quil::settings::test
