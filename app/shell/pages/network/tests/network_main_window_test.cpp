// The network stream page inside the real main window: the transport buttons, the busy state,
// the path and format lines.

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

#include <atomic>
#include <chrono>

#include "app/controls/skin.h"
#include "app/settings/output_naming.h"
#include "app/shell/main_window.h"
#include "app/shell/messages.h"
#include "app/shell/page_factory.h"
#include "app/shell/pages/network/tests/page_test_util.h"
#include "app/shell/testing/test_services.h"
#include "testsupport/http_server.h"
#include "testsupport/test_support.h"

namespace quil::network::test {
namespace {

using namespace std::chrono_literals;
using shell::testing::WaitFor;

class NetworkOnMainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        settings::ApplyStartupDefaults();
        shell::MainWindow::Options options;
        options.services = services.Set();
        options.showSplash = false;
        // The real network page; the other pages stay out of the way.
        options.pages = [](int index, shell::PageHost& host,
                           QWidget* parent) -> std::unique_ptr<shell::Page> {
            if (index == shell::kNetworkPage) return shell::CreatePage(index, host, parent);
            return std::make_unique<shell::EmptyPage>(host, parent);
        };
        window = std::make_unique<shell::MainWindow>(options);
        window->show();
        Click("source3");
        ASSERT_EQ(window->CurrentPageIndex(), shell::kNetworkPage);
        page = dynamic_cast<NetworkPage*>(window->PageAt(shell::kNetworkPage));
        ASSERT_NE(page, nullptr);
        before = FilesIn(OutputFolder());
    }
    void TearDown() override { window.reset(); }

    QAbstractButton* Button(const char* name) {
        auto* button = window->findChild<QAbstractButton*>(name);
        EXPECT_NE(button, nullptr) << name;
        return button;
    }
    void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }
    bool Enabled(const char* name) { return Button(name)->isEnabled(); }
    QString Status(const QString& url) { return page->Urls().Status(page->Urls().Find(url)); }
    QString Serve(const std::string& path, quil::test::HttpHandler handler) {
        server.Handle(path, std::move(handler));
        return QString::fromStdString(server.Url(path));
    }
    static std::string TaggedBytes() {
        auto bytes = quil::test::ReadFile(TaggedWma());
        return {bytes.begin(), bytes.end()};
    }
    std::vector<std::filesystem::path> NewFiles() const {
        std::vector<std::filesystem::path> files;
        for (const auto& file : FilesIn(OutputFolder()))
            if (!before.count(file)) files.push_back(file);
        return files;
    }

    shell::testing::TestServices services;
    std::unique_ptr<shell::MainWindow> window;
    NetworkPage* page = nullptr;
    quil::test::HttpServer server;
    std::set<std::filesystem::path> before;
};

TEST_F(NetworkOnMainWindowTest, RecordOfADeadServerSaysOptionFailedAndTheWindowReturnsToIdle) {
    const QString url = "http://127.0.0.1:1/gone.wma";
    ASSERT_TRUE(page->AddUrl(url));
    Click("record");
    EXPECT_TRUE(window->IsBusy());
    EXPECT_EQ(Status(url), "Connecting......");
    ASSERT_TRUE(WaitFor([&] { return !window->IsBusy(); }, 30000));
    EXPECT_EQ(services.messages.Texts(), QStringList({"Option failed!"}));
    EXPECT_EQ(Status(url), "Stop");
    for (const char* name : {"record", "play", "pause", "stop"}) EXPECT_TRUE(Enabled(name)) << name;
    EXPECT_TRUE(NewFiles().empty());
}

TEST_F(NetworkOnMainWindowTest, AGrabRunsToTheStreamsEndAndTheWindowReturnsToIdle) {
    const QString url = Serve("/live/night.wma", quil::test::HttpReply(200, TaggedBytes()));
    ASSERT_TRUE(page->AddUrl(url));
    Click("formatMp3");
    Click("record");
    EXPECT_TRUE(window->IsGrabbing());
    ASSERT_TRUE(WaitFor([&] { return !window->IsBusy() && Status(url) == "Stop"; }, 60000));
    EXPECT_TRUE(services.messages.Texts().isEmpty())
        << services.messages.Texts().join("\n").toStdString();
    EXPECT_EQ(window->PathLine(), "");
    EXPECT_EQ(window->FormatText(), "");
    auto files = NewFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].extension(), ".mp3");
    EXPECT_NEAR(DecodedSeconds(files[0]), 10.0, 0.3);
}

