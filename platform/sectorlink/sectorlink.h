#pragma once

// Sectorlink: plain calls that read audio CDs through libcdio, the drive access library of the CD
// track source filter and the CD page.
//
// Drive letters: from "D" onward, first the optical drives that libcdio finds, in its order, then
// the disc images (CUE/BIN, cdrdao TOC, NRG) named by the REG_SZ value "Virtual CD drives" of
// HKEY_LOCAL_MACHINE "SOFTWARE\Corvane\Quillet": image paths separated by "|" or line breaks
// (blank entries are skipped). Letters after "Z" are not reachable. A letter is passed in a 32-bit
// argument of which only the low byte counts; lower case letters name the same drive.
//
// Sector addresses are libcdio's logical sector numbers: sector 0 is the first track's INDEX 01,
// and a track's length runs up to the next track's start, so a CUE pregap (INDEX 00) counts
// towards the track before it. Track numbers count from 1 across the tracks of the disc.
//
// A CUE sheet must name exactly one BINARY data file. Trays and locks of disc images cannot move:
// those calls answer 0 ("not done") and change nothing.
//
// Every call may be made from any thread. Calls on one handle are serialised; a handle closed by
// one thread while another uses it makes the other's later calls fail instead of crashing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/types.h"

// GetSourceDiscType: the medium is a DVD.
constexpr uint32_t SOURCE_DISC_DVD = 0x20;
// GetCdromType: audio tracks present, data tracks present.
constexpr uint8_t CDROM_TYPE_AUDIO = 0x02;
constexpr uint8_t CDROM_TYPE_DATA = 0x01;

constexpr uint32_t RAW_SECTOR_BYTES = 2352;
// GetReadCapability of a disc image.
constexpr uint32_t IMAGE_READ_CAPABILITY = 26;

// GetDriveTypeA results.
constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;

extern "C" {

// An open drive; 0 is none. Values are never reused within a process.
typedef uintptr_t DriveHandle;

// 0 when the letter names no drive, the image is missing or damaged, or the device cannot be
// opened. A drive without a disc opens.
DriveHandle OpenCdrom(int driveLetter);
// 1 when the handle was open.
int CloseCdrom(DriveHandle drive);

// SOURCE_DISC_DVD for a DVD, 0 for a CD, no disc or a bad handle.
uint32_t GetSourceDiscType(DriveHandle drive);
// CDROM_TYPE_AUDIO | CDROM_TYPE_DATA as present on the disc of that letter; 0 = no readable disc.
uint8_t GetCdromType(int driveLetter);

// Number of tracks; 0 without a disc or for a bad handle.
int GetTrackCount(DriveHandle drive);
// values[0] = the disc's own track number, values[1] = length in sectors, values[2] = first
// sector. 1 on success; 0 for a track outside 1..GetTrackCount, with the values set to 0.
int GetTrackInfo(DriveHandle drive, int track, uint32_t* values);

// Reads sectorCount raw CD-DA sectors (2352 bytes each: 44,100 Hz, 16 bits, 2 channels,
// interleaved, little-endian) into buffer, which holds sectorCount * 2352 bytes. The two reserved
// arguments are ignored. timeoutMs bounds each command to a drive (0 = libcdio's default).
// Sectors that cannot be read, and those past the end of the disc, are left as zeros. 1 when
// every sector on the disc was read; 0 when a read failed, the first sector lies past the end of
// the disc, or the arguments are invalid.
int ReadRawDataSector(DriveHandle drive, uint32_t firstSector, uint32_t sectorCount, void* buffer,
                      int reserved1, int reserved2, uint32_t timeoutMs);

// open: 1 ejects, 0 closes the tray. Non-zero when done.
int OpenCloseDoor(DriveHandle drive, int open);
// lock: 1 prevents, 0 allows medium removal. Non-zero when done.
int LockDoor(DriveHandle drive, int lock);

// Writes the most sectors that one ReadRawDataSector should take: for a drive its kernel's
// transfer limit, for an image IMAGE_READ_CAPABILITY. 1 on success, 0 for a bad handle (the
// value is then left alone).
int GetReadCapability(DriveHandle drive, uint32_t* sectors);

// The SCSI INQUIRY texts of the drive of that letter (libcdio's hardware information): vendor
// padded with blanks to 8 characters as INQUIRY sends it, product (at most 16) without trailing
// blanks. Both are always terminated within their sizes, empty when the drive cannot be asked.
// 1 on success.
int GetDriveVendorProduct(int driveLetter, char* vendor, size_t vendorSize, char* product,
                          size_t productSize);

// Why the last failing call of this thread failed, in English; "" after a success.
const char* GetSectorlinkError(void);

// rootPath is a root such as "D:\" (or "D:", "d:/").
// DRIVE_CDROM for a letter that names an optical drive or a virtual drive (whether or not it
// opens), else DRIVE_NO_ROOT_DIR.
UINT GetDriveTypeA(const char* rootPath);

}  // extern "C"

namespace quil::sectorlink {

enum class DiscKind : int32_t {
    NoDisk = 0,
    AudioCd = 1,
    DataCd = 2,
    MixedCd = 3,
    AudioDvd = 4,
    DataDvd = 5,
    MixedDvd = 6,
};

// Audio wins over data, so MixedCd and MixedDvd are never produced.
DiscKind ClassifyDisc(uint32_t sourceDiscType, uint8_t cdromType);
// GetSourceDiscType on the handle, GetCdromType on the letter.
DiscKind ClassifyDrive(DriveHandle drive, int driveLetter);

struct DriveSlot {
    char letter = 0;
    std::string source;  // device path or image path
    bool image = false;
};
// The letters in use now, in letter order.
std::vector<DriveSlot> DriveSlots();

inline constexpr char kSettingsKeyPath[] = "SOFTWARE\\Corvane\\Quillet";
inline constexpr char kVirtualDrivesValue[] = "Virtual CD drives";

std::vector<std::string> ReadVirtualDrives();
// Stores the list as one "|"-separated value; false when the settings cannot be written.
bool WriteVirtualDrives(const std::vector<std::string>& imagePaths);

}  // namespace quil::sectorlink
