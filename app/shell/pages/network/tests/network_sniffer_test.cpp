// The sniffer driven through the page on the loopback adapter, and the page's screenshot.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTreeView>

#include <cstdlib>

#include "app/shell/pages/network/tests/page_test_util.h"
#include "app/sniffer/stream_sniffer.h"
#include "testsupport/http_server.h"
#include "testsupport/test_support.h"

namespace quil::network::test {
namespace {

using namespace std::chrono_literals;
using shell::testing::WaitFor;

// Sends `request` as it is to 127.0.0.1:port and reads the reply to its end.
void SendRawRequest(int port, const std::string& request) {
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(client, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        pollfd readable{client, POLLIN, 0};
        while (poll(&readable, 1, 5000) > 0 && recv(client, buffer, sizeof buffer, 0) > 0) {
        }
    }
    close(client);
}

bool DumpFileIsOpen() {
    std::error_code error;
    auto dump = std::filesystem::weakly_canonical(StreamSniffer::DumpFilePath(), error);
    for (auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        if (std::filesystem::read_symlink(entry.path(), error) == dump) return true;
    return false;
}

std::filesystem::path ScreenshotFolder() {
    if (const char* folder = std::getenv("QUIL_SCREENSHOT_DIR"); folder && *folder) return folder;
    return QUIL_PAGES_SCREENSHOT_DIR;
}

class NetworkSnifferTest : public NetworkPageTest {
protected:
    // Starts the sniffer on the loopback adapter through the page; false when this machine
    // does not allow capturing.
    bool StartOnLoopback() {
        const int loopback = Adapters()->findText("lo");
        if (loopback < 0) return false;
        Adapters()->setCurrentIndex(loopback);
        emit Adapters()->activated(loopback);
        Click("startSnifferButton");
        return Boxes().isEmpty();
    }
    // A request sent as to a proxy, so its request line carries the whole URL.
    void Request(const std::string& url) {
        SendRawRequest(server.Port(), "GET " + url + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    }

    quil::test::HttpServer server;
};

TEST_F(NetworkSnifferTest, ARequestedUrlIsListedOnceAndTheStartControlsWaitForStop) {
    server.Handle("*", quil::test::HttpReply(200, "not a stream"));
    if (!StartOnLoopback())
        GTEST_SKIP() << "cannot capture on the loopback adapter here: "
                     << Boxes().join(" ").toStdString();
    EXPECT_FALSE(Button("startSnifferButton")->isEnabled());
    EXPECT_FALSE(Adapters()->isEnabled());
    EXPECT_TRUE(Button("stopSnifferButton")->isEnabled());
    EXPECT_TRUE(DumpFileIsOpen());

    const std::string twice = server.Url("/live/radio.asf");
    const std::string after = server.Url("/live/news.mp3");
    Request(twice);
    Request(twice);
    // Packets are analysed in order: once the later URL is listed, both earlier ones were seen.
    Request(after);
    ASSERT_TRUE(
        WaitFor([&] { return page->Urls().Find(QString::fromStdString(after)) >= 0; }, 20000))
        << ListedUrls().join(" ").toStdString();
    EXPECT_EQ(ListedUrls().count(QString::fromStdString(twice)), 1);
    EXPECT_EQ(ListedUrls().count(QString::fromStdString(after)), 1);
    // The newest row is selected (other tests' loopback requests may be listed after ours).
    EXPECT_EQ(List()->selectionModel()->selectedRows().value(0).row(), page->Urls().rowCount() - 1);
    EXPECT_GE(server.Requests().size(), 3u);

    // A screenshot of the page with what it found, one URL being grabbed and another selected.
    auto bytes = quil::test::ReadFile(TaggedWma());
    server.Handle("/show/night.wma",
                  quil::test::HttpSlowBody({bytes.begin(), bytes.end()}, 2000, 100ms));
    const QString grabbed = QString::fromStdString(server.Url("/show/night.wma"));
    page->AddUrl(grabbed);
    ASSERT_EQ(page->StartGrab(), 1);
    ASSERT_TRUE(WaitForStatus(grabbed, "Grabbing"));
    Select(QString::fromStdString(twice));
    page->show();
    QApplication::processEvents();
    auto folder = ScreenshotFolder();
    std::filesystem::create_directories(folder);
    auto shot = folder / "network.png";
    EXPECT_TRUE(page->grab().save(QString::fromStdString(shot.string()))) << shot;
    EXPECT_EQ(page->StopGrab(), 1);

    Click("stopSnifferButton");
    EXPECT_TRUE(Button("startSnifferButton")->isEnabled());
    EXPECT_TRUE(Adapters()->isEnabled());
    EXPECT_FALSE(DumpFileIsOpen());
    // Nothing more is listed once stopped.
    const int rows = page->Urls().rowCount();
    Request(server.Url("/late/after-stop.wma"));
    QCoreApplication::processEvents();
    EXPECT_EQ(page->Urls().rowCount(), rows);
}

TEST_F(NetworkSnifferTest, APageDestroyedWhileCapturingStopsTheCaptureFirst) {
    server.Handle("*", quil::test::HttpReply(200, "not a stream"));
    if (!StartOnLoopback()) GTEST_SKIP() << "cannot capture on the loopback adapter here";
    // Keep the capture thread busy with traffic while the page goes.
    for (int i = 0; i < 5; ++i) Request(server.Url("/busy/" + std::to_string(i) + ".wma"));
    page.reset();
    EXPECT_FALSE(DumpFileIsOpen());
    QCoreApplication::processEvents();
    // The choice of the loopback adapter outlives the page.
    Recreate();
    EXPECT_EQ(Adapters()->currentText(), "lo");
}

}  // namespace
}  // namespace quil::network::test
