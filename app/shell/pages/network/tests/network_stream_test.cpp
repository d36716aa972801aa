// Grabs and playbacks of streams served by a local HTTP server, and servers that fail.

#include <QTreeView>

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/shell/messages.h"
#include "app/shell/pages/network/stream_open.h"
#include "app/shell/pages/network/tests/page_test_util.h"
#include "testsupport/http_server.h"
#include "testsupport/test_support.h"

namespace quil::network::test {
namespace {

using namespace std::chrono_literals;
using quil::test::HttpServer;
using shell::testing::WaitFor;

const QString kConnecting = "Connecting......";

std::string TaggedWmaBytes() {
    auto bytes = quil::test::ReadFile(TaggedWma());
    return std::string(bytes.begin(), bytes.end());
}

class NetworkStreamTest : public NetworkPageTest {
protected:
    void SetUp() override {
        NetworkPageTest::SetUp();
        ASSERT_FALSE(TaggedWmaBytes().empty()) << "ffmpeg could not make the test stream";
        before = FilesIn(OutputFolder());
    }
    QString Serve(const std::string& path, quil::test::HttpHandler handler) {
        server.Handle(path, std::move(handler));
        return QString::fromStdString(server.Url(path));
    }
    // Adds and selects the URL.
    void Choose(const QString& url) {
        AddByHand(url);
        Select(url);
    }
    std::vector<std::filesystem::path> NewFiles() const {
        std::vector<std::filesystem::path> files;
        for (const auto& file : FilesIn(OutputFolder()))
            if (!before.count(file)) files.push_back(file);
        return files;
    }

    HttpServer server;
    std::set<std::filesystem::path> before;
};

TEST_F(NetworkStreamTest, AServedStreamIsGrabbedIntoEachFormat) {
    const QString url = Serve("/live/night.wma", quil::test::HttpReply(200, TaggedWmaBytes()));
    Choose(url);
    struct Case {
        int format;
        const char* extension;
        const char* codec;
    } cases[] = {
        {0, ".wav", "pcm_s16le"}, {1, ".mp3", "mp3"}, {2, ".wma", "wmav2"}, {3, ".ogg", "vorbis"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extension);
        before = FilesIn(OutputFolder());
        host.posted.clear();
        host.outputFormat = c.format;
        ASSERT_EQ(page->StartGrab(), 1);
        // The open runs on a worker: the row says so at once.
        EXPECT_EQ(Status(url), kConnecting);
        EXPECT_TRUE(Marked(url));
        ASSERT_TRUE(WaitFor([&] { return CountPosted(shell::MSG_STOPPED_PLAYER) > 0; }, 60000));
        EXPECT_EQ(CountPosted(shell::MSG_STARTED), 1);
        EXPECT_EQ(Status(url), "Stop");
        EXPECT_FALSE(Marked(url));
        EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("\n").toStdString();
        EXPECT_FALSE(page->Busy());

        auto files = NewFiles();
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0].extension(), c.extension);
        EXPECT_EQ(Probe(files[0], "stream=codec_name"), std::string(c.codec) + "\n");
        EXPECT_NEAR(ProbedSeconds(files[0]), 10.0, 0.3);
        EXPECT_NEAR(DecodedSeconds(files[0]), 10.0, 0.3);
    }
}

TEST_F(NetworkStreamTest, PauseRecordAndStopGiveTheirStatusTextsAndKeepTheFile) {
    // About eight seconds to send ten seconds of sound, so the grab is still running even when
    // this test waits long for a processor.
    const QString url =
        Serve("/slow/night.wma", quil::test::HttpSlowBody(TaggedWmaBytes(), 2000, 100ms));
    Choose(url);
    host.outputFormat = 0;
    ASSERT_EQ(page->StartGrab(), 1);
    ASSERT_TRUE(WaitForStatus(url, "Grabbing"));
    EXPECT_TRUE(Marked(url));
    EXPECT_EQ(host.pathText, "Title: Night Grab  Author: Ada Corvane");
    EXPECT_EQ(host.formatText, "44kHz 16Bits Stereo");
    // Some sound reaches the file before the user pauses.
    ASSERT_TRUE(WaitFor([&] {
        auto files = NewFiles();
        std::error_code error;
        return files.size() == 1 && std::filesystem::file_size(files[0], error) > 16384;
    }));
    EXPECT_EQ(page->PauseGrab(), 1);
    EXPECT_EQ(Status(url), "Grab Pause");
    EXPECT_TRUE(Marked(url));
    EXPECT_EQ(page->StartGrab(), 1);
    EXPECT_EQ(Status(url), "Grabbing");
    EXPECT_EQ(page->StopGrab(), 1);
    EXPECT_EQ(Status(url), "Stop");
    EXPECT_FALSE(Marked(url));
    EXPECT_EQ(host.pathText, "");
    EXPECT_EQ(host.formatText, "");
    EXPECT_EQ(CountPosted(shell::MSG_STOPPED_PLAYER), 1);
    EXPECT_EQ(page->StopGrab(), 0);

    auto files = NewFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(DecodedSeconds(files[0]), 0.0);
    EXPECT_LT(DecodedSeconds(files[0]), 10.0);
    EXPECT_TRUE(Boxes().isEmpty());
}

