// The media file page and the player page inside the real main window: Record, Play and the
// buttons as the user sees them, with real files, the real grabber and the private sound server.

#include <QAbstractButton>

#include "app/shell/main_window.h"
#include "app/shell/messages.h"
#include "app/shell/pages/media/media_page.h"
#include "app/shell/pages/player/player_page.h"
#include "app/shell/pages/player/tests/page_test_util.h"
#include "app/shell/testing/test_services.h"

namespace quil::shell::test {
namespace {

namespace fs = std::filesystem;

class PagesInMainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!quil::test::HavePulse()) GTEST_SKIP() << "no private PulseAudio server";
        EnsureApplication();
        UsePrivateSink();
        sources = quil::test::MakeTempDir("sources");
        output = quil::test::MakeTempDir("output");
        SetOutputFolder(output);
        MainWindow::Options options;
        options.services = services.Set();
        options.showSplash = false;
        window = std::make_unique<MainWindow>(options);
        window->show();
    }
    QAbstractButton* Button(const char* name) {
        auto* button = window->findChild<QAbstractButton*>(name);
        EXPECT_NE(button, nullptr) << name;
        return button;
    }
    bool Enabled(const char* name) { return Button(name)->isEnabled(); }
    void Click(const char* name) { Button(name)->click(); }

    fs::path sources, output;
    testing::TestServices services;
    std::unique_ptr<MainWindow> window;
};

TEST_F(PagesInMainWindowTest, GrabAListThenPlayItOnThePlayerPageToItsEnd) {
    Click("source1");
    ASSERT_EQ(window->CurrentPageIndex(), kMediaPage);
    auto* media = dynamic_cast<MediaPage*>(window->PageAt(kMediaPage));
    ASSERT_NE(media, nullptr);

    // Record on an empty list.
    Click("record");
    EXPECT_EQ(services.messages.Texts(), QStringList{"Option failed!"});
    EXPECT_FALSE(window->IsBusy());

    ASSERT_TRUE(MakeTone(sources / "first.wav", 1.0, 22050, 1));
    ASSERT_TRUE(MakeTone(sources / "second.ogg", 1.0));
    media->AddFiles({QString::fromStdString((sources / "first.wav").string()),
                     QString::fromStdString((sources / "second.ogg").string())});
    Click("formatWav");
    Click("record");
    EXPECT_TRUE(window->IsBusy());
    EXPECT_EQ(window->FormatText(), "22kHz 16Bits Mono");
    EXPECT_TRUE(window->PathLine().contains(QString::fromStdString(output.string())));
    ASSERT_TRUE(WaitFor([&] { return !window->IsBusy() && media->grabPath().empty(); }, 60000));
    EXPECT_TRUE(Enabled("record"));
    EXPECT_EQ(Column(media->model(), 2), QStringList({"Stop", "Stop"}));

    // The player lists the two new files when it is selected.
    Click("source5");
    ASSERT_EQ(window->CurrentPageIndex(), kPlayerPage);
    auto* player = dynamic_cast<PlayerPage*>(window->PageAt(kPlayerPage));
    ASSERT_NE(player, nullptr);
    ASSERT_EQ(player->model()->rowCount(), 2);
    EXPECT_FALSE(Enabled("record"));
    Click("play");
    EXPECT_TRUE(WaitFor([&] { return window->IsBusy(); }));
    EXPECT_TRUE(Cell(player->model(), 0, 2).startsWith("Playing"));
    ASSERT_TRUE(WaitFor([&] { return !window->IsBusy() && player->playPath().empty(); }, 60000));
    EXPECT_EQ(Column(player->model(), 2), QStringList(2, "Stop (00:00:01)"));
    EXPECT_FALSE(Enabled("record"));
    EXPECT_TRUE(Enabled("play"));
    EXPECT_EQ(services.messages.Texts(), QStringList{"Option failed!"});
}

}  // namespace
}  // namespace quil::shell::test
