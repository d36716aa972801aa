// The main window acting on its real widgets under the offscreen platform, with stand-in pages
// whose answers the tests choose.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>

#include "app/controls/bitmap_slider.h"
#include "app/controls/elided_caption.h"
#include "app/settings/format_settings.h"
#include "app/shell/cpu_meter.h"
#include "app/shell/main_window.h"
#include "app/shell/messages.h"
#include "app/shell/single_instance.h"
#include "app/shell/string_table.h"
#include "app/shell/testing/qt_application.h"
#include "app/shell/testing/test_page_host.h"
#include "app/shell/testing/test_services.h"
#include "app/shell/tests/fake_page.h"
#include "platform/registry/registry.h"

namespace quil::shell {
namespace {

using testing::FakePage;
using testing::WaitFor;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::EnsureApplication();
        MainWindow::Options options;
        options.services = services.Set();
        options.showSplash = false;
        options.pages = [this](int index, PageHost& host, QWidget* parent) {
            auto page = std::make_unique<FakePage>(index, host, parent);
            pages[index] = page.get();
            return page;
        };
        window = std::make_unique<MainWindow>(options);
        window->show();
    }

    QAbstractButton* Button(const char* name) {
        auto* button = window->findChild<QAbstractButton*>(name);
        EXPECT_NE(button, nullptr) << name;
        return button;
    }
    void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }
    bool Enabled(const char* name) { return Button(name)->isEnabled(); }
    void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        PostMessage(window->MainWindowHandle(), message, wParam, lParam);
        QCoreApplication::sendPostedEvents();
    }

    testing::TestServices services;
    std::map<int, FakePage*> pages;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, StartsOnTheRecorderPageWithItsButtonChecked) {
    EXPECT_EQ(window->CurrentPageIndex(), kLivePage);
    EXPECT_TRUE(Button("source0")->isChecked());
    EXPECT_TRUE(pages[kLivePage]->isVisible());
    EXPECT_FALSE(pages[kMediaPage]->isVisible());
    EXPECT_EQ(window->windowTitle(), "Quillet");
    EXPECT_TRUE(window->findChild<QWidget*>("formatGroup")->isVisible());
}

TEST_F(MainWindowTest, PageSwitchWhileBusyIsRefusedAndKeepsTheCurrentButton) {
    Click("record");
    ASSERT_TRUE(window->IsBusy());
    Click("source1");
    EXPECT_EQ(window->CurrentPageIndex(), kLivePage);
    EXPECT_TRUE(Button("source0")->isChecked());
    EXPECT_FALSE(Button("source1")->isChecked());
    ASSERT_EQ(services.messages.shown.size(), 1u);
    EXPECT_EQ(services.messages.shown[0].text, LoadString(57346));
}

TEST_F(MainWindowTest, SelectingTheCurrentPageDoesNothingEvenWhenBusy) {
    window->SelectPage(kLivePage);
    EXPECT_EQ(pages[kLivePage]->Count("Refresh"), 0);
    Click("record");
    Click("source0");
    EXPECT_TRUE(services.messages.shown.empty());
    EXPECT_TRUE(window->IsBusy());
}

TEST_F(MainWindowTest, RecordThatFailsShowsOptionFailedAndChangesNothing) {
    pages[kLivePage]->failing["StartGrab"] = true;
    Click("record");
    ASSERT_EQ(services.messages.Texts(), QStringList{"Option failed!"});
    EXPECT_FALSE(window->IsBusy());
    EXPECT_TRUE(Enabled("record"));
    EXPECT_TRUE(Enabled("play"));
}

TEST_F(MainWindowTest, TransportCommandsSetTheButtonsAndStatesOfTheTable) {
    Click("record");
    EXPECT_EQ(pages[kLivePage]->Count("StartGrab"), 1);
    EXPECT_FALSE(Enabled("record"));
    EXPECT_FALSE(Enabled("play"));
    EXPECT_TRUE(Enabled("pause"));
    EXPECT_TRUE(Enabled("stop"));
    EXPECT_FALSE(Enabled("previous"));
    EXPECT_FALSE(Enabled("next"));
    EXPECT_TRUE(window->IsGrabbing());

    Click("pause");
    EXPECT_EQ(pages[kLivePage]->Count("PauseGrab"), 1);
    EXPECT_TRUE(Enabled("record"));
    EXPECT_FALSE(Enabled("pause"));

    Click("stop");
    EXPECT_EQ(pages[kLivePage]->Count("StopGrab"), 1);
    EXPECT_FALSE(window->IsBusy());
    for (const char* name : {"record", "play", "pause", "stop", "previous", "next"})
        EXPECT_TRUE(Enabled(name)) << name;

    Click("play");
    EXPECT_EQ(pages[kLivePage]->Count("Play"), 1);
    EXPECT_FALSE(window->IsGrabbing());
    EXPECT_FALSE(window->IsBusy()) << "busy comes with the page's MSG_STARTED";
    Post(MSG_STARTED);
    EXPECT_TRUE(window->IsBusy());
    Click("pause");
    EXPECT_EQ(pages[kLivePage]->Count("PausePlayback"), 1);
    EXPECT_TRUE(Enabled("play"));
    EXPECT_FALSE(Enabled("record"));
    Click("stop");
    EXPECT_EQ(pages[kLivePage]->Count("StopPlayback"), 1);
}