TEST_F(NetworkOnMainWindowTest, StopWhileConnectingReturnsToIdleAtOnce) {
    std::atomic<bool> answered{false};
    const std::string bytes = TaggedBytes();
    const QString url = Serve(
        "/late.wma", [&](const quil::test::HttpRequest&, quil::test::HttpConnection& connection) {
            connection.Pause(1000ms);
            connection.Send(quil::test::HttpResponseText(200, "OK", {}, bytes));
            answered = true;
        });
    ASSERT_TRUE(page->AddUrl(url));
    Click("record");
    // The request reached the server, which has not answered yet.
    ASSERT_TRUE(WaitFor([&] { return !server.Requests().empty(); }, 30000));
    EXPECT_EQ(Status(url), "Connecting......");
    Click("stop");
    EXPECT_FALSE(window->IsBusy());
    EXPECT_EQ(Status(url), "Stop");
    ASSERT_TRUE(WaitFor([&] { return answered.load() && page->OpensUnderWay() == 0; }, 30000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->IsBusy());
    EXPECT_EQ(Status(url), "Stop");
    EXPECT_EQ(window->PathLine(), "");
    EXPECT_TRUE(services.messages.Texts().isEmpty());
}

TEST_F(NetworkOnMainWindowTest, PlayShowsTitleAndAuthorInThePathLine) {
    if (!quil::test::HavePulse()) GTEST_SKIP() << "no private sound server";
    const QString url =
        Serve("/live/night.wma", quil::test::HttpSlowBody(TaggedBytes(), 8000, 100ms));
    ASSERT_TRUE(page->AddUrl(url));
    Click("play");
    EXPECT_EQ(Status(url), "Connecting......");
    // The page's start reaches the main window as a posted message, after the row says so.
    ASSERT_TRUE(WaitFor([&] { return Status(url) == "Playing" && window->IsBusy(); }, 30000));
    EXPECT_FALSE(window->IsGrabbing());
    EXPECT_EQ(window->PathLine(), "Output file path:  Title: Night Grab  Author: Ada Corvane");
    EXPECT_EQ(window->FormatText(), "44kHz 16Bits Stereo");

    quil::controls::ApplyProgramLook(*qApp);  // the picture shows the program's own look
    window->grab();                           // lays the window out for the screenshot below
    const char* folder = std::getenv("QUIL_SCREENSHOT_DIR");
    std::filesystem::path shots = folder && *folder ? folder : QUIL_PAGES_SCREENSHOT_DIR;
    std::filesystem::create_directories(shots);
    EXPECT_TRUE(window->grab().save(QString::fromStdString((shots / "network-main.png").string())));

    Click("pause");
    EXPECT_EQ(Status(url), "Play Pause");
    Click("play");
    EXPECT_EQ(Status(url), "Playing");
    Click("stop");
    EXPECT_EQ(Status(url), "Stop");
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->IsBusy());
    EXPECT_TRUE(services.messages.Texts().isEmpty());
}

TEST_F(NetworkOnMainWindowTest, PlayOfAStreamWithVideoShowsItsWindowAndStopClosesIt) {
    if (!quil::test::HavePulse()) GTEST_SKIP() << "no private sound server";
    auto bytes = quil::test::ReadFile(VideoStream());
    const QString url =
        Serve("/tv/bars.ts", quil::test::HttpReply(200, std::string(bytes.begin(), bytes.end())));
    ASSERT_TRUE(page->AddUrl(url));
    Click("play");
    ASSERT_TRUE(WaitFor([&] { return Status(url) == "Playing" && window->IsBusy(); }, 30000));
    shell::VideoWindow* video = page->videoWindow();
    ASSERT_NE(video, nullptr);
    EXPECT_TRUE(video->isVisible());
    ASSERT_TRUE(WaitFor([&] { return video->FramesShown() >= 3; }));
    EXPECT_GT(DistinctColours(video->grab().toImage()), 8);
    Click("stop");
    EXPECT_EQ(page->videoWindow(), nullptr);
    EXPECT_TRUE(VideoWindows().isEmpty());
    EXPECT_EQ(Status(url), "Stop");
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->IsBusy());
    EXPECT_TRUE(services.messages.Texts().isEmpty());
}

}  // namespace
}  // namespace quil::network::test
