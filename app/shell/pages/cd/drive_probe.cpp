#include "app/shell/pages/cd/drive_probe.h"

#include <filesystem>

namespace quil::shell {

namespace {

// Vendor and product from the drive's INQUIRY data; for a disc image, which has neither, its
// file name, so two images can be told apart.
std::string Description(char letter) {
    for (const sectorlink::DriveSlot& slot : sectorlink::DriveSlots())
        if (slot.letter == letter && slot.image)
            return std::filesystem::path(slot.source).filename().string();
    char vendor[9] = {};
    char product[17] = {};
    GetDriveVendorProduct(letter, vendor, sizeof vendor, product, sizeof product);
    return std::string(vendor) + product;
}

}  // namespace

std::vector<DriveEntry> ScanDrives() {
    std::vector<DriveEntry> drives;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', 0};
        if (GetDriveTypeA(root) != DRIVE_CDROM) continue;
        DriveHandle drive = OpenCdrom(letter);
        if (!drive) continue;
        CloseCdrom(drive);
        drives.push_back({letter - 'A', std::string{letter, ':'} + "    " + Description(letter)});
    }
    return drives;
}

DiscCheck CheckDisc(int letterNumber) {
    const int letter = 'A' + letterNumber;
    DriveHandle drive = OpenCdrom(letter);
    if (!drive) return {};
    DiscCheck check{true, sectorlink::ClassifyDrive(drive, letter)};
    CloseCdrom(drive);
    return check;
}

}  // namespace quil::shell
