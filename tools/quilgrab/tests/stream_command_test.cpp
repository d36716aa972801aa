#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "testsupport/http_server.h"
#include "tools/quilgrab/tests/quilgrab_run.h"

namespace {

using quil::test::HttpServer;
using quil::test::Lines;
using quil::test::MakeTempDir;
using quil::test::ProbeSeconds;
using quil::test::Quilgrab;
using quil::test::Quote;

std::string ToneBytes(const std::filesystem::path& dir, double seconds) {
    EXPECT_TRUE(quil::test::MakeTone(dir / "tone.mp3", seconds));
    auto bytes = quil::test::ReadFile(dir / "tone.mp3");
    return std::string(bytes.begin(), bytes.end());
}

TEST(QuilgrabStream, ServerErrorsAreSaidInTheirOwnWords) {
    auto dir = MakeTempDir("stream_errors");
    HttpServer server;
    auto run = Quilgrab("stream --retries 0 -f wav -d " + Quote(dir.string()) + " " +
                        Quote(server.Url("/missing.mp3")));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("HTTP 404 Not Found"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");

    // A port nobody listens on: take one and let it go.
    int port;
    {
        HttpServer gone;
        port = gone.Port();
    }
    run = Quilgrab("stream --retries 1 --retry-wait 0 -f wav -d " + Quote(dir.string()) +
                   " http://127.0.0.1:" + std::to_string(port) + "/radio");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Connection refused"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("connecting again (1 of 1)"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("0x"), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

TEST(QuilgrabStream, AStreamThatEndsEarlyFailsUnlessUntilEndWasAsked) {
    auto dir = MakeTempDir("stream_early");
    HttpServer server;
    server.Handle("/radio.mp3", quil::test::HttpReply(200, ToneBytes(dir, 4)));
    auto out = dir / "out";
    auto run = Quilgrab("stream --retries 1 --retry-wait 0 -t 30 -f wav -d " + Quote(out.string()) +
                        " " + Quote(server.Url("/radio.mp3")));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("ended early"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("connecting again (1 of 1)"), std::string::npos) << run.err;
    // Both parts are kept and named.
    auto files = Lines(run.out);
    ASSERT_EQ(files.size(), 2u) << run.out;
    EXPECT_NEAR(ProbeSeconds(files[0]), 4.0, 0.2);

    // A server that announces more than it sends and drops the connection.
    std::string tone = ToneBytes(dir, 4);
    server.Handle("/dropped.mp3", quil::test::HttpDropMidBody(tone.size() * 3, tone));
    run = Quilgrab("stream --retries 0 -f wav -d " + Quote(out.string()) + " " +
                   Quote(server.Url("/dropped.mp3")));
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("ended early"), std::string::npos) << run.err;
    ASSERT_EQ(Lines(run.out).size(), 1u) << run.out;
    EXPECT_GT(ProbeSeconds(Lines(run.out)[0]), 3.0);

    run = Quilgrab("stream --until-end -q -f wav -d " + Quote(out.string()) + " " +
                   Quote(server.Url("/radio.mp3")));
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(Lines(run.out).size(), 1u);
    EXPECT_NEAR(ProbeSeconds(Lines(run.out)[0]), 4.0, 0.2);
}

TEST(QuilgrabStream, PlaylistsLeadToTheirStreamsAndSecondsCountAudio) {
    auto dir = MakeTempDir("stream_playlist");
    HttpServer server;
    server.Handle("/live.mp3", quil::test::HttpReply(200, ToneBytes(dir, 6)));
    server.Handle("/radio.pls", quil::test::HttpReply(200, "[playlist]\nNumberOfEntries=1\nFile1=" +
                                                               server.Url("/live.mp3") + "\n"));
    std::ofstream(dir / "local.m3u") << "#EXTM3U\n#EXTINF:-1,Radio\n"
                                     << server.Url("/live.mp3") << "\n";
    for (const std::string& address : {server.Url("/radio.pls"), (dir / "local.m3u").string()}) {
        auto run = Quilgrab("stream -q -t 2 -f wav --name '{stem}' -d " +
                            Quote((dir / "out").string()) + " " + Quote(address));
        ASSERT_EQ(run.status, 0) << address << "\n" << run.err;
        auto files = Lines(run.out);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(std::filesystem::path(files[0]).stem().string().substr(0, 4), "live");
        EXPECT_NEAR(ProbeSeconds(files[0]), 2.0, 0.05) << address;
    }
}

}  // namespace
