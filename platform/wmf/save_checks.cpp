#include "platform/wmf/save_checks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace quil::wmf {
namespace {

// More chunks than any real WAV carries; TagLib takes quadratic time over them.
constexpr uint64_t kMaxWavChunks = 4096;
constexpr uint64_t kMaxAsfHeaderObjects = 4096;

constexpr unsigned char kAsfDataObject[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

bool ReadAt(int fd, void* data, size_t size, uint64_t at) {
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        ssize_t got = ::pread(fd, bytes, size, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<size_t>(got);
        at += static_cast<uint64_t>(got);
    }
    return true;
}

uint64_t Le(const unsigned char* p, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

HRESULT CheckWav(int fd, uint64_t fileSize) {
    unsigned char head[12];
    if (!ReadAt(fd, head, sizeof head, 0)) return kInconsistentFile;
    uint64_t riffEnd = 8 + Le(head + 4, 4);
    if (riffEnd < 12 || riffEnd > fileSize) return kInconsistentFile;
    bool format = false, data = false;
    uint64_t at = 12, chunks = 0;
    while (at + 8 <= riffEnd) {
        unsigned char chunk[8];
        if (!ReadAt(fd, chunk, sizeof chunk, at)) return kInconsistentFile;
        uint64_t size = Le(chunk + 4, 4);
        if (at + 8 + size > riffEnd) return kInconsistentFile;
        if (std::memcmp(chunk, "fmt ", 4) == 0) format = true;
        if (std::memcmp(chunk, "data", 4) == 0) data = true;
        if (++chunks > kMaxWavChunks) return kInconsistentFile;
        at += 8 + size + (size & 1);
    }
    // A missing pad byte after the last chunk is common and harmless.
    if (at != riffEnd && at != riffEnd + 1) return kInconsistentFile;
    return format && data ? S_OK : kInconsistentFile;
}

HRESULT CheckAsf(int fd, uint64_t fileSize) {
    unsigned char head[30];
    if (!ReadAt(fd, head, sizeof head, 0)) return kInconsistentFile;
    uint64_t headerEnd = Le(head + 16, 8);
    uint64_t objects = Le(head + 24, 4);
    if (headerEnd < 30 || headerEnd > fileSize || objects > kMaxAsfHeaderObjects)
        return kInconsistentFile;
    uint64_t at = 30;
    for (uint64_t i = 0; i < objects; ++i) {
        unsigned char object[24];
        if (at + 24 > headerEnd || !ReadAt(fd, object, sizeof object, at)) return kInconsistentFile;
        uint64_t size = Le(object + 16, 8);
        if (size < 24 || size > headerEnd - at) return kInconsistentFile;
        at += size;
    }
    // The header's objects fill it exactly, and the audio follows in the data object.
    if (at != headerEnd) return kInconsistentFile;
    unsigned char next[16];
    if (headerEnd + 16 > fileSize || !ReadAt(fd, next, sizeof next, headerEnd) ||
        std::memcmp(next, kAsfDataObject, 16) != 0)
        return kInconsistentFile;
    return S_OK;
}

HRESULT CheckMpeg(int fd, uint64_t fileSize) {
    unsigned char head[10];
    if (fileSize < 10 || !ReadAt(fd, head, sizeof head, 0) || std::memcmp(head, "ID3", 3) != 0)
        return S_OK;
    uint64_t size = 0;
    for (int i = 6; i < 10; ++i) {
        if (head[i] & 0x80) return kInconsistentFile;
        size = size << 7 | head[i];
    }
    return 10 + size <= fileSize ? S_OK : kInconsistentFile;
}

}  // namespace

HRESULT CheckContainerSizes(MediaKind kind, int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return E_FAIL;
    auto size = static_cast<uint64_t>(info.st_size);
    switch (kind) {
        case MediaKind::Wav:
            return CheckWav(fd, size);
        case MediaKind::Asf:
            return CheckAsf(fd, size);
        case MediaKind::Mpeg:
            return CheckMpeg(fd, size);
    }
    return kInconsistentFile;
}

std::optional<AudioFingerprint> FingerprintAudio(const std::string& path) {
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return std::nullopt;
    std::optional<AudioFingerprint> result;
    int stream = -1;
    if (avformat_find_stream_info(format, nullptr) >= 0)
        stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    AVPacket* packet = stream >= 0 ? av_packet_alloc() : nullptr;
    if (packet) {
        AudioFingerprint print;
        // FNV-1a over every byte of the stream's packets.
        print.checksum = 1469598103934665603ull;
        while (av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream) {
                ++print.packets;
                print.bytes += static_cast<uint64_t>(packet->size);
                for (int i = 0; i < packet->size; ++i)
                    print.checksum = (print.checksum ^ packet->data[i]) * 1099511628211ull;
            }
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        result = print;
    }
    avformat_close_input(&format);
    return result;
}

}  // namespace quil::wmf
