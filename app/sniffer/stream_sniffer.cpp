#include "app/sniffer/stream_sniffer.h"

#include <pcap/pcap.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "app/sniffer/dump_file.h"
#include "platform/registry/user_folders.h"

namespace quil {

namespace {

constexpr int kSnapshotLength = 65536;
constexpr int kPromiscuous = 1;
constexpr int kReadTimeoutMs = 1000;
// How long the capture thread sleeps between checks when the device offers nothing to poll.
constexpr int kIdlePollMs = 20;
constexpr size_t kCaptureFileBuffer = 1 << 16;

struct PcapCloser {
    void operator()(pcap_t* capture) const { pcap_close(capture); }
};
struct DeviceListFreer {
    void operator()(pcap_if_t* devices) const { pcap_freealldevs(devices); }
};
using CaptureHandle = std::unique_ptr<pcap_t, PcapCloser>;

// pcap_open_live's steps, done one by one so a refusal for want of rights can be told apart.
CaptureHandle OpenLive(const std::string& deviceName) {
    char error[PCAP_ERRBUF_SIZE] = "";
    CaptureHandle capture(pcap_create(deviceName.c_str(), error));
    if (!capture) {
        std::fprintf(stderr, "Cannot capture on %s: %s\n", deviceName.c_str(), error);
        return nullptr;
    }
    pcap_set_snaplen(capture.get(), kSnapshotLength);
    pcap_set_promisc(capture.get(), kPromiscuous);
    pcap_set_timeout(capture.get(), kReadTimeoutMs);
    int status = pcap_activate(capture.get());
    if (status < 0) {
        std::string reason =
            status == PCAP_ERROR ? pcap_geterr(capture.get()) : pcap_statustostr(status);
        if (status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED) {
            std::fprintf(stderr,
                         "Cannot capture on %s: %s. Capturing needs the CAP_NET_RAW capability: "
                         "run as root or grant it with \"setcap cap_net_raw,cap_net_admin=eip\" "
                         "on the program.\n",
                         deviceName.c_str(), reason.c_str());
        } else {
            std::fprintf(stderr, "Cannot capture on %s: %s\n", deviceName.c_str(), reason.c_str());
        }
        return nullptr;
    }
    // Without traffic a blocking read on a TPACKET_V3 ring never returns, so the capture thread
    // polls instead, together with the stop event.
    if (pcap_setnonblock(capture.get(), 1, error) < 0) {
        std::fprintf(stderr, "Cannot capture on %s: %s\n", deviceName.c_str(), error);
        return nullptr;
    }
    return capture;
}

void AnalysePacket(UrlExtractor& extractor, const pcap_pkthdr* header, const u_char* data,
                   const UrlCallback& onUrl) {
    extractor.Analyse(std::span<const uint8_t>(data, header->caplen), onUrl);
}

}  // namespace

struct StreamSniffer::Control {
    Control() : wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Control() {
        if (wakeFd >= 0) close(wakeFd);
    }
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    void RequestStop() {
        running.store(false);
        uint64_t one = 1;
        [[maybe_unused]] auto written = write(wakeFd, &one, sizeof one);
    }

    // Sleeps until the device has packets, a stop is requested or the read time-out passes.
    void WaitForTraffic(int captureFd) const {
        pollfd watched[2] = {{wakeFd, POLLIN, 0}, {captureFd, POLLIN, 0}};
        if (captureFd >= 0)
            poll(watched, 2, kReadTimeoutMs);
        else
            poll(watched, 1, kIdlePollMs);
    }

