#include "app/sniffer/tests/capture_writer.h"

#include <pcap/pcap.h>

#include <memory>

namespace quil::test {

namespace {
void PutBigEndian(Frame& frame, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) frame.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
}  // namespace

Frame TcpFrame(std::string_view payload, uint16_t destinationPort) {
    Frame frame;
    frame.reserve(54 + payload.size());
    // Locally administered addresses 02:00:00:00:00:01 and 02:00:00:00:00:02.
    PutBigEndian(frame, 0x0200, 2);
    PutBigEndian(frame, 1, 4);
    PutBigEndian(frame, 0x0200, 2);
    PutBigEndian(frame, 2, 4);
    PutBigEndian(frame, 0x0800, 2);
    // IPv4, 20-byte header, 127.0.0.1 to 127.0.0.1; checksums are not checked by readers.
    PutBigEndian(frame, 0x4500, 2);
    PutBigEndian(frame, static_cast<uint32_t>(20 + 20 + payload.size()), 2);
    PutBigEndian(frame, 0x1234, 2);
    PutBigEndian(frame, 0x4000, 2);
    PutBigEndian(frame, 0x4006, 2);
    PutBigEndian(frame, 0, 2);
    PutBigEndian(frame, 0x7f000001, 4);
    PutBigEndian(frame, 0x7f000001, 4);
    PutBigEndian(frame, 80, 2);
    PutBigEndian(frame, destinationPort, 2);
    PutBigEndian(frame, 1, 4);
    PutBigEndian(frame, 1, 4);
    PutBigEndian(frame, 0x5018, 2);
    PutBigEndian(frame, 0xffff, 2);
    PutBigEndian(frame, 0, 4);
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

bool WriteCaptureFile(const std::filesystem::path& path, const std::vector<Frame>& frames) {
    std::unique_ptr<pcap_t, decltype(&pcap_close)> dead(pcap_open_dead(DLT_EN10MB, 65536),
                                                        &pcap_close);
    if (!dead) return false;
    std::unique_ptr<pcap_dumper_t, decltype(&pcap_dump_close)> dump(
        pcap_dump_open(dead.get(), path.c_str()), &pcap_dump_close);
    if (!dump) return false;
    long seconds = 1700000000;
    for (const Frame& frame : frames) {
        pcap_pkthdr header{};
        header.ts.tv_sec = seconds++;
        header.caplen = static_cast<bpf_u_int32>(frame.size());
        header.len = header.caplen;
        pcap_dump(reinterpret_cast<u_char*>(dump.get()), &header, frame.data());
    }
    return pcap_dump_flush(dump.get()) == 0;
}

}  // namespace quil::test
