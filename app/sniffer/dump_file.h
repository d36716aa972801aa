#pragma once

// The capture's dump file. It holds every packet seen in promiscuous mode, so only its owner
// may read it, and it is rotated so it cannot fill the disk: past the limit the current file
// becomes the one older file ("Dump.txt.1") and a new one starts.

#include <pcap/pcap.h>

#include <cstdint>
#include <filesystem>

namespace quil {

class DumpFile {
public:
    static constexpr uint64_t kDefaultLimit = 100ull * 1024 * 1024;

    DumpFile(pcap_t* capture, std::filesystem::path path, uint64_t limit = kDefaultLimit);
    ~DumpFile();
    DumpFile(const DumpFile&) = delete;
    DumpFile& operator=(const DumpFile&) = delete;

    // False when the file could not be created; standard error said why.
    bool IsOpen() const { return dump_ != nullptr; }
    void Write(const pcap_pkthdr* header, const u_char* data);
    void Flush();

    static std::filesystem::path OlderPath(const std::filesystem::path& path);

private:
    bool Open();
    void Close();

    pcap_t* capture_;
    std::filesystem::path path_;
    uint64_t limit_;
    uint64_t written_ = 0;
    pcap_dumper_t* dump_ = nullptr;
};

}  // namespace quil