// A closed local port, and a server that accepts and never answers.
class DeadServerTest : public NetworkStreamTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DeadServerTest, RecordFailsWithoutFreezingTheWindowAndEndsWithStop) {
    const bool silent = GetParam();
    const QString url =
        silent ? Serve("/silent.wma",
                       [](const quil::test::HttpRequest&, quil::test::HttpConnection& connection) {
                           connection.Stall();
                       })
               : QString("http://127.0.0.1:1/gone.wma");
    Choose(url);
    host.outputFormat = 1;
    TickGauge gauge;
    ASSERT_EQ(page->StartGrab(), 1);
    EXPECT_EQ(Status(url), kConnecting);
    ASSERT_TRUE(WaitForStatus(url, "Stop", 90000));
    std::printf("longest gap between ticks: %lld ms (%lld ms with waits for a processor)\n",
                static_cast<long long>(gauge.LongestGapMs()),
                static_cast<long long>(gauge.LongestRawGapMs()));
    EXPECT_LT(gauge.LongestGapMs(), 250)
        << "with waits for a processor: " << gauge.LongestRawGapMs();
    EXPECT_EQ(Boxes(), QStringList({"Option failed!"}));
    EXPECT_EQ(CountPosted(shell::MSG_STOPPED_PLAYER), 1);
    EXPECT_EQ(CountPosted(shell::MSG_STARTED), 0);
    EXPECT_FALSE(page->Busy());
    EXPECT_FALSE(Marked(url));
    // The grab never ran: no empty file is left behind.
    EXPECT_TRUE(NewFiles().empty());
}