TEST_F(MainWindowTest, AFailingStopChangesNothing) {
    Click("record");
    pages[kLivePage]->failing["StopGrab"] = true;
    Click("stop");
    EXPECT_TRUE(window->IsBusy());
    EXPECT_FALSE(Enabled("record"));
}

TEST_F(MainWindowTest, PlayerPageKeepsRecordDisabledAfterItsListEnds) {
    Click("source5");
    ASSERT_EQ(window->CurrentPageIndex(), kPlayerPage);
    EXPECT_EQ(pages[kPlayerPage]->Count("Refresh"), 1);
    EXPECT_FALSE(Enabled("record"));
    EXPECT_FALSE(window->findChild<QWidget*>("formatGroup")->isVisible());
    Click("play");
    Post(MSG_STARTED);
    Post(MSG_STOPPED_PLAYER);
    EXPECT_FALSE(Enabled("record"));
    EXPECT_TRUE(Enabled("play"));
    EXPECT_FALSE(window->IsBusy());
    Click("play");
    Click("stop");
    EXPECT_FALSE(Enabled("record"));
}

TEST_F(MainWindowTest, StoppedPlayerOnASourcePageEnablesRecord) {
    Click("record");
    Post(MSG_STOPPED_PLAYER);
    EXPECT_TRUE(Enabled("record"));
    EXPECT_FALSE(window->IsBusy());
}

TEST_F(MainWindowTest, TagAndHomePagesDisableTheTransportAndUncheckTheSources) {
    window->SelectPage(kTagPage);
    EXPECT_FALSE(Enabled("play"));
    EXPECT_FALSE(window->ProgressSlider()->isEnabled());
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>())
        if (button->objectName().startsWith("source")) {
            EXPECT_FALSE(button->isChecked());
        }
    window->SelectPage(kHomePage);
    EXPECT_TRUE(pages[kHomePage]->isVisible());
    window->SelectPage(kMediaPage);
    EXPECT_TRUE(Enabled("record"));
    EXPECT_TRUE(Button("source1")->isChecked());
}

TEST_F(MainWindowTest, ProgressAndLockMessages) {
    Post(MSG_PROGRESS, 75, 30);
    EXPECT_EQ(window->ProgressSlider()->Maximum(), 75);
    EXPECT_EQ(window->ProgressSlider()->GetPos(), 30);
    Post(MSG_LOCK_CONTROLS);
    EXPECT_EQ(window->ProgressSlider()->GetPos(), 0);
    for (const char* name : {"record", "play", "pause", "stop", "previous", "next"})
        EXPECT_FALSE(Enabled(name)) << name;
    EXPECT_FALSE(window->ProgressSlider()->isEnabled());
    EXPECT_FALSE(window->VolumeSlider()->isEnabled());
}

TEST_F(MainWindowTest, DraggingTheProgressSliderSeeksOnlyWhereItMay) {
    window->SelectPage(kMediaPage);
    Post(MSG_PROGRESS, 100, 0);
    auto* slider = window->ProgressSlider();
    auto drag = [&](int x) {
        QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(x, 5));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(x, 5));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents();
    };
    Click("record");
    drag(300);
    EXPECT_TRUE(pages[kMediaPage]->received.empty()) << "no seek while the media page grabs";
    Click("stop");
    Click("play");
    drag(500);
    ASSERT_EQ(pages[kMediaPage]->received.size(), 1u);
    EXPECT_EQ(pages[kMediaPage]->received[0].message, MSG_SEEK);
    EXPECT_EQ(static_cast<int>(pages[kMediaPage]->received[0].wParam), slider->GetPos());
}

TEST_F(MainWindowTest, KeysOnTheProgressSliderDoNotSeek) {
    auto* slider = window->ProgressSlider();
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_End);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(slider->GetPos(), 100);
    EXPECT_TRUE(pages[kLivePage]->received.empty());
}

