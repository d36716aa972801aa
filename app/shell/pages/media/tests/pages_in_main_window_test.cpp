// The media file page and the player page inside the real main window: Record, Play and the
// buttons as the user sees them, with real files, the real grabber and the private sound server.

#include <QAbstractButton>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include "app/shell/dbus_notifier.h"
#include "app/shell/desktop/desktop_integration.h"
#include "app/shell/desktop/mpris.h"
#include "app/shell/main_window.h"
#include "app/shell/messages.h"
#include "app/shell/pages/media/media_page.h"
#include "app/shell/pages/player/file_list_view.h"
#include "app/shell/pages/player/player_page.h"
#include "app/shell/pages/player/tests/page_test_util.h"
#include "app/shell/testing/elsewhere.h"
#include "app/shell/testing/notification_server.h"
#include "app/shell/testing/private_bus.h"
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
        if (notifier) options.services.notifier = notifier.get();
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
    std::unique_ptr<Notifier> notifier;  // the test services' one when unset
    std::unique_ptr<MainWindow> window;
};

// The desktop's notification daemon on a private session bus, and the program's real notifier.
class DesktopNoticeTest : public PagesInMainWindowTest {
protected:
    void SetUp() override {
        if (!bus.IsRunning()) GTEST_SKIP() << "no dbus-daemon";
        EnsureApplication();
        ASSERT_TRUE(server.Serve(bus.Connect("notifications")));
        notifier = std::make_unique<DBusNotifier>(bus.Connect("program"));
        PagesInMainWindowTest::SetUp();
    }
    void TearDown() override { window.reset(); }
    // Lets every notice on its way arrive.
    void Settle() {
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    testing::PrivateBus bus;
    testing::NotificationServer server;
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
    // FFmpeg's Vorbis encoder leaves 1.0 s at 43,972 samples by the stream's own count; a bit
    // longer keeps the whole second that the player shows.
    ASSERT_TRUE(MakeTone(sources / "second.ogg", 1.2));
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

TEST_F(DesktopNoticeTest, AListThatEndsUnseenGivesOneNoticeWithTheCountAndTheFailure) {
    Click("source1");
    auto* media = dynamic_cast<MediaPage*>(window->PageAt(kMediaPage));
    ASSERT_NE(media, nullptr);
    ASSERT_TRUE(MakeTone(sources / "one.wav", 1.0));
    ASSERT_TRUE(MakeVideo(sources / "silent.avi", 160, 120, 1.0, false));
    ASSERT_TRUE(MakeTone(sources / "three.ogg", 1.0));
    media->AddFiles({QString::fromStdString((sources / "one.wav").string()),
                     QString::fromStdString((sources / "silent.avi").string()),
                     QString::fromStdString((sources / "three.ogg").string())});
    Click("formatWav");
    auto elsewhere = testing::ActivateWindowElsewhere();
    ASSERT_FALSE(window->isActiveWindow());
    Click("record");
    ASSERT_TRUE(WaitFor([&] { return !window->IsBusy() && media->grabPath().empty(); }, 60000));
    ASSERT_TRUE(WaitFor([&] { return !server.notices.empty(); }));
    Settle();
    // One notice for the list, none for each of its files; the file without audio did not
    // stop the files after it.
    ASSERT_FALSE(window->isActiveWindow());
    ASSERT_EQ(server.notices.size(), 1u);
    EXPECT_EQ(server.notices[0].summary, "Media file list finished");
    EXPECT_EQ(server.notices[0].body, "2 files grabbed, 1 failed: silent.avi.");
    EXPECT_EQ(server.notices[0].application, "Quillet");
    size_t outputs = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(output)) ++outputs;
    EXPECT_EQ(outputs, 2u);
    EXPECT_EQ(services.messages.Texts(), QStringList{"The Media file have no audio stream."});
}

TEST_F(DesktopNoticeTest, AListStoppedByTheUserGivesNoNotice) {
    Click("source1");
    auto* media = dynamic_cast<MediaPage*>(window->PageAt(kMediaPage));
    ASSERT_NE(media, nullptr);
    ASSERT_TRUE(MakeTone(sources / "long.wav", 30.0));
    media->AddFiles({QString::fromStdString((sources / "long.wav").string())});
    auto elsewhere = testing::ActivateWindowElsewhere();
    Click("record");
    ASSERT_TRUE(window->IsBusy());
    Click("stop");
    ASSERT_TRUE(WaitFor([&] { return !window->IsBusy(); }));
    Settle();
    EXPECT_TRUE(server.notices.empty());
}

// The desktop's media controls, calling the way they do, on the real player page.
class MediaControlsTest : public DesktopNoticeTest {
protected:
    void SetUp() override {
        DesktopNoticeTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        integration = std::make_unique<DesktopIntegration>(*window, bus.Connect("program-mpris"),
                                                           bus.Connect("program-system"));
        ASSERT_TRUE(integration->mpris()->IsRegistered());
        client = bus.Connect("media-controls");
    }
    void TearDown() override {
        integration.reset();
        DesktopNoticeTest::TearDown();
    }
    void Call(const char* method) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            Mpris::kServiceName, Mpris::kObjectPath, "org.mpris.MediaPlayer2.Player", method);
        QDBusPendingCall call = client.asyncCall(message);
        ASSERT_TRUE(WaitFor([&] { return call.isFinished(); })) << method;
        ASSERT_FALSE(call.isError()) << method << call.error().message().toStdString();
    }
    QVariant Property(const char* name) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            Mpris::kServiceName, Mpris::kObjectPath, "org.freedesktop.DBus.Properties", "Get");
        message << QStringLiteral("org.mpris.MediaPlayer2.Player") << QString(name);
        QDBusPendingReply<QDBusVariant> reply = client.asyncCall(message);
        EXPECT_TRUE(WaitFor([&] { return reply.isFinished(); }));
        return reply.value().variant();
    }
    QString Title() {
        return qdbus_cast<QVariantMap>(Property("Metadata")).value("xesam:title").toString();
    }

    std::unique_ptr<DesktopIntegration> integration;
    QDBusConnection client{QString()};
};