    int wakeFd;
    std::atomic<bool> running{true};
    std::atomic<bool> ended{false};
};

StreamSniffer::StreamSniffer(UrlCallback onUrl) : onUrl_(std::move(onUrl)) {}

StreamSniffer::~StreamSniffer() {
    StopCapture();
}

std::vector<AdapterEntry> StreamSniffer::EnumerateAdapters() {
    std::vector<AdapterEntry> adapters;
    char error[PCAP_ERRBUF_SIZE] = "";
    pcap_if_t* found = nullptr;
    if (pcap_findalldevs(&found, error) == -1) {
        std::fprintf(stderr, "Error in pcap_findalldevs: %s\n", error);
        return adapters;
    }
    std::unique_ptr<pcap_if_t, DeviceListFreer> devices(found);
    for (pcap_if_t* device = devices.get(); device; device = device->next) {
        AdapterEntry entry;
        entry.id = static_cast<int>(adapters.size());
        entry.name = device->name ? device->name : "";
        entry.description = device->description ? device->description : "";
        std::printf("%d. %s", entry.id + 1, entry.name.c_str());
        if (device->description)
            std::printf(" (%s)\n", device->description);
        else
            std::printf(" (No description available)\n");
        adapters.push_back(std::move(entry));
    }
    std::fflush(stdout);
    return adapters;
}

bool StreamSniffer::StartCapture(const std::string& deviceName) {
    StopCapture();
    CaptureHandle capture = OpenLive(deviceName);
    if (!capture) return false;
    auto dump = std::make_unique<DumpFile>(capture.get(), DumpFilePath());

    auto control = std::make_unique<Control>();
    if (control->wakeFd < 0) {
        std::fprintf(stderr, "Cannot capture on %s: no stop event (%s)\n", deviceName.c_str(),
                     std::strerror(errno));
        return false;
    }
    Control* shared = control.get();
    // The thread owns both handles; they close when it ends, on a stop or a read error.
    thread_ = std::thread(
        [shared, &onUrl = onUrl_, capture = std::move(capture), dump = std::move(dump)] {
            UrlExtractor extractor;
            const int captureFd = pcap_get_selectable_fd(capture.get());
            int result = 0;
            while (shared->running.load()) {
                pcap_pkthdr* header = nullptr;
                const u_char* data = nullptr;
                result = pcap_next_ex(capture.get(), &header, &data);
                if (result == 1) {
                    dump->Write(header, data);
                    AnalysePacket(extractor, header, data, onUrl);
                    continue;
                }
                if (result < 0) break;
                // Quiet moment: put what was dumped on disk, so a crash later loses none of it.
                dump->Flush();
                shared->WaitForTraffic(captureFd);
            }
            if (result == PCAP_ERROR) {
                std::printf("Error reading the packets: %s\n", pcap_geterr(capture.get()));
                std::fflush(stdout);
            }
            shared->ended.store(true);
        });
    control_ = std::move(control);
    return true;
}

void StreamSniffer::StopCapture() {
    if (!thread_.joinable()) return;
    control_->RequestStop();
    thread_.join();
    control_.reset();
}

bool StreamSniffer::Capturing() const {
    return control_ && !control_->ended.load();
}

std::filesystem::path StreamSniffer::DumpFilePath() {
    return DataFolder() / "Dump.txt";
}

long long StreamSniffer::ScanCaptureFile(const std::filesystem::path& path,
                                         const UrlCallback& onUrl, std::string* error) {
    // Read through a larger buffer: with stdio's 4 KiB a read call serves only two or three
    // packets. Beyond 64 KiB the copies out of the page cache grew slower again.
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) {
        if (error) *error = path.string() + ": " + std::strerror(errno);
        return -1;
    }
    // Declared before the handle, so it outlives the stream that closes with the handle.
    auto buffer = std::make_unique<char[]>(kCaptureFileBuffer);
    std::setvbuf(file, buffer.get(), _IOFBF, kCaptureFileBuffer);
    char openError[PCAP_ERRBUF_SIZE] = "";
    CaptureHandle capture(pcap_fopen_offline(file, openError));
    if (!capture) {
        std::fclose(file);
        if (error) *error = openError;
        return -1;
    }
    UrlExtractor extractor;
    long long packets = 0;
    while (true) {
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        int result = pcap_next_ex(capture.get(), &header, &data);
        if (result == 1) {
            ++packets;
            AnalysePacket(extractor, header, data, onUrl);
        } else if (result == PCAP_ERROR_BREAK) {
            return packets;
        } else if (result < 0) {
            if (error) *error = pcap_geterr(capture.get());
            return -1;
        }
    }
}

}  // namespace quil
