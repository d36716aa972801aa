#include "platform/filters/asf_repair.h"

#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/com/guid.h"

namespace quil::filters {

namespace {

constexpr GUID kHeaderObject = quil::Guid("{75B22630-668E-11CF-A6D9-00AA0062CE6C}");
constexpr GUID kFileProperties = quil::Guid("{8CABDCA1-A947-11CF-8EE4-00C00C205365}");
constexpr GUID kDataObject = quil::Guid("{75B22636-668E-11CF-A6D9-00AA0062CE6C}");
constexpr size_t kObjectHeader = 24;  // GUID and 64-bit size
constexpr size_t kDataObjectHeader = 50;

template <class T>
T ReadLe(const std::vector<uint8_t>& bytes, size_t at) {
    T value{};
    if (at + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + at, sizeof(T));
    return value;
}

template <class T>
void WriteLe(std::vector<uint8_t>& bytes, size_t at, T value) {
    if (at + sizeof(T) <= bytes.size()) std::memcpy(bytes.data() + at, &value, sizeof(T));
}

GUID ReadGuid(const std::vector<uint8_t>& bytes, size_t at) {
    GUID guid{};
    if (at + sizeof(GUID) <= bytes.size()) std::memcpy(&guid, bytes.data() + at, sizeof(GUID));
    return guid;
}

// Size in bytes of a field whose two-bit length type is given.
size_t FieldSize(unsigned type) {
    return type == 3 ? 4 : type;
}

// The end of the last packet's payloads in milliseconds: its send time plus its duration,
// from the payload parsing information at the packet's start.
bool PacketEnd(const std::vector<uint8_t>& packet, uint32_t* endMs) {
    size_t at = 0;
    if (packet.empty()) return false;
    if (packet[0] & 0x80) at += 1 + (packet[0] & 0x0F);  // error correction data
    if (at + 2 > packet.size()) return false;
    unsigned lengthTypes = packet[at];
    at += 2;  // length type flags, property flags
    at += FieldSize((lengthTypes >> 5) & 3) + FieldSize((lengthTypes >> 1) & 3) +
          FieldSize((lengthTypes >> 3) & 3);
    if (at + 6 > packet.size()) return false;
    *endMs = ReadLe<uint32_t>(packet, at) + ReadLe<uint16_t>(packet, at + 4);
    return true;
}

bool ReadAt(int fd, std::vector<uint8_t>& bytes, int64_t offset) {
    return ::pread(fd, bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size());
}

}  // namespace

bool RepairTruncatedAsf(int fd, int64_t dataStart, int64_t packetSize) {
    if (fd < 0 || dataStart < static_cast<int64_t>(kDataObjectHeader) || packetSize <= 0)
        return false;
    off_t size = ::lseek(fd, 0, SEEK_END);
    if (size < dataStart) return false;
    int64_t packets = (size - dataStart) / packetSize;
    int64_t keep = dataStart + packets * packetSize;
    if (keep != size && ::ftruncate(fd, keep) != 0) return false;

    std::vector<uint8_t> header(static_cast<size_t>(dataStart));
    if (!ReadAt(fd, header, 0) || ReadGuid(header, 0) != kHeaderObject) return false;
    size_t headerSize = ReadLe<uint64_t>(header, 16);
    size_t dataObject = headerSize;
    if (dataObject + kDataObjectHeader != header.size() ||
        ReadGuid(header, dataObject) != kDataObject)
        return false;

    uint32_t endMs = 0;
    if (packets > 0) {
        std::vector<uint8_t> last(static_cast<size_t>(packetSize));
        if (!ReadAt(fd, last, keep - packetSize) || !PacketEnd(last, &endMs)) return false;
    }

    bool patched = false;
    for (size_t at = 30; at + kObjectHeader <= headerSize;) {
        uint64_t objectSize = ReadLe<uint64_t>(header, at + 16);
        if (objectSize < kObjectHeader || at + objectSize > headerSize) return false;
        if (ReadGuid(header, at) == kFileProperties && objectSize >= 104) {
            uint64_t prerollMs = ReadLe<uint64_t>(header, at + 80);
            uint64_t duration = uint64_t{endMs} * 10000;  // 100-ns units
            WriteLe<uint64_t>(header, at + 40, static_cast<uint64_t>(keep));
            WriteLe<uint64_t>(header, at + 56, static_cast<uint64_t>(packets));
            WriteLe<uint64_t>(header, at + 64, duration + prerollMs * 10000);
            WriteLe<uint64_t>(header, at + 72, duration);
            patched = true;
        }
        at += objectSize;
    }
    if (!patched) return false;
    WriteLe<uint64_t>(header, dataObject + 16, kDataObjectHeader + packets * packetSize);
    WriteLe<uint64_t>(header, dataObject + 40, static_cast<uint64_t>(packets));
    return ::pwrite(fd, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size());
}

}  // namespace quil::filters