TEST_F(MainWindowTest, FormatButtonsGiveTheOutputFormatAndStartFromTheStoredOne) {
    EXPECT_EQ(window->CurrentOutputFormat(), 0);
    window->findChild<QRadioButton*>("formatOgg")->click();
    EXPECT_EQ(window->CurrentOutputFormat(), 3);
    window->findChild<QRadioButton*>("formatMp3")->click();
    EXPECT_EQ(window->CurrentOutputFormat(), 1);

    settings::SettingsKey::ForSave().WriteNumber(settings::value::kOutputFormat, 2);
    window.reset();
    SetUp();
    EXPECT_EQ(window->CurrentOutputFormat(), 2);
    settings::SettingsKey::ForSave().WriteNumber(settings::value::kOutputFormat, 7);
    window.reset();
    SetUp();
    EXPECT_EQ(window->CurrentOutputFormat(), 0);
}

TEST_F(MainWindowTest, ADamagedSettingsStoreStartsWithDefaults) {
    window.reset();
    for (auto root : {registry::Root::LocalMachine, registry::Root::ClassesRoot}) {
        std::ofstream store(registry::StorePath(root), std::ios::binary | std::ios::trunc);
        store << "\x01\x02 not a store [[[\n\xff\xfe=== broken";
    }
    SetUp();
    EXPECT_EQ(window->CurrentOutputFormat(), 0);
    EXPECT_EQ(window->CurrentPageIndex(), kLivePage);
    Click("record");
    EXPECT_TRUE(window->IsBusy());
}

TEST_F(MainWindowTest, FormatAndPathTexts) {
    window->SetFormatText("44kHz 16Bits Stereo");
    EXPECT_EQ(window->findChild<QLabel*>("formatText")->text(), "44kHz 16Bits Stereo");
    window->SetPathText("/music/a.mp3");
    EXPECT_EQ(window->PathLine(), "Output file path:  /music/a.mp3");
    window->SetPathText("");
    EXPECT_EQ(window->PathLine(), "");
}

