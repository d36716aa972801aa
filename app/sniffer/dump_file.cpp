#include "app/sniffer/dump_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace quil {

namespace {

// Sizes of the file header and of each record's header in the pcap format.
constexpr uint64_t kFileHeaderBytes = 24;
constexpr uint64_t kRecordHeaderBytes = 16;

}  // namespace

DumpFile::DumpFile(pcap_t* capture, std::filesystem::path path, uint64_t limit)
    : capture_(capture), path_(std::move(path)), limit_(limit) {
    std::error_code ignored;
    std::filesystem::create_directories(path_.parent_path(), ignored);
    Open();
}

DumpFile::~DumpFile() {
    Close();
}

std::filesystem::path DumpFile::OlderPath(const std::filesystem::path& path) {
    return path.string() + ".1";
}

bool DumpFile::Open() {
    // Created for the owner only; an older file left readable by others is narrowed too.
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 || ::fchmod(fd, 0600) != 0) {
        std::fprintf(stderr, "Cannot write the dump file %s: %s; capturing without it.\n",
                     path_.c_str(), std::strerror(errno));
        if (fd >= 0) ::close(fd);
        return false;
    }
    FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        return false;
    }
    dump_ = pcap_dump_fopen(capture_, file);
    if (!dump_) {
        std::fprintf(stderr, "Cannot write the dump file %s: %s; capturing without it.\n",
                     path_.c_str(), pcap_geterr(capture_));
        std::fclose(file);
        return false;
    }
    written_ = kFileHeaderBytes;
    return true;
}

void DumpFile::Close() {
    if (dump_) pcap_dump_close(dump_);
    dump_ = nullptr;
}

void DumpFile::Write(const pcap_pkthdr* header, const u_char* data) {
    if (!dump_) return;
    uint64_t record = kRecordHeaderBytes + header->caplen;
    if (written_ + record > limit_ && written_ > kFileHeaderBytes) {
        Close();
        std::error_code failure;
        std::filesystem::rename(path_, OlderPath(path_), failure);
        if (failure || !Open()) return;
    }
    pcap_dump(reinterpret_cast<u_char*>(dump_), header, data);
    written_ += record;
}

void DumpFile::Flush() {
    if (dump_) pcap_dump_flush(dump_);
}

}  // namespace quil