TEST_F(MediaControlsTest, PlayPausePausesAndResumesNextMovesOnAndThePositionFollows) {
    ASSERT_TRUE(MakeTone(output / "a first.wav", 6.0));
    ASSERT_TRUE(MakeTone(output / "b second.wav", 6.0));
    Click("source5");
    auto* player = dynamic_cast<PlayerPage*>(window->PageAt(kPlayerPage));
    ASSERT_NE(player, nullptr);
    ASSERT_EQ(player->model()->rowCount(), 2);
    player->view()->SelectRow(0);
    const std::string first = (output / "a first.wav").string();
    const std::string second = (output / "b second.wav").string();

    Call("PlayPause");
    ASSERT_TRUE(WaitFor([&] { return window->IsBusy(); }));
    EXPECT_EQ(player->playPath(), first);
    EXPECT_EQ(Property("PlaybackStatus").toString(), "Playing");
    EXPECT_EQ(Title(), "a first.wav");
    // The position follows the playback, in microseconds.
    EXPECT_TRUE(WaitFor([&] { return Property("Position").toLongLong() >= 1'000'000; }, 30000));
    EXPECT_EQ(qdbus_cast<QVariantMap>(Property("Metadata")).value("mpris:length").toLongLong(),
              6'000'000);

    Call("PlayPause");
    EXPECT_TRUE(window->IsPaused());
    EXPECT_EQ(Property("PlaybackStatus").toString(), "Paused");
    EXPECT_TRUE(Cell(player->model(), 0, 2).startsWith("Play Pause"))
        << Str(Cell(player->model(), 0, 2));
    Call("PlayPause");
    EXPECT_FALSE(window->IsPaused());
    EXPECT_EQ(Property("PlaybackStatus").toString(), "Playing");
    EXPECT_EQ(player->playPath(), first);

    Call("Next");
    ASSERT_TRUE(WaitFor([&] { return player->playPath() == second; }));
    EXPECT_EQ(Title(), "b second.wav");
    EXPECT_EQ(Property("PlaybackStatus").toString(), "Playing");
    Call("Stop");
    EXPECT_TRUE(WaitFor([&] { return !window->IsBusy(); }));
    EXPECT_EQ(Property("PlaybackStatus").toString(), "Stopped");
}

}  // namespace
}  // namespace quil::shell::test
