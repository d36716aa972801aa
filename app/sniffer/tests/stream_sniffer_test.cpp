#include "app/sniffer/stream_sniffer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "app/sniffer/dump_file.h"
#include "app/sniffer/tests/capture_writer.h"
#include "app/sniffer/tests/tap_device.h"
#include "testsupport/http_server.h"
#include "testsupport/test_support.h"

namespace quil {
namespace {

using namespace std::chrono_literals;

// URLs reported from the capture thread.
class UrlLog {
public:
    UrlCallback Callback() {
        return [this](std::string_view url) {
            std::lock_guard lock(mutex_);
            urls_.emplace_back(url);
            changed_.notify_all();
        };
    }
    bool WaitFor(const std::vector<std::string>& wanted, std::chrono::seconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            std::set<std::string> seen(urls_.begin(), urls_.end());
            for (const auto& url : wanted)
                if (!seen.count(url)) return false;
            return true;
        });
    }
    std::vector<std::string> Urls() {
        std::lock_guard lock(mutex_);
        return urls_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> urls_;
};

size_t OpenFileCount() {
    size_t count = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

bool DumpFileIsOpen() {
    std::error_code error;
    auto dump = std::filesystem::weakly_canonical(StreamSniffer::DumpFilePath(), error);
    for (auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        if (std::filesystem::read_symlink(entry.path(), error) == dump) return true;
    }
    return false;
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Starts a capture on the loopback interface, or says why it cannot.
bool StartOnLoopback(StreamSniffer& sniffer, std::string* why) {
    testing::internal::CaptureStderr();
    bool started = sniffer.StartCapture("lo");
    *why = testing::internal::GetCapturedStderr();
    return started;
}

// Sends `request` as it is to 127.0.0.1:port and returns the whole reply.
std::string SendRawRequest(int port, const std::string& request) {
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (client < 0) return "";
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(client, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        pollfd readable{client, POLLIN, 0};
        while (poll(&readable, 1, 5000) > 0) {
            ssize_t got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            reply.append(buffer, static_cast<size_t>(got));
        }
    }
    close(client);
    return reply;
}

TEST(CaptureFile, ReportsEveryUrlOfEveryPacketInOrder) {
    auto dir = test::MakeTempDir("capture_file");
    std::vector<test::Frame> frames = {
        test::TcpFrame("PLAY rtsp://h/a.rm RTSP/1.0\r\n"),
        test::TcpFrame(""),
        test::TcpFrame("GET http://h/split"),
        test::TcpFrame("/part.asf HTTP/1.0\r\n"),
        test::TcpFrame("<Ref href=\"mms://h/v.wmv\"/><Ref href=\"mms://h/w.wmv\"/>"),
        {},
        test::TcpFrame("PLAY rtsp://h/a.rm RTSP/1.0\r\n"),
    };
    // A frame of the whole snapshot length with its URL in the last bytes.
    const std::string last = " http://h/end.mp3";
    frames.push_back(test::TcpFrame(std::string(65536 - 54 - last.size(), 'x') + last));
    ASSERT_EQ(frames.back().size(), 65536u);
    ASSERT_TRUE(test::WriteCaptureFile(dir / "traffic.pcap", frames));

    std::vector<std::string> urls;
    std::string error;
    long long packets = StreamSniffer::ScanCaptureFile(
        dir / "traffic.pcap", [&](std::string_view url) { urls.emplace_back(url); }, &error);
    EXPECT_EQ(packets, static_cast<long long>(frames.size())) << error;
    // The split URL is not found; repeats are reported again (the list keeps one).
    EXPECT_EQ(urls, (std::vector<std::string>{"rtsp://h/a.rm", "mms://h/v.wmv", "mms://h/w.wmv",
                                              "rtsp://h/a.rm", "http://h/end.mp3"}));
}

TEST(CaptureFile, DamagedAndMissingFilesFailWithReason) {
    auto dir = test::MakeTempDir("damaged");
    std::vector<test::Frame> frames = {test::TcpFrame("PLAY rtsp://h/a.rm RTSP/1.0"),
                                       test::TcpFrame(std::string(500, 'y') + "rtsp://h/b.rm")};
    ASSERT_TRUE(test::WriteCaptureFile(dir / "cut.pcap", frames));
    std::filesystem::resize_file(dir / "cut.pcap",
                                 std::filesystem::file_size(dir / "cut.pcap") - 100);
    std::vector<std::string> urls;
    std::string error;
    auto collect = [&](std::string_view url) { urls.emplace_back(url); };
    EXPECT_EQ(StreamSniffer::ScanCaptureFile(dir / "cut.pcap", collect, &error), -1);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(urls, std::vector<std::string>{"rtsp://h/a.rm"});

    std::ofstream(dir / "text.pcap") << "rtsp://h/not-a-capture.rm\n";
    error.clear();
    EXPECT_EQ(StreamSniffer::ScanCaptureFile(dir / "text.pcap", collect, &error), -1);
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_EQ(StreamSniffer::ScanCaptureFile(dir / "missing.pcap", collect, &error), -1);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(urls.size(), 1u);
}

TEST(Adapters, ListedNumberedFromOneOnStandardOutput) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    auto adapters = StreamSniffer::EnumerateAdapters();
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    if (adapters.empty()) {
        EXPECT_NE(err.find("Error in pcap_findalldevs: "), std::string::npos) << out;
        return;
    }
    std::string expected;
    bool haveLoopback = false;
    for (size_t i = 0; i < adapters.size(); ++i) {
        EXPECT_EQ(adapters[i].id, static_cast<int>(i));
        EXPECT_FALSE(adapters[i].name.empty());
        haveLoopback |= adapters[i].name == "lo";
        expected += std::to_string(i + 1) + ". " + adapters[i].name + " (" +
                    (adapters[i].description.empty() ? "No description available"
                                                     : adapters[i].description) +
                    ")\n";
    }
    EXPECT_EQ(out, expected);
    EXPECT_TRUE(haveLoopback);
}

TEST(LiveCapture, UnknownDeviceFailsWithReason) {
    StreamSniffer sniffer({});
    testing::internal::CaptureStderr();
    EXPECT_FALSE(sniffer.StartCapture("quilnosuchdev0"));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Cannot capture on quilnosuchdev0"), std::string::npos) << err;
    EXPECT_FALSE(sniffer.Capturing());
    sniffer.StopCapture();
}

TEST(LiveCapture, WithoutRawSocketRightStartFailsAndSaysWhy) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to an unprivileged user";
    auto errPath = test::TestDir() / "rights.err";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || dup2(err, 2) < 0) _exit(76);
        if (setgid(65534) != 0 || setuid(65534) != 0) _exit(77);
        StreamSniffer sniffer({});
        _exit(sniffer.StartCapture("lo") ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot change user here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string err = ReadText(errPath);
    EXPECT_NE(err.find("Cannot capture on lo"), std::string::npos) << err;
    EXPECT_NE(err.find("CAP_NET_RAW"), std::string::npos) << err;
}

TEST(LiveCapture, LoopbackHttpRequestIsReportedDumpedAndStopIsPrompt) {
    size_t filesBefore = OpenFileCount();
    UrlLog log;
    {
        StreamSniffer sniffer(log.Callback());
        std::string why;
        if (!StartOnLoopback(sniffer, &why)) GTEST_SKIP() << why;
        EXPECT_TRUE(sniffer.Capturing());
        EXPECT_TRUE(DumpFileIsOpen());

        const std::string listed = "mms://127.0.0.1/live/radio.wma";
        test::HttpServer server;
        server.Handle("*", test::HttpReply(200, "<ASX version=\"3.0\"><Entry><Ref href=\"" +
                                                    listed + "\"/></Entry></ASX>\n"));
        ASSERT_GT(server.Port(), 0);
        // Sent as to a proxy, so the request line carries the whole URL.
        const std::string requested = server.Url("/live/stream.asf");
        std::string reply = SendRawRequest(server.Port(), "GET " + requested + " HTTP/1.0\r\n\r\n");
        EXPECT_NE(reply.find(listed), std::string::npos);
        EXPECT_TRUE(log.WaitFor({requested, listed}, 15s)) << testing::PrintToString(log.Urls());

        auto stopping = std::chrono::steady_clock::now();
        sniffer.StopCapture();
        auto stopTook = std::chrono::steady_clock::now() - stopping;
        EXPECT_LT(stopTook, 10s);  // never waits for traffic that may not come
        EXPECT_FALSE(sniffer.Capturing());
        EXPECT_FALSE(DumpFileIsOpen());

        // The dump holds the captured packets, so the same URL comes out of it again.
        std::vector<std::string> dumped;
        std::string error;
        EXPECT_GT(StreamSniffer::ScanCaptureFile(
                      StreamSniffer::DumpFilePath(),
                      [&](std::string_view url) { dumped.emplace_back(url); }, &error),
                  0)
            << error;
        EXPECT_NE(std::find(dumped.begin(), dumped.end(), requested), dumped.end());
    }
    EXPECT_EQ(OpenFileCount(), filesBefore);
}

TEST(LiveCapture, QuietStopRestartAndDestroyLeaveNothingOpen) {
    size_t filesBefore = OpenFileCount();
    {
        StreamSniffer sniffer({});
        std::string why;
        if (!StartOnLoopback(sniffer, &why)) GTEST_SKIP() << why;
        std::this_thread::sleep_for(300ms);
        auto stopping = std::chrono::steady_clock::now();
        sniffer.StopCapture();
        EXPECT_LT(std::chrono::steady_clock::now() - stopping, 10s);
        sniffer.StopCapture();

        ASSERT_TRUE(StartOnLoopback(sniffer, &why)) << why;
        // A second start replaces the first capture.
        ASSERT_TRUE(StartOnLoopback(sniffer, &why)) << why;
        EXPECT_TRUE(sniffer.Capturing());
    }
    EXPECT_EQ(OpenFileCount(), filesBefore);
    EXPECT_FALSE(DumpFileIsOpen());
}

TEST(LiveCapture, DumpFileIsCreatedAnewAtEachStart) {
    auto dump = StreamSniffer::DumpFilePath();
    std::filesystem::create_directories(dump.parent_path());
    std::ofstream(dump) << std::string(100000, 's') << "stale rtsp://old/a.rm";
    StreamSniffer sniffer({});
    std::string why;
    if (!StartOnLoopback(sniffer, &why)) GTEST_SKIP() << why;
    sniffer.StopCapture();
    std::string text = ReadText(dump);
    ASSERT_GE(text.size(), 24u);
    EXPECT_EQ(text.substr(0, 4), "\xd4\xc3\xb2\xa1");
    EXPECT_EQ(text.find("stale"), std::string::npos);
    // Packets captured in promiscuous mode are for the owner's eyes only, even when the old
    // file was readable by others.
    EXPECT_EQ(std::filesystem::status(dump).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// The dump rotates at its limit, keeping one older file; both stay private and both remain
// readable capture files holding whole packets.
TEST(DumpFileRotation, KeepsTheCurrentAndOneOlderFileWithinTheLimit) {
    namespace fs = std::filesystem;
    auto dir = test::MakeTempDir("dumprotation");
    auto path = dir / "Dump.txt";
    constexpr uint64_t kLimit = 10000;
    std::unique_ptr<pcap_t, void (*)(pcap_t*)> dead(pcap_open_dead(DLT_EN10MB, 65536), pcap_close);
    ASSERT_TRUE(dead);
    std::vector<u_char> payload(1000, 0x5A);
    {
        DumpFile dump(dead.get(), path, kLimit);
        ASSERT_TRUE(dump.IsOpen());
        for (int i = 0; i < 35; ++i) {
            pcap_pkthdr header{};
            header.ts.tv_sec = i;
            header.caplen = header.len = static_cast<bpf_u_int32>(payload.size());
            payload[0] = static_cast<u_char>(i);
            dump.Write(&header, payload.data());
        }
    }
    auto older = DumpFile::OlderPath(path);
    ASSERT_TRUE(fs::exists(older));
    EXPECT_FALSE(fs::exists(path.string() + ".2"));
    std::vector<int> seen;
    for (const auto& file : {older, path}) {
        SCOPED_TRACE(file.string());
        EXPECT_LE(fs::file_size(file), kLimit);
        EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        char error[PCAP_ERRBUF_SIZE] = "";
        std::unique_ptr<pcap_t, void (*)(pcap_t*)> reader(pcap_open_offline(file.c_str(), error),
                                                          pcap_close);
        ASSERT_TRUE(reader) << error;
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        while (pcap_next_ex(reader.get(), &header, &data) == 1) {
            EXPECT_EQ(header->caplen, payload.size());
            seen.push_back(data[0]);
        }
    }
    // The newest packets survive, in order, up to the last one written.
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 34);
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_EQ(seen[i], seen[i - 1] + 1);
}

TEST(LiveCapture, GoesOnWithoutDumpWhenTheFileCannotBeWritten) {
    auto dump = StreamSniffer::DumpFilePath();
    std::filesystem::remove_all(dump);
    std::filesystem::create_directories(dump);
    StreamSniffer sniffer({});
    std::string why;
    bool started = StartOnLoopback(sniffer, &why);
    std::filesystem::remove_all(dump);
    if (!started && why.find("Cannot write the dump file") == std::string::npos)
        GTEST_SKIP() << why;
    EXPECT_TRUE(started);
    EXPECT_NE(why.find("Cannot write the dump file"), std::string::npos) << why;
    EXPECT_TRUE(sniffer.Capturing());
}

TEST(LiveCapture, FramesOnATapAreReportedAndItsRemovalEndsTheCapture) {
    size_t filesBefore = OpenFileCount();
    UrlLog log;
    {
        test::TapDevice tap;
        if (tap.Name().empty()) GTEST_SKIP() << tap.Problem();
        StreamSniffer sniffer(log.Callback());
        testing::internal::CaptureStderr();
        bool started = sniffer.StartCapture(tap.Name());
        std::string why = testing::internal::GetCapturedStderr();
        if (!started) GTEST_SKIP() << why;

        const std::string url = "rtsp://tap.local/show.rm";
        // Frames written before the capture is ready are lost, so keep writing until one lands.
        for (int tries = 0; tries < 20 && !log.WaitFor({url}, 0s); ++tries) {
            tap.Write(test::TcpFrame("PLAY " + url + " RTSP/1.0\r\n"));
            log.WaitFor({url}, 1s);
        }
        EXPECT_TRUE(log.WaitFor({url}, 0s)) << testing::PrintToString(log.Urls());

        testing::internal::CaptureStdout();
        tap.Close();
        for (int waited = 0; waited < 100 && sniffer.Capturing(); ++waited)
            std::this_thread::sleep_for(50ms);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(sniffer.Capturing());
        EXPECT_NE(out.find("Error reading the packets: "), std::string::npos) << out;
        EXPECT_FALSE(DumpFileIsOpen());
        sniffer.StopCapture();
    }
    EXPECT_EQ(OpenFileCount(), filesBefore);
}

}  // namespace
}  // namespace quil
