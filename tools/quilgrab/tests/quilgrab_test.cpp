#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/sniffer/tests/capture_writer.h"
#include "testsupport/test_support.h"

namespace {

using quil::test::RunCommand;

std::string Quilgrab(const std::string& arguments) {
    return std::string(QUILGRAB_PATH) + " " + arguments;
}

TEST(QuilgrabDispatcher, HelpListsCommandsAndUnknownOnesFail) {
    std::string out;
    EXPECT_EQ(RunCommand(Quilgrab("--help"), &out), 0);
    EXPECT_NE(out.find("Usage: quilgrab [OPTIONS] SUBCOMMAND"), std::string::npos) << out;
    for (const char* command : {"file", "stream", "cd", "live", "tags", "profiles", "sniff"})
        EXPECT_NE(out.find("\n  " + std::string(command) + " "), std::string::npos) << command;
    EXPECT_NE(out.find("130 interrupted"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(RunCommand(Quilgrab("--version"), &out), 0);
    EXPECT_EQ(out.rfind("quilgrab ", 0), 0u) << out;
    // Every command has its own help, with the exit codes.
    for (const char* command : {"file", "stream", "cd", "live", "tags", "profiles", "sniff"}) {
        out.clear();
        EXPECT_EQ(RunCommand(Quilgrab(std::string(command) + " --help"), &out), 0) << command;
        EXPECT_NE(out.find("Exit status: 0 all done, 1 some input failed, 2 bad usage"),
                  std::string::npos)
            << command << out;
    }
    out.clear();
    EXPECT_EQ(RunCommand(Quilgrab("nosuchcommand 2>&1"), &out), 2);
    EXPECT_NE(out.find("unknown command \"nosuchcommand\""), std::string::npos) << out;
    EXPECT_EQ(RunCommand(Quilgrab("2>/dev/null")), 2);
}

TEST(QuilgrabSniff, ReadPrintsEachUrlOnceInOrderFirstSeen) {
    auto dir = quil::test::MakeTempDir("quilgrab_sniff");
    ASSERT_TRUE(quil::test::WriteCaptureFile(
        dir / "traffic.pcap",
        {quil::test::TcpFrame("DESCRIBE rtsp://media.local/show.rm RTSP/1.0\r\n"),
         quil::test::TcpFrame("GET http://media.local/a.asx HTTP/1.1\r\n"),
         quil::test::TcpFrame("HTTP/1.1 200 OK\r\n\r\n<ref href=\"mms://media.local/a.wmv\"/>"),
         quil::test::TcpFrame("PLAY rtsp://media.local/show.rm RTSP/1.0\r\n"),
         quil::test::TcpFrame("GET http://media.local/a.asx HTTP/1.1\r\n")}));
    std::string out;
    EXPECT_EQ(RunCommand(Quilgrab("sniff --read " + (dir / "traffic.pcap").string()), &out), 0);
    EXPECT_EQ(out,
              "rtsp://media.local/show.rm\n"
              "http://media.local/a.asx\n"
              "mms://media.local/a.wmv\n");
}

TEST(QuilgrabSniff, BadFilesAndBadUsageFailWithMessage) {
    auto dir = quil::test::MakeTempDir("quilgrab_bad");
    std::string out;
    EXPECT_EQ(
        RunCommand(Quilgrab("sniff --read " + (dir / "missing.pcap").string() + " 2>&1"), &out), 1);
    EXPECT_NE(out.find("quilgrab sniff: "), std::string::npos) << out;
    EXPECT_EQ(RunCommand(Quilgrab("sniff 2>/dev/null")), 2);
    EXPECT_EQ(RunCommand(Quilgrab("sniff --read 2>/dev/null")), 2);
    EXPECT_EQ(RunCommand(Quilgrab("sniff --adapter lo --read x.pcap 2>/dev/null")), 2);
    EXPECT_EQ(RunCommand(Quilgrab("sniff --adapter lo --seconds zero 2>/dev/null")), 2);
    EXPECT_EQ(RunCommand(Quilgrab("sniff --bogus 2>/dev/null")), 2);
    out.clear();
    EXPECT_EQ(RunCommand(Quilgrab("sniff --help"), &out), 0);
    EXPECT_NE(out.find("--read"), std::string::npos);
}

TEST(QuilgrabProfiles, ListsTheAudioProfilesOfAVersion) {
    std::string out;
    EXPECT_EQ(RunCommand(Quilgrab("profiles --wma-version 8"), &out), 0);
    EXPECT_EQ(out.rfind("Windows Media version 8:\n  ", 0), 0u) << out;
    EXPECT_EQ(out.find("version 7"), std::string::npos) << out;
    EXPECT_EQ(RunCommand(Quilgrab("profiles --wma-version 5 2>/dev/null")), 2);
}

TEST(QuilgrabSniff, LiveCaptureForBoundedTime) {
    std::string out;
    int status = RunCommand(Quilgrab("sniff --adapter lo --seconds 1 2>&1"), &out);
    if (status != 0 && out.find("Cannot capture on lo") != std::string::npos) GTEST_SKIP() << out;
    EXPECT_EQ(status, 0) << out;
}

// The grabber libraries bring FFmpeg and about 150 libraries with them; quilgrab loads them from
// quilgrab_commands.so only for a command that needs them.
TEST(QuilgrabStart, SniffAndVersionRunWithoutTheGrabberLibraries) {
    std::string out;
    ASSERT_EQ(RunCommand("ldd " + std::string(QUILGRAB_PATH), &out), 0);
    EXPECT_EQ(out.find("libavcodec"), std::string::npos) << out;
    EXPECT_EQ(out.find("libQuilmedia"), std::string::npos) << out;

    // A copy without the module next to it finds its libraries through LD_LIBRARY_PATH.
    const std::filesystem::path bin = std::filesystem::path(QUILGRAB_PATH).parent_path();
    auto dir = quil::test::MakeTempDir("quilgrab_alone");
    std::filesystem::copy_file(QUILGRAB_PATH, dir / "quilgrab");
    ASSERT_TRUE(quil::test::WriteCaptureFile(
        dir / "traffic.pcap", {quil::test::TcpFrame("GET http://media.local/a.asx HTTP/1.1\r\n")}));
    const std::string alone = "LD_LIBRARY_PATH=" + bin.string() + " " + (dir / "quilgrab").string();
    out.clear();
    EXPECT_EQ(RunCommand(alone + " --version", &out), 0);
    EXPECT_EQ(out.rfind("quilgrab ", 0), 0u) << out;
    out.clear();
    EXPECT_EQ(RunCommand(alone + " sniff --read " + (dir / "traffic.pcap").string(), &out), 0);
    EXPECT_EQ(out, "http://media.local/a.asx\n");

    // Without its module a grab fails, saying what is missing, and writes nothing.
    out.clear();
    EXPECT_EQ(RunCommand("cd " + dir.string() + " && " + alone + " file traffic.pcap 2>&1", &out),
              1);
    EXPECT_NE(out.find("quilgrab_commands.so cannot be loaded"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(dir / "traffic.wav"));
}

}  // namespace
