#pragma once

// Making an ASF file that stopped half-way (the disk filled up) readable: cut it back to its
// last whole data packet and make the header's sizes, packet counts and durations match.

#include <cstdint>

namespace quil::filters {

// fd is open for reading and writing; data packets start at dataStart and are packetSize bytes
// each. Returns false when the header cannot be read or patched; the file is then left as is.
bool RepairTruncatedAsf(int fd, int64_t dataStart, int64_t packetSize);

}  // namespace quil::filters
