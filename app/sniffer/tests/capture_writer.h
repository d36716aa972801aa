#pragma once

// Capture files for tests and benchmarks: frames with Ethernet, IPv4 and TCP headers around a
// payload, written in libpcap's file format.

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace quil::test {

using Frame = std::vector<uint8_t>;

// An Ethernet frame carrying `payload` in a TCP segment from port 80.
Frame TcpFrame(std::string_view payload, uint16_t destinationPort = 40000);

// Writes the frames as an Ethernet capture; false when the file cannot be written.
bool WriteCaptureFile(const std::filesystem::path& path, const std::vector<Frame>& frames);

}  // namespace quil::test