TEST_P(DeadServerTest, PlayFailsWithoutFreezingTheWindowAndSaysSo) {
    const bool silent = GetParam();
    const QString url =
        silent ? Serve("/silent.wma",
                       [](const quil::test::HttpRequest&, quil::test::HttpConnection& connection) {
                           connection.Stall();
                       })
               : QString("http://127.0.0.1:1/gone.wma");
    Choose(url);
    TickGauge gauge;
    ASSERT_EQ(page->Play(), 1);
    EXPECT_EQ(Status(url), kConnecting);
    ASSERT_TRUE(WaitForStatus(url, "Stop", 90000));
    std::printf("longest gap between ticks: %lld ms (%lld ms with waits for a processor)\n",
                static_cast<long long>(gauge.LongestGapMs()),
                static_cast<long long>(gauge.LongestRawGapMs()));
    EXPECT_LT(gauge.LongestGapMs(), 250)
        << "with waits for a processor: " << gauge.LongestRawGapMs();
    EXPECT_EQ(Boxes(), QStringList({"The file is failed to play."}));
    EXPECT_EQ(CountPosted(shell::MSG_STOPPED_PLAYER), 1);
    EXPECT_EQ(CountPosted(shell::MSG_STARTED), 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, DeadServerTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Silent" : "ClosedPort"; });

// The server answers only after the user gave up: the late stream is dropped, not played.
TEST_F(NetworkStreamTest, StopWhileConnectingAbandonsTheOpenCleanly) {
    std::atomic<bool> answered{false};
    const std::string bytes = TaggedWmaBytes();
    const QString url = Serve(
        "/late.wma", [&](const quil::test::HttpRequest&, quil::test::HttpConnection& connection) {
            connection.Pause(1500ms);
            connection.Send(quil::test::HttpResponseText(
                200, "OK", {"Content-Length: " + std::to_string(bytes.size())}, bytes));
            answered = true;
        });
    Choose(url);
    host.outputFormat = 0;
    TickGauge gauge;
    ASSERT_EQ(page->StartGrab(), 1);
    EXPECT_EQ(Status(url), kConnecting);
    EXPECT_EQ(page->PauseGrab(), 0);  // nothing to pause yet
    // The request reached the server, which has not answered yet.
    ASSERT_TRUE(WaitFor([&] { return !server.Requests().empty(); }, 30000));
    EXPECT_EQ(Status(url), kConnecting);
    EXPECT_EQ(page->StopGrab(), 1);
    EXPECT_EQ(Status(url), "Stop");
    EXPECT_FALSE(Marked(url));
    EXPECT_EQ(CountPosted(shell::MSG_STOPPED_PLAYER), 1);
    EXPECT_FALSE(page->Busy());
    ASSERT_TRUE(WaitFor([&] { return page->OpensUnderWay() == 0; }, 60000));
    // The server's late answer changes nothing either.
    ASSERT_TRUE(WaitFor([&] { return answered.load(); }, 60000));
    QCoreApplication::processEvents();
    std::printf("longest gap between ticks: %lld ms (%lld ms with waits for a processor)\n",
                static_cast<long long>(gauge.LongestGapMs()),
                static_cast<long long>(gauge.LongestRawGapMs()));
    EXPECT_LT(gauge.LongestGapMs(), 250)
        << "with waits for a processor: " << gauge.LongestRawGapMs();
    EXPECT_EQ(Status(url), "Stop");
    EXPECT_EQ(CountPosted(shell::MSG_STARTED), 0);
    EXPECT_EQ(host.pathText, "");
    EXPECT_TRUE(Boxes().isEmpty());
    EXPECT_EQ(page->StopGrab(), 0);
}

// Two opens of a server that accepts and never answers: the one abandoned ends first, as its
// connection is cut short; the other one waits for the network time-out.
TEST_F(NetworkStreamTest, AnAbandonedOpenOfASilentServerEndsBeforeTheTimeOut) {
    const QString url =
        Serve("/silent.wma", [](const quil::test::HttpRequest&,
                                quil::test::HttpConnection& connection) { connection.Stall(); });
    QueueWindow reports;
    auto start = [&](WPARAM id) {
        StreamOpenRequest request;
        request.url = url.toStdString();
        return std::make_unique<StreamOpen>(std::move(request),
                                            StreamOpenReports{reports.handle(), 1, 2}, id);
    };
    auto kept = start(1);
    auto abandoned = start(2);
    // Both are connected and wait for an answer.
    ASSERT_TRUE(WaitFor([&] { return server.Requests().size() >= 2; }, 30000));
    QElapsedTimer clock;
    clock.start();
    abandoned->Abandon();
    auto first = reports.Take(60s);
    ASSERT_TRUE(first.has_value());
    std::printf("abandoned open ended after %lld ms\n", static_cast<long long>(clock.elapsed()));
    EXPECT_EQ(first->message, 2u);
    EXPECT_EQ(first->wParam, 2u);
    EXPECT_EQ(abandoned->Take().grabber, nullptr);
    auto second = reports.Take(60s);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(second->wParam, 1u);
    EXPECT_FALSE(kept->Take().running);
    std::printf("kept open failed after %lld ms\n", static_cast<long long>(clock.elapsed()));
}

TEST_F(NetworkStreamTest, APageDestroyedWhileConnectingLeavesNothingRunning) {
    std::atomic<bool> answered{false};
    const QString url = Serve(
        "/late.wma", [&](const quil::test::HttpRequest&, quil::test::HttpConnection& connection) {
            connection.Pause(1000ms);
            connection.Send(quil::test::HttpResponseText(200, "OK", {}, TaggedWmaBytes()));
            answered = true;
        });
    Choose(url);
    ASSERT_EQ(page->StartGrab(), 1);
    ASSERT_TRUE(WaitFor([&] { return !server.Requests().empty(); }, 30000));
    page.reset();
    // Nothing of the dead page may be reached by the late answer.
    EXPECT_TRUE(WaitFor([&] { return answered.load(); }, 30000));
    QCoreApplication::processEvents();
    Recreate();
}

TEST_F(NetworkStreamTest, AStreamBreakingOffWhileGrabbedStopsKeepsTheFileAndSaysSo) {
    const std::string bytes = TaggedWmaBytes();
    const QString url =
        Serve("/cut.wma",
              quil::test::HttpDropMidBody(bytes.size(), bytes.substr(0, bytes.size() * 6 / 10)));
    Choose(url);
    host.outputFormat = 0;
    ASSERT_EQ(page->StartGrab(), 1);
    ASSERT_TRUE(WaitFor([&] { return CountPosted(shell::MSG_STOPPED_PLAYER) > 0; }, 60000));
    EXPECT_EQ(Status(url), "Stop");
    EXPECT_EQ(Boxes(), QStringList({"System catch en error! The action failed. Please check your "
                                    "setting and try again."}));
    auto files = NewFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(DecodedSeconds(files[0]), 3.0);
    EXPECT_FALSE(page->Busy());
}

TEST_F(NetworkStreamTest, PlayShowsConnectingThenPlayingWithTitleAndAuthor) {
    if (!quil::test::HavePulse()) GTEST_SKIP() << "no private sound server";
    const QString first = Serve("/one/night.wma", quil::test::HttpReply(200, TaggedWmaBytes()));
    const QString second = Serve("/two/night.wma", quil::test::HttpReply(200, TaggedWmaBytes()));
    AddByHand(first);
    AddByHand(second);
    Select(first);
    TickGauge gauge;
    ASSERT_EQ(page->Play(), 1);
    EXPECT_EQ(Status(first), kConnecting);
    EXPECT_EQ(CountPosted(shell::MSG_STARTED), 0);
    ASSERT_TRUE(WaitForStatus(first, "Playing"));
    EXPECT_TRUE(Marked(first));
    EXPECT_EQ(CountPosted(shell::MSG_STARTED), 1);
    EXPECT_EQ(host.pathText, "Title: Night Grab  Author: Ada Corvane");
    EXPECT_EQ(host.formatText, "44kHz 16Bits Stereo");
    EXPECT_EQ(page->PausePlayback(), 1);
    EXPECT_EQ(Status(first), "Play Pause");
    EXPECT_EQ(page->Play(), 1);
    EXPECT_EQ(Status(first), "Playing");

    EXPECT_EQ(page->Previous(), 0);  // nothing before the first row
    EXPECT_EQ(page->Next(), 1);
    EXPECT_EQ(Status(first), "Stop");
    EXPECT_EQ(Status(second), kConnecting);
    ASSERT_TRUE(WaitForStatus(second, "Playing"));
    EXPECT_FALSE(Marked(first));
    EXPECT_TRUE(Marked(second));
    EXPECT_EQ(page->Next(), 0);  // nothing after the last row
    EXPECT_EQ(page->Previous(), 1);
    ASSERT_TRUE(WaitForStatus(first, "Playing"));
    EXPECT_EQ(Status(second), "Stop");
    EXPECT_EQ(CountPosted(shell::MSG_STOPPED_PLAYER), 0);

    EXPECT_EQ(page->StopPlayback(), 1);
    EXPECT_EQ(Status(first), "Stop");
    EXPECT_EQ(CountPosted(shell::MSG_STOPPED_PLAYER), 1);
    std::printf("longest gap between ticks: %lld ms (%lld ms with waits for a processor)\n",
                static_cast<long long>(gauge.LongestGapMs()),
                static_cast<long long>(gauge.LongestRawGapMs()));
    EXPECT_LT(gauge.LongestGapMs(), 250)
        << "with waits for a processor: " << gauge.LongestRawGapMs();
    EXPECT_TRUE(Boxes().isEmpty()) << Boxes().join("\n").toStdString();
}

TEST_F(NetworkStreamTest, NextOntoADeadServerSaysTheStreamFailedToPlayAndEndsIdle) {
    if (!quil::test::HavePulse()) GTEST_SKIP() << "no private sound server";
    const QString live =
        Serve("/live/night.wma", quil::test::HttpSlowBody(TaggedWmaBytes(), 8000, 100ms));
    const QString dead = "http://127.0.0.1:1/gone.wma";
    AddByHand(live);
    AddByHand(dead);
    Select(live);
    ASSERT_EQ(page->Play(), 1);
    ASSERT_TRUE(WaitForStatus(live, "Playing"));
    EXPECT_EQ(page->Next(), 1);
    EXPECT_EQ(Status(live), "Stop");
    EXPECT_EQ(Status(dead), kConnecting);
    ASSERT_TRUE(WaitForStatus(dead, "Stop"));
    EXPECT_EQ(Boxes(), QStringList({"The file is failed to play."}));
    EXPECT_EQ(CountPosted(shell::MSG_STARTED), 1);
    EXPECT_EQ(CountPosted(shell::MSG_STOPPED_PLAYER), 1);
    EXPECT_FALSE(page->Busy());
    EXPECT_EQ(host.pathText, "");
    // Nothing is current any more: there is no row to step from.
    EXPECT_EQ(page->Previous(), 0);
}

TEST_F(NetworkStreamTest, APlayedStreamThatEndsShowsStop) {
    if (!quil::test::HavePulse()) GTEST_SKIP() << "no private sound server";
    auto shortFile = quil::test::TestDir() / "short.wma";
    ASSERT_EQ(quil::test::RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i "
                                     "'sine=frequency=440:sample_rate=44100:duration=1' -c:a "
                                     "wmav2 '" +
                                     shortFile.string() + "'"),
              0);
    auto bytes = quil::test::ReadFile(shortFile);
    const QString url =
        Serve("/short.wma", quil::test::HttpReply(200, {bytes.begin(), bytes.end()}));
    Choose(url);
    ASSERT_EQ(page->Play(), 1);
    ASSERT_TRUE(WaitFor([&] { return CountPosted(shell::MSG_STOPPED_PLAYER) > 0; }, 30000));
    EXPECT_EQ(CountPosted(shell::MSG_STARTED), 1);
    EXPECT_EQ(Status(url), "Stop");
    EXPECT_FALSE(page->Busy());
    EXPECT_TRUE(Boxes().isEmpty());
}

}  // namespace
}  // namespace quil::network::test
