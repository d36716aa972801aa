// Streams with video: the video window of a playback, and a stop while such a stream connects.

#include <QApplication>
#include <QImage>

#include <chrono>
#include <thread>

#include "app/shell/messages.h"
#include "app/shell/pages/network/stream_open.h"
#include "app/shell/pages/network/tests/page_test_util.h"
#include "app/shell/qt_window_target.h"
#include "testsupport/http_server.h"
#include "testsupport/test_support.h"

namespace quil::network::test {
namespace {

using namespace std::chrono_literals;
using quil::test::HttpServer;
using shell::VideoWindow;
using shell::testing::WaitFor;

const QString kConnecting = "Connecting......";

std::string BytesOf(const std::filesystem::path& file) {
    auto bytes = quil::test::ReadFile(file);
    return std::string(bytes.begin(), bytes.end());
}

std::filesystem::path ScreenshotFolder() {
    if (const char* folder = std::getenv("QUIL_SCREENSHOT_DIR"); folder && *folder) return folder;
    return QUIL_PAGES_SCREENSHOT_DIR;
}

class NetworkVideoTest : public NetworkPageTest {
protected:
    void SetUp() override {
        if (!quil::test::HavePulse()) GTEST_SKIP() << "no private sound server";
        NetworkPageTest::SetUp();
        ASSERT_FALSE(BytesOf(VideoStream()).empty()) << "ffmpeg could not make the video stream";
    }
    QString Serve(const std::string& path, quil::test::HttpHandler handler) {
        server.Handle(path, std::move(handler));
        return QString::fromStdString(server.Url(path));
    }
    // Nothing of an earlier playback is left: no open, no grabber being ended, no window.
    bool AllEnded() {
        return page->OpensUnderWay() == 0 && page->PlaybacksEnding() == 0 &&
               VideoWindows().isEmpty();
    }

    HttpServer server;
};

TEST_F(NetworkVideoTest, PlayOfAStreamWithVideoShowsItsFramesAndStopClosesTheWindow) {
    const QString url = Serve("/tv/bars.ts", quil::test::HttpReply(200, BytesOf(VideoStream())));
    AddByHand(url);
    Select(url);
    page->show();
    ASSERT_EQ(page->Play(), 1);
    EXPECT_EQ(Status(url), kConnecting);
    ASSERT_TRUE(WaitForStatus(url, "Playing"));
    EXPECT_EQ(CountPosted(shell::MSG_STARTED), 1);
    EXPECT_EQ(host.formatText, "44kHz 16Bits Stereo");

    VideoWindow* window = page->videoWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(VideoWindows(), QList<VideoWindow*>({window}));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->videoSize(), QSize(320, 240));
    EXPECT_EQ(window->size(), QSize(320, 240));
    ASSERT_TRUE(WaitFor([&] { return window->FramesShown() >= 3; }));
    EXPECT_EQ(window->LastFrame().size(), QSize(320, 240));
    const QImage painted = window->grab().toImage();
    EXPECT_GT(DistinctColours(painted), 8) << "the window shows no picture";
    // The picture keeps moving.
    const int shown = window->FramesShown();
    ASSERT_TRUE(WaitFor([&] { return window->FramesShown() > shown + 2; }));

    // Minimised to the tray and back.
    page->ShowVideo(false);
    EXPECT_FALSE(window->isVisible());
    page->ShowVideo(true);
    EXPECT_TRUE(window->isVisible());

    std::filesystem::create_directories(ScreenshotFolder());
    EXPECT_TRUE(window->grab().save(
        QString::fromStdString((ScreenshotFolder() / "network_video.png").string())));

    EXPECT_EQ(page->PausePlayback(), 1);
    EXPECT_EQ(Status(url), "Play Pause");
    EXPECT_EQ(page->videoWindow(), window);
    EXPECT_EQ(page->Play(), 1);
    EXPECT_EQ(Status(url), "Playing");