TEST_F(MainWindowTest, ALongPathIsShortenedInTheMiddleWithinTheWindow) {
    const QString path = QDir::homePath() +
                         "/Music/Quilfetch/Evening grabs of the long winter/Side A and side B "
                         "of the second tape/Quilmain 2026-12-07 10-30-00.mp3";
    window->SetPathText(path);
    auto* line = window->findChild<controls::ElidedCaption*>("pathLine");
    ASSERT_NE(line, nullptr);
    const QString shown = line->ShownText();
    EXPECT_LE(line->fontMetrics().horizontalAdvance(shown), line->width()) << shown.toStdString();
    EXPECT_LE(line->geometry().right(), window->width());
    EXPECT_TRUE(shown.startsWith("Output file path:  /")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("…"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("10-30-00.mp3")) << shown.toStdString();
    EXPECT_EQ(window->PathLine(), "Output file path:  " + path);
    EXPECT_EQ(line->toolTip(), "Output file path:  " + path);
    EXPECT_EQ(line->accessibleDescription(), "Output file path:  " + path);
    EXPECT_EQ(line->accessibleName(), "Output file path");
}

TEST_F(MainWindowTest, CpuTextIsZeroWhenTheClockDidNotAdvanceOrNoTimeWasUsed) {
    int64_t wall = 1'000'000'000, cpu = 500'000'000;
    auto meter = std::make_unique<CpuMeter>(
        [&](int64_t* ns) {
            *ns = wall;
            return true;
        },
        [&](int64_t* ns) {
            *ns = cpu;
            return true;
        });
    window->SetCpuMeter(std::move(meter));
    cpu += 100'000'000;  // used time, but no wall time passed
    window->SampleCpu();
    EXPECT_EQ(window->CpuText(), "CPU 0%");
    wall += 1'000'000'000;  // a second, no processor time
    window->SampleCpu();
    EXPECT_EQ(window->CpuText(), "CPU 0%");
    wall += 1'000'000'000;
    cpu += 257'000'000;
    window->SampleCpu();
    EXPECT_EQ(window->CpuText(), "CPU 25%");
}

TEST_F(MainWindowTest, ShutdownStopsTheRunningActivity) {
    Click("record");
    std::vector<std::string> journal;
    pages[kLivePage]->journal = &journal;
    window->close();
    window.reset();
    EXPECT_EQ(journal, std::vector<std::string>{"StopGrab"});
}

TEST_F(MainWindowTest, UpdaterMessageStartsQuilmendOrSaysItFailed) {
    services.launcher.succeed = false;
    Post(MSG_RUN_UPDATER);
    ASSERT_EQ(services.launcher.started.size(), 1u);
    EXPECT_TRUE(services.launcher.started[0].program.endsWith("/Quilmend"));
    EXPECT_EQ(services.launcher.started[0].arguments, QStringList{"-a"});
    EXPECT_EQ(services.messages.Texts(), QStringList{LoadString(57348)});
    EXPECT_TRUE(window->isVisible());
    services.launcher.succeed = true;
    Post(MSG_RUN_UPDATER);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, AFoundUpdateIsOfferedOnTheWindowsOwnThread) {
    services.messages.answers.push_back(QMessageBox::No);
    Post(MSG_UPDATE_FOUND);
    ASSERT_EQ(services.messages.shown.size(), 1u);
    EXPECT_EQ(services.messages.shown[0].text, LoadString(57347));
    EXPECT_EQ(services.messages.shown[0].icon, QMessageBox::Question);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(services.launcher.started.empty());
    EXPECT_TRUE(window->isVisible());

    services.messages.answers.push_back(QMessageBox::Yes);
    Post(MSG_UPDATE_FOUND);
    ASSERT_TRUE(WaitFor([&] { return !services.launcher.started.empty(); }));
    EXPECT_EQ(services.launcher.started[0].arguments, QStringList{"-a"});
    EXPECT_FALSE(window->isVisible()) << "the window closes for the updater";
}

TEST_F(MainWindowTest, WithoutANotificationAreaMinimiseKeepsTheWindowReachable) {
    window->MinimiseToTray();
    EXPECT_TRUE(window->isVisible() || window->isMinimized());
    EXPECT_EQ(pages[kLivePage]->Count("HideVideo"), 0);
}

TEST_F(MainWindowTest, MenusCarryTheirEntries) {
    auto* sourceMenu = window->findChild<QMenu*>("sourceMenu");
    QStringList entries;
    for (QAction* action : sourceMenu->actions()) entries << action->text();
    EXPECT_EQ(entries,
              (QStringList{"Record audio from sound card", "Extract audio from media file",
                           "Rip audio from Audio CD/DVD", "Dump audio from streaming media", "",
                           "ID3Tag Edit", "Home page"}));
    auto* helpMenu = window->findChild<QMenu*>("helpMenu");
    QStringList help;
    for (QAction* action : helpMenu->actions()) help << action->text();
    EXPECT_EQ(help, (QStringList{"Online help", "&About Quillet..."}));
}

TEST_F(MainWindowTest, EveryControlHasAnAccessibleNameAndItsTextFits) {
    for (int index : {kLivePage, kPlayerPage, kHomePage}) {
        window->SelectPage(index);
        for (QWidget* widget : window->findChildren<QWidget*>()) {
            if (!widget->isVisible()) continue;
            const bool control = qobject_cast<QAbstractButton*>(widget) ||
                                 qobject_cast<controls::BitmapSlider*>(widget);
            if (control) {
                EXPECT_FALSE(widget->accessibleName().isEmpty())
                    << widget->objectName().toStdString();
            }
            const QSize needed = widget->minimumSizeHint();
            if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLabel*>(widget)) {
                EXPECT_LE(needed.width(), widget->width()) << widget->objectName().toStdString();
            }
        }
    }
}

TEST(SingleInstanceTest, ASecondInstanceIsRefusedAndRaisesTheFirst) {
    testing::EnsureApplication();
    const QString name = QStringLiteral("QuilletTest%1").arg(QCoreApplication::applicationPid());
    SingleInstance first(name);
    ASSERT_TRUE(first.Acquire());
    bool raised = false;
    first.OnRaiseRequest([&] { raised = true; });
    {
        SingleInstance second(name);
        EXPECT_FALSE(second.Acquire());
    }
    EXPECT_TRUE(WaitFor([&] { return raised; }));
}

TEST(QuilmainProcessTest, ASecondStartIsRefusedAndTheFirstKeepsRunning) {
    testing::EnsureApplication();
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    const QString program = QCoreApplication::applicationDirPath() + "/Quilmain";
    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(program, {});
    ASSERT_TRUE(first.waitForStarted());
    // The first one is up once it listens for later starts.
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(runtime.path() + "/Quillet.socket"); }, 60000));
    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(program, {});
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_NE(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardError().contains("Quillet is already running."));
    EXPECT_EQ(first.state(), QProcess::Running);
    // SIGTERM ends it through the normal close path, with a clean exit.
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
}

}  // namespace
}  // namespace quil::shell
