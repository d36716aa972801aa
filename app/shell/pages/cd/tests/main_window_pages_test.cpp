// The live and CD pages inside the real main window, driven by its transport commands as the
// buttons and the scheduler run them.

#include <signal.h>
#include <unistd.h>

#include <filesystem>

#include "app/settings/format_settings.h"
#include "app/settings/output_naming.h"
#include "app/settings/settings_key.h"
#include "app/shell/main_window.h"
#include "app/shell/messages.h"
#include "app/shell/pages/cd/cd_page.h"
#include "app/shell/pages/cd/tests/page_test_app.h"
#include "app/shell/pages/live/live_page.h"
#include "app/shell/termination_signals.h"
#include "app/shell/testing/test_page_host.h"
#include "cdsource/tests/cd_test_util.h"
#include "testsupport/pulse_server.h"

namespace quil::shell::testing {
namespace {

namespace fs = std::filesystem;

class MainWindowPagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsurePageApplication();
        if (!quil::test::HavePulse()) GTEST_SKIP() << "needs the private sound server";
        ASSERT_EQ(quil::test::CallTrackpump("DllRegisterServer"), S_OK);
        settings::ApplyStartupDefaults();
        output_ = quil::test::MakeTempDir("window") / "out";
        settings::SettingsKey key;
        ASSERT_TRUE(key.Open());
        key.WriteString(settings::value::kOutputDirectory, output_.string());
    }
    void OpenWindow() {
        MainWindow::Options options;
        options.services = services_.Set();
        options.showSplash = false;
        window_ = std::make_unique<MainWindow>(options);
        window_->show();
    }

    TestServices services_;
    fs::path output_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowPagesTest, RecordPauseResumeAndStopOnTheLivePage) {
    quil::test::NullSink sink("window");
    quil::test::TonePlayer tone(sink.name(), 440);
    ASSERT_TRUE(tone.WaitAudible());
    {
        settings::SettingsKey key;
        ASSERT_TRUE(key.Open());
        key.WriteString(LivePage::kDeviceValue, sink.monitorDescription());
    }
    OpenWindow();
    ASSERT_EQ(window_->CurrentPageIndex(), kLivePage);
    auto* page = dynamic_cast<LivePage*>(window_->PageAt(kLivePage));
    ASSERT_NE(page, nullptr);

    window_->Record();
    ASSERT_TRUE(window_->IsBusy());
    ASSERT_TRUE(page->Recording());
    EXPECT_EQ(window_->FormatText(), "44kHz 16Bits Stereo");
    const QString path = page->RecordingPath();
    EXPECT_TRUE(window_->PathLine().contains(path));
    ASSERT_TRUE(WaitFor([&] { return page->Recordings().Row(0).duration == "00:00:01"; }));
    window_->Pause();
    EXPECT_EQ(page->Recordings().Row(0).status, "Record Pause");
    window_->Record();
    EXPECT_EQ(page->Recordings().Row(0).status, "Recording");
    EXPECT_EQ(page->RecordingPath(), path);
    window_->Stop();
    ASSERT_TRUE(WaitFor([&] { return !window_->IsBusy(); }));
    EXPECT_FALSE(page->Recording());
    EXPECT_EQ(page->Recordings().rowCount(), 1);
    EXPECT_TRUE(fs::exists(path.toStdString()));
    EXPECT_TRUE(services_.messages.shown.empty());
}

TEST_F(MainWindowPagesTest, SigtermDuringARecordingLeavesAPlayableFile) {
    quil::test::NullSink sink("term");
    quil::test::TonePlayer tone(sink.name(), 440);
    ASSERT_TRUE(tone.WaitAudible());
    {
        settings::SettingsKey key;
        ASSERT_TRUE(key.Open());
        key.WriteString(LivePage::kDeviceValue, sink.monitorDescription());
    }
    OpenWindow();
    auto* page = dynamic_cast<LivePage*>(window_->PageAt(kLivePage));
    ASSERT_NE(page, nullptr);
    // What Quilmain does on SIGTERM and SIGINT.
    bool quitAsked = false;
    TerminationSignals termination([&] {
        window_->close();
        quitAsked = true;
    });
    window_->Record();
    ASSERT_TRUE(page->Recording());
    const std::string path = page->RecordingPath().toStdString();
    ASSERT_TRUE(WaitFor([&] { return page->Recordings().Row(0).duration == "00:00:02"; }));
    ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    ASSERT_TRUE(WaitFor([&] { return quitAsked; }));
    EXPECT_FALSE(window_->isVisible());
    EXPECT_FALSE(window_->IsBusy());
    // The recording was stopped through the page, so the file is finished: it decodes whole.
    auto audio = quil::test::DecodeAudio(path);
    ASSERT_TRUE(audio) << path;
    EXPECT_GT(audio->duration, 1.5);
    EXPECT_TRUE(services_.messages.shown.empty());
}

TEST_F(MainWindowPagesTest, RipsADiscImageFromTheCdPage) {
    auto dir = quil::test::MakeTempDir("disc");
    auto image = quil::test::WriteCdImage(dir, "disc", {{true, 0, 60, 0}, {true, 0, 45, 0}});
    quil::test::MountImages({image.cue});
    OpenWindow();
    auto* page = dynamic_cast<CdPage*>(window_->PageAt(kCdPage));
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(WaitFor([&] { return !page->Busy() && page->Tracks().rowCount() == 2; }));
    window_->SelectPage(kCdPage);
    ASSERT_EQ(window_->CurrentPageIndex(), kCdPage);
    window_->Record();
    ASSERT_TRUE(
        WaitFor([&] { return !window_->IsBusy() && page->Tracks().Row(1).status == "Complete"; }));
    EXPECT_EQ(page->Tracks().Row(0).status, "Complete");
    EXPECT_EQ(std::distance(fs::directory_iterator(output_), fs::directory_iterator()), 2);
    EXPECT_FALSE(page->DoorLocked());
    EXPECT_TRUE(services_.messages.shown.empty());
}

}  // namespace
}  // namespace quil::shell::testing