    EXPECT_EQ(page->StopPlayback(), 1);
    EXPECT_EQ(page->videoWindow(), nullptr);
    EXPECT_TRUE(VideoWindows().isEmpty());
    EXPECT_EQ(Status(url), "Stop");
    EXPECT_EQ(CountPosted(shell::MSG_STOPPED_PLAYER), 1);
    EXPECT_TRUE(WaitFor([&] { return AllEnded(); }));
    EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("\n").toStdString();
}

TEST_F(NetworkVideoTest, AStreamWithoutVideoOpensNoWindowAndNextClosesTheLastOne) {
    const QString video = Serve("/tv/bars.ts", quil::test::HttpReply(200, BytesOf(VideoStream())));
    const QString sound =
        Serve("/radio/night.wma", quil::test::HttpReply(200, BytesOf(TaggedWma())));
    AddByHand(video);
    AddByHand(sound);
    Select(sound);
    ASSERT_EQ(page->Play(), 1);
    ASSERT_TRUE(WaitForStatus(sound, "Playing"));
    EXPECT_EQ(page->videoWindow(), nullptr);
    EXPECT_TRUE(VideoWindows().isEmpty());

    // Previous: the video's window opens; Next: it closes again for the sound-only stream.
    EXPECT_EQ(page->Previous(), 1);
    ASSERT_TRUE(WaitForStatus(video, "Playing"));
    ASSERT_NE(page->videoWindow(), nullptr);
    EXPECT_TRUE(page->videoWindow()->isVisible());
    EXPECT_EQ(page->Next(), 1);
    EXPECT_EQ(page->videoWindow(), nullptr);
    EXPECT_TRUE(VideoWindows().isEmpty());
    ASSERT_TRUE(WaitForStatus(sound, "Playing"));
    EXPECT_EQ(page->videoWindow(), nullptr);
    EXPECT_TRUE(VideoWindows().isEmpty());
    EXPECT_EQ(page->StopPlayback(), 1);
    EXPECT_TRUE(WaitFor([&] { return AllEnded(); }));
    EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("\n").toStdString();
}

TEST_F(NetworkVideoTest, AWindowHiddenToTheTrayStaysHiddenWhenTheStreamStarts) {
    const QString url = Serve("/tv/bars.ts", quil::test::HttpReply(200, BytesOf(VideoStream())));
    AddByHand(url);
    Select(url);
    page->ShowVideo(false);
    ASSERT_EQ(page->Play(), 1);
    ASSERT_TRUE(WaitForStatus(url, "Playing"));
    ASSERT_NE(page->videoWindow(), nullptr);
    EXPECT_FALSE(page->videoWindow()->isVisible());
    page->ShowVideo(true);
    EXPECT_TRUE(page->videoWindow()->isVisible());
    EXPECT_EQ(page->StopPlayback(), 1);
    EXPECT_TRUE(WaitFor([&] { return AllEnded(); }));
}

// The user stops after the page gave the grabber its window and the worker started it, before
// the page heard back: the late stream is dropped, its window closed, its grabber ended.
TEST_F(NetworkVideoTest, StopAfterTheWindowWasAttachedAbandonsTheOpenCleanly) {
    const QString url = Serve("/tv/bars.ts", quil::test::HttpReply(200, BytesOf(VideoStream())));
    AddByHand(url);
    Select(url);
    ASSERT_EQ(page->Play(), 1);
    // The page's window messages are handed over one pass at a time, without the rest of the
    // event loop: a message the worker posts during a pass waits for the next one. So the pass
    // in which the window appears is the one that gave the worker leave to run the stream.
    bool attached = false;
    for (auto deadline = std::chrono::steady_clock::now() + 30s;
         !attached && std::chrono::steady_clock::now() < deadline;) {
        QCoreApplication::sendPostedEvents(nullptr, shell::QtWindowTarget::EventType());
        attached = !VideoWindows().isEmpty();
        if (!attached) std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(attached);
    EXPECT_EQ(Status(url), kConnecting);
    EXPECT_EQ(page->videoWindow(), nullptr);  // not the playback's yet
    EXPECT_FALSE(VideoWindows()[0]->isVisible());
    EXPECT_EQ(page->StopPlayback(), 1);
    EXPECT_EQ(Status(url), "Stop");
    EXPECT_FALSE(page->Busy());

    ASSERT_TRUE(WaitFor([&] { return AllEnded(); }, 60000));
    EXPECT_EQ(Status(url), "Stop");
    EXPECT_FALSE(Marked(url));
    EXPECT_EQ(CountPosted(shell::MSG_STARTED), 0);
    EXPECT_EQ(CountPosted(shell::MSG_STOPPED_PLAYER), 1);
    EXPECT_EQ(host.pathText, "");
    EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("\n").toStdString();
}

// The same moment with the page destroyed instead of stopped.
TEST_F(NetworkVideoTest, APageDestroyedAfterTheWindowWasAttachedLeavesNothingBehind) {
    const QString url = Serve("/tv/bars.ts", quil::test::HttpReply(200, BytesOf(VideoStream())));
    AddByHand(url);
    Select(url);
    ASSERT_EQ(page->Play(), 1);
    bool attached = false;
    for (auto deadline = std::chrono::steady_clock::now() + 30s;
         !attached && std::chrono::steady_clock::now() < deadline;) {
        QCoreApplication::sendPostedEvents(nullptr, shell::QtWindowTarget::EventType());
        attached = !VideoWindows().isEmpty();
        if (!attached) std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(attached);
    page.reset();
    EXPECT_TRUE(VideoWindows().isEmpty());
    QCoreApplication::processEvents();
    Recreate();
}

// The worker's side of the hand-over, on a plain queue window.
class StreamOpenVideoTest : public NetworkVideoTest {
protected:
    static constexpr UINT kWaiting = 1, kDone = 2;
    std::unique_ptr<StreamOpen> Start(const QString& url) {
        StreamOpenRequest request;
        request.url = url.toStdString();
        request.eventWindow = reports.handle();
        request.eventMessage = 3;
        return std::make_unique<StreamOpen>(
            std::move(request), StreamOpenReports{reports.handle(), kWaiting, kDone}, 7);
    }
    UINT Next() {
        auto message = reports.Take(30s);
        while (message && message->message == 3) message = reports.Take(30s);
        return message ? message->message : 0;
    }
    QueueWindow reports;
};

TEST_F(StreamOpenVideoTest, AnOpenAbandonedWhileWaitingForItsWindowEndsItsGrabberItself) {
    const QString url = Serve("/tv/bars.ts", quil::test::HttpReply(200, BytesOf(VideoStream())));
    auto open = Start(url);
    ASSERT_EQ(Next(), kWaiting);
    EXPECT_NE(open->Waiting(), nullptr);
    open->Abandon();
    ASSERT_EQ(Next(), kDone);
    StreamOpenResult result = open->Take();
    EXPECT_FALSE(result.running);
    EXPECT_EQ(result.grabber, nullptr);
    EXPECT_TRUE(result.hasVideo);
}

TEST_F(StreamOpenVideoTest, AnAttachedGrabberIsAlwaysHandedBackEvenWhenAbandoned) {
    const QString url = Serve("/tv/bars.ts", quil::test::HttpReply(200, BytesOf(VideoStream())));
    for (bool abandon : {false, true}) {
        SCOPED_TRACE(abandon ? "abandoned" : "kept");
        auto open = Start(url);
        ASSERT_EQ(Next(), kWaiting);
        FileAudioGrabber* waiting = open->Waiting();
        ASSERT_NE(waiting, nullptr);
        open->Proceed(true);
        EXPECT_EQ(open->Waiting(), nullptr);
        if (abandon) open->Abandon();
        ASSERT_EQ(Next(), kDone);
        StreamOpenResult result = open->Take();
        ASSERT_NE(result.grabber, nullptr);
        EXPECT_EQ(result.grabber.get(), waiting);
        if (!abandon) {
            EXPECT_TRUE(result.running);
        }
    }
}

TEST_F(StreamOpenVideoTest, AStreamWithoutVideoOrAGrabNeverWaits) {
    const QString sound =
        Serve("/radio/night.wma", quil::test::HttpReply(200, BytesOf(TaggedWma())));
    auto open = Start(sound);
    ASSERT_EQ(Next(), kDone);
    StreamOpenResult result = open->Take();
    EXPECT_TRUE(result.running);
    EXPECT_FALSE(result.hasVideo);
    result.grabber.reset();

    // A grab of a stream with video takes only its sound.
    const QString video = Serve("/tv/bars.ts", quil::test::HttpReply(200, BytesOf(VideoStream())));
    StreamOpenRequest request;
    request.url = video.toStdString();
    request.grab = true;
    request.outputPath = (quil::test::MakeTempDir("network-video") / "grab.wav").string();
    StreamOpen grab(std::move(request), StreamOpenReports{reports.handle(), kWaiting, kDone}, 8);
    ASSERT_EQ(Next(), kDone);
    result = grab.Take();
    EXPECT_TRUE(result.running);
}

}  // namespace
}  // namespace quil::network::test
