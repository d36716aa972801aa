#pragma once

// What the CD page asks the drives directly: which letters hold a usable optical drive (or a
// disc image) and what kind of disc is in one. Both may take seconds on a real drive (spin-up,
// a scratched disc), so the page calls them from a worker thread.

#include <string>
#include <vector>

#include "platform/sectorlink/sectorlink.h"

namespace quil::shell {

struct DriveEntry {
    int letterNumber = 0;  // A = 0
    std::string text;      // "D:    VENDOR  PRODUCT", or the image's file name
};

// The drives that open, in letter order.
std::vector<DriveEntry> ScanDrives();

struct DiscCheck {
    bool opened = false;
    sectorlink::DiscKind kind = sectorlink::DiscKind::NoDisk;
};
DiscCheck CheckDisc(int letterNumber);

}  // namespace quil::shell
