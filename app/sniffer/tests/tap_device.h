#pragma once

// A tap interface owned by this process: frames written to it arrive on the interface as if
// received, and the interface goes away when the device is closed (or the process ends).

#include <string>

#include "app/sniffer/tests/capture_writer.h"

namespace quil::test {

class TapDevice {
public:
    // Creates and brings up the interface; Name() is empty when that is not allowed here.
    TapDevice();
    ~TapDevice();
    TapDevice(const TapDevice&) = delete;
    TapDevice& operator=(const TapDevice&) = delete;

    const std::string& Name() const { return name_; }
    const std::string& Problem() const { return problem_; }
    bool Write(const Frame& frame);
    void Close();

private:
    int fd_ = -1;
    std::string name_;
    std::string problem_;
};

}  // namespace quil::test
