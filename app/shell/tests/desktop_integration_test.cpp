// MPRIS, the sleep inhibitor and desktop notifications on a private session bus, driven the way
// a desktop's media controls, logind and notification daemon would drive them.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDBusAbstractAdaptor>
#include <QDBusInterface>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QTest>

#include <poll.h>
#include <unistd.h>

#include "app/shell/dbus_notifier.h"
#include "app/shell/desktop/desktop_integration.h"
#include "app/shell/desktop/mpris.h"
#include "app/shell/desktop/sleep_inhibitor.h"
#include "app/shell/main_window.h"
#include "app/shell/messages.h"
#include "app/shell/testing/notification_server.h"
#include "app/shell/testing/private_bus.h"
#include "app/shell/testing/qt_application.h"
#include "app/shell/testing/test_page_host.h"
#include "app/shell/tests/fake_page.h"

namespace quil::shell {
namespace {

using testing::FakePage;
using testing::WaitFor;

// Stands in for logind: hands out one end of a pipe per inhibitor and keeps the other, so a
// test sees when the program closes its end.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    ~FakeLogind() override {
        for (int fd : kept) close(fd);
    }
    bool Released(size_t index) const {
        pollfd entry{kept.at(index), POLLIN, 0};
        return poll(&entry, 1, 0) == 1 && (entry.revents & (POLLHUP | POLLIN));
    }
    std::vector<int> kept;
    QStringList modes;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString&, const QString&,
                                    const QString& mode) {
        modes << what + ":" + mode;
        int ends[2];
        if (pipe(ends) != 0) return {};
        kept.push_back(ends[0]);
        QDBusUnixFileDescriptor handed(ends[1]);
        close(ends[1]);  // the descriptor object holds its own copy
        return handed;
    }
};

class DesktopIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::EnsureApplication();
        if (!bus.IsRunning()) GTEST_SKIP() << "no dbus-daemon";
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
        logindBus = bus.Connect("logind");
        ASSERT_TRUE(logindBus.registerObject("/org/freedesktop/login1", &logind,
                                             QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(logindBus.registerService("org.freedesktop.login1"));
        integration = std::make_unique<DesktopIntegration>(*window, bus.Connect("program"),
                                                           bus.Connect("program-system"));
        ASSERT_TRUE(integration->mpris()->IsRegistered());
        client = bus.Connect("client");
    }
    void TearDown() override {
        integration.reset();
        window.reset();
    }

    // Calls a method of the player the way media controls do, without blocking the thread
    // that serves it.
    void Call(const char* method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            Mpris::kServiceName, Mpris::kObjectPath, "org.mpris.MediaPlayer2.Player", method);
        message.setArguments(arguments);
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
    void Post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        PostMessage(window->MainWindowHandle(), message, wParam, lParam);
        QCoreApplication::sendPostedEvents();
    }

    testing::PrivateBus bus;
    testing::TestServices services;
    std::map<int, FakePage*> pages;
    std::unique_ptr<MainWindow> window;
    FakeLogind logind;
    QDBusConnection logindBus{QString()};
    std::unique_ptr<DesktopIntegration> integration;
    QDBusConnection client{QString()};
};

TEST_F(DesktopIntegrationTest, MediaControlsPlayPauseMoveAndSeeThePosition) {
    window->SelectPage(kPlayerPage);
    window->SetPathText("/music/Song One.mp3");
    EXPECT_EQ(Property("PlaybackStatus").toString(), "Stopped");
    Call("PlayPause");
    EXPECT_EQ(pages[kPlayerPage]->Count("Play"), 1);
    Post(MSG_STARTED);
    EXPECT_EQ(Property("PlaybackStatus").toString(), "Playing");
    Call("PlayPause");
    EXPECT_EQ(pages[kPlayerPage]->Count("PausePlayback"), 1);
    EXPECT_EQ(Property("PlaybackStatus").toString(), "Paused");
    Call("PlayPause");
    EXPECT_EQ(pages[kPlayerPage]->Count("Play"), 2);
    Call("Next");
    EXPECT_EQ(pages[kPlayerPage]->Count("Next"), 1);

    Post(MSG_PROGRESS, 75, 30);
    EXPECT_EQ(Property("Position").toLongLong(), 30'000'000);
    const QVariantMap metadata = qdbus_cast<QVariantMap>(Property("Metadata"));
    EXPECT_EQ(metadata.value("xesam:title").toString(), "Song One.mp3");
    EXPECT_EQ(metadata.value("mpris:length").toLongLong(), 75'000'000);

    Call("SetPosition", {QVariant::fromValue(QDBusObjectPath("/org/quillet/track/current")),
                         qlonglong{50'000'000}});
    ASSERT_TRUE(WaitFor([&] { return !pages[kPlayerPage]->received.empty(); }));
    EXPECT_EQ(pages[kPlayerPage]->received.back().message, MSG_SEEK);
    EXPECT_EQ(pages[kPlayerPage]->received.back().wParam, 50u);
    Call("Stop");
    EXPECT_EQ(pages[kPlayerPage]->Count("StopPlayback"), 1);
    EXPECT_EQ(Property("PlaybackStatus").toString(), "Stopped");
}

TEST_F(DesktopIntegrationTest, SleepIsInhibitedFromRecordToStop) {
    QTest::mouseClick(window->findChild<QAbstractButton*>("record"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return integration->inhibitor()->IsHeld(); }));
    ASSERT_EQ(logind.modes, QStringList{"sleep:block"});
    EXPECT_FALSE(logind.Released(0));
    QTest::mouseClick(window->findChild<QAbstractButton*>("stop"), Qt::LeftButton);
    EXPECT_FALSE(integration->inhibitor()->IsHeld());
    EXPECT_TRUE(WaitFor([&] { return logind.Released(0); }));
}

TEST(DBusNotifierTest, ANoticeReachesTheNotificationServiceAndWithoutOneNothingHappens) {
    testing::EnsureApplication();
    testing::PrivateBus bus;
    if (!bus.IsRunning()) GTEST_SKIP() << "no dbus-daemon";
    DBusNotifier notifier(bus.Connect("program"));
    // Nobody serves notifications yet: the call returns and nothing is left waiting.
    notifier.Notify("Unheard", "nobody listens");
    testing::NotificationServer server;
    ASSERT_TRUE(server.Serve(bus.Connect("notifications")));
    notifier.Notify("Media file list finished", "3 files grabbed.");
    ASSERT_TRUE(WaitFor([&] { return !server.notices.empty(); }));
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(server.notices.size(), 1u);
    EXPECT_EQ(server.notices[0].application, "Quillet");
    EXPECT_EQ(server.notices[0].icon, "quillet");
    EXPECT_EQ(server.notices[0].summary, "Media file list finished");
    EXPECT_EQ(server.notices[0].body, "3 files grabbed.");
    EXPECT_EQ(server.notices[0].hints.value("desktop-entry").toString(), "quillet");
}

TEST(SleepInhibitorTest, WithoutLogindNothingHappens) {
    testing::EnsureApplication();
    testing::PrivateBus bus;
    if (!bus.IsRunning()) GTEST_SKIP() << "no dbus-daemon";
    SleepInhibitor inhibitor(bus.Connect("lonely"));
    inhibitor.Acquire("test");
    // The bus answers that nobody owns the name; the inhibitor stays unheld.
    EXPECT_FALSE(WaitFor([&] { return inhibitor.IsHeld(); }, 1500));
    inhibitor.Release();
}

}  // namespace
}  // namespace quil::shell

#include "desktop_integration_test.moc"
