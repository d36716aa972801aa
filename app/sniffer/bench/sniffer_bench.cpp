// Extraction throughput on a large capture of HTTP and RTSP traffic with a few stream URLs,
// next to tcpdump reading the same file. Usage: sniffer_bench [MEGABYTES] [FILE.pcap]

#include <pcap/pcap.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/sniffer/stream_sniffer.h"
#include "app/sniffer/tests/capture_writer.h"

namespace {

using Clock = std::chrono::steady_clock;
using quil::test::Frame;

double Seconds(Clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

std::string HtmlChunk(std::mt19937& random, size_t size) {
    static const char* const kWords[] = {"news",  "sport", "weather", "the",   "and",     "radio",
                                         "music", "live",  "today",   "video", "archive", "shows"};
    std::string text;
    while (text.size() < size) {
        int kind = std::uniform_int_distribution<int>(0, 9)(random);
        int number = std::uniform_int_distribution<int>(0, 99999)(random);
        if (kind == 0)
            text += "<a href=\"http://www.site.local/" + std::string(kWords[number % 12]) + "/" +
                    std::to_string(number) + ".html\">";
        else if (kind == 1)
            text += "<img src=\"http://img.site.local/p/" + std::to_string(number) + ".jpg\"/>";
        else
            text += std::string(kWords[number % 12]) + " ";
    }
    text.resize(size);
    return text;
}

std::string BinaryChunk(std::mt19937& random, size_t size) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    return bytes;
}

// Real-looking traffic: web pages, compressed downloads, acknowledgements, RTP media and RTSP
// keep-alives; one stream URL in about every ten thousand packets.
std::vector<Frame> MakeTraffic(size_t targetBytes, std::set<std::string>& planted) {
    std::mt19937 random(7);
    std::vector<Frame> frames;
    size_t total = 0;
    for (size_t index = 0; total < targetBytes; ++index) {
        std::string payload;
        if (index % 9973 == 5000) {
            std::string url;
            switch (planted.size() % 3) {
                case 0:
                    url = "rtsp://media.local/show" + std::to_string(index) + ".rm";
                    payload = "PLAY " + url + " RTSP/1.0\r\nCSeq: 4\r\nSession: 12345678\r\n\r\n";
                    break;
                case 1:
                    url = "http://media.local/clip" + std::to_string(index) + ".asf";
                    payload = "GET " + url + " HTTP/1.1\r\nHost: media.local\r\n\r\n";
                    break;
                default:
                    url = "mms://media.local/live" + std::to_string(index) + ".wmv";
                    payload = "HTTP/1.1 200 OK\r\n\r\n<ASX version=\"3.0\"><Entry><Ref href=\"" +
                              url + "\"/></Entry></ASX>";
            }
            planted.insert(url);
        } else {
            int kind = std::uniform_int_distribution<int>(0, 99)(random);
            if (kind < 30)
                payload = HtmlChunk(random, 1460);
            else if (kind < 55)
                payload = BinaryChunk(random, 1460);
            else if (kind < 80)
                payload = std::string(6, '\0');  // a bare acknowledgement, padded
            else if (kind < 97)
                payload = "\x80\x60" + BinaryChunk(random, 1200);  // RTP audio
            else
                payload = "GET_PARAMETER rtsp://media.local/live RTSP/1.0\r\nCSeq: " +
                          std::to_string(index) + "\r\nSession: 12345678\r\n\r\n";
        }
        frames.push_back(quil::test::TcpFrame(payload));
        total += frames.back().size();
    }
    return frames;
}

}  // namespace

int main(int argc, char** argv) {
    size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
    std::filesystem::path file =
        argc > 2 ? std::filesystem::path(argv[2])
                 : std::filesystem::temp_directory_path() / "quil_sniffer_bench.pcap";
    std::set<std::string> planted;
    std::vector<Frame> frames = MakeTraffic(megabytes << 20, planted);
    size_t bytes = 0;
    for (const Frame& frame : frames) bytes += frame.size();
    if (!quil::test::WriteCaptureFile(file, frames)) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return 1;
    }
    double megabytesOfPackets = static_cast<double>(bytes) / (1 << 20);
    std::printf("capture: %zu packets, %.1f MB of packet data, %zu stream URLs planted\n",
                frames.size(), megabytesOfPackets, planted.size());

    std::set<std::string> found;
    size_t reports = 0;
    quil::UrlExtractor extractor;
    auto start = Clock::now();
    for (const Frame& frame : frames)
        extractor.Analyse(frame, [&](std::string_view url) {
            ++reports;
            found.emplace(url);
        });
    double extractOnly = Seconds(Clock::now() - start);
    std::printf("extraction in memory:   %8.1f MB/s (%.3f s)\n", megabytesOfPackets / extractOnly,
                extractOnly);

    std::set<std::string> fromFile;
    start = Clock::now();
    std::string error;
    long long packets = quil::StreamSniffer::ScanCaptureFile(
        file, [&](std::string_view url) { fromFile.emplace(url); }, &error);
    double scan = Seconds(Clock::now() - start);
    if (packets < 0) std::fprintf(stderr, "scan failed: %s\n", error.c_str());
    std::printf("read file and extract:  %8.1f MB/s (%.3f s)\n", megabytesOfPackets / scan, scan);

    std::string command = "tcpdump -r '" + file.string() + "' -w /dev/null 2>/dev/null";
    start = Clock::now();
    int status = std::system(command.c_str());
    double tcpdump = Seconds(Clock::now() - start);
    if (status == 0)
        std::printf("tcpdump -r FILE -w /dev/null: %8.1f MB/s (%.3f s)\n",
                    megabytesOfPackets / tcpdump, tcpdump);
    else
        std::printf("tcpdump -r FILE -w /dev/null: not available (status %d)\n", status);

    bool same = found == planted && fromFile == planted && reports == planted.size();
    std::printf("target 125 MB/s on one core: %s; URLs found %s the planted ones\n",
                megabytesOfPackets / extractOnly >= 125 ? "met" : "NOT met",
                same ? "are exactly" : "DIFFER from");
    if (argc <= 2) std::filesystem::remove(file);
    return same ? 0 : 1;
}
