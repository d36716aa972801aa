#include "platform/sectorlink/sectorlink.h"

#include <cdio/cdio.h>

#include <cdio/mmc.h>
#include <cdio/mmc_hl_cmds.h>
#include <cdio/mmc_ll_cmds.h>
#include <cdio/mmc_util.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/com/strings.h"
#include "platform/sectorlink/disc_source.h"

namespace quil::sectorlink {
namespace {

thread_local std::string lastError;

int Fail(std::string message) {
    lastError = std::move(message);
    return 0;
}

void Succeed() {
    lastError.clear();
}

// Lead-out of the audio session, lead-in and pregap of the data session of an Enhanced CD: the
// table of contents puts them inside the last audio track, but they cannot be read.
constexpr uint32_t kSessionGapSectors = 11400;

struct OpenDrive {
    std::mutex mutex;
    std::unique_ptr<DiscSource> disc;
    uint32_t readCapability = IMAGE_READ_CAPABILITY;
};

class HandleTable {
public:
    DriveHandle Add(std::shared_ptr<OpenDrive> drive) {
        std::lock_guard lock(mutex_);
        DriveHandle handle = next_++;
        drives_.emplace(handle, std::move(drive));
        return handle;
    }
    // The drive stays alive for a caller that found it, even when another thread closes it.
    std::shared_ptr<OpenDrive> Find(DriveHandle handle) {
        std::lock_guard lock(mutex_);
        auto it = drives_.find(handle);
        return it == drives_.end() ? nullptr : it->second;
    }
    bool Remove(DriveHandle handle) {
        std::shared_ptr<OpenDrive> closing;
        std::lock_guard lock(mutex_);
        auto it = drives_.find(handle);
        if (it == drives_.end()) return false;
        closing = std::move(it->second);
        drives_.erase(it);
        return true;
    }

private:
    std::mutex mutex_;
    std::map<DriveHandle, std::shared_ptr<OpenDrive>> drives_;
    DriveHandle next_ = 1;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

char NormalizeLetter(int driveLetter) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(driveLetter & 0xFF)));
}

std::optional<DriveSlot> SlotFor(int driveLetter) {
    char letter = NormalizeLetter(driveLetter);
    for (auto& slot : DriveSlots())
        if (slot.letter == letter) return std::move(slot);
    return std::nullopt;
}

std::unique_ptr<DiscSource> OpenLetter(int driveLetter) {
    std::optional<DriveSlot> slot = SlotFor(driveLetter);
    if (!slot) {
        char letter = NormalizeLetter(driveLetter);
        Fail(std::string("no CD drive has the letter ") +
             (std::isprint(static_cast<unsigned char>(letter)) ? std::string(1, letter) : "?"));
        return nullptr;
    }
    std::string error;
    auto disc = slot->image ? DiscSource::OpenImage(slot->source, &error)
                            : DiscSource::OpenDevice(slot->source, &error);
    if (!disc) Fail(error);
    return disc;
}

// The kernel's limit for one command to the drive, in whole raw sectors.
uint32_t DeviceReadCapability(const std::string& device) {
    std::error_code ec;
    std::filesystem::path real = std::filesystem::canonical(device, ec);
    if (ec) return IMAGE_READ_CAPABILITY;
    std::ifstream in("/sys/block/" + real.filename().string() + "/queue/max_sectors_kb");
    uint64_t kilobytes = 0;
    if (!(in >> kilobytes) || kilobytes == 0) return IMAGE_READ_CAPABILITY;
    return static_cast<uint32_t>(std::max<uint64_t>(1, kilobytes * 1024 / RAW_SECTOR_BYTES));
}

// READ CD with the caller's time-out; libcdio's own audio read has only a global one.
driver_return_code_t ReadDeviceAudio(CdIo_t* cdio, uint8_t* buffer, lsn_t first, uint32_t count,
                                     uint32_t timeoutMs) {
    mmc_cdb_t cdb{};
    CDIO_MMC_SET_COMMAND(cdb.field, CDIO_MMC_GPCMD_READ_CD);
    CDIO_MMC_SET_READ_TYPE(cdb.field, CDIO_MMC_READ_TYPE_CDDA);
    CDIO_MMC_SET_READ_LBA(cdb.field, first);
    CDIO_MMC_SET_READ_LENGTH24(cdb.field, count);
    cdb.field[9] = 0x10;  // user data only: the 2352 audio bytes
    driver_return_code_t result =
        mmc_run_cmd(cdio, timeoutMs ? timeoutMs : mmc_read_timeout_ms, &cdb, SCSI_MMC_DATA_READ,
                    count * RAW_SECTOR_BYTES, buffer);
    if (result == DRIVER_OP_UNSUPPORTED)
        result = cdio_read_audio_sectors(cdio, buffer, first, count);
    return result;
}

uint32_t TrackLength(const DiscSource& disc, track_t track, track_t lastTrack) {
    uint32_t length = cdio_get_track_sec_count(disc.cdio(), track);
    if (!disc.image() && track < lastTrack &&
        cdio_get_track_format(disc.cdio(), track) == TRACK_FORMAT_AUDIO &&
        cdio_get_track_format(disc.cdio(), static_cast<track_t>(track + 1)) != TRACK_FORMAT_AUDIO &&
        length > kSessionGapSectors)
        length -= kSessionGapSectors;
    return length;
}

void CopyPadded(std::string_view text, size_t width, bool pad, char* out, size_t size) {
    std::string cleaned;
    for (char c : text.substr(0, std::min(text.size(), width)))
        cleaned.push_back(std::isprint(static_cast<unsigned char>(c)) ? c : ' ');
    if (pad) {
        cleaned.resize(width, ' ');
    } else {
        while (!cleaned.empty() && cleaned.back() == ' ') cleaned.pop_back();
    }
    CopyBounded(cleaned, out, size);
}

}  // namespace

DiscKind ClassifyDisc(uint32_t sourceDiscType, uint8_t cdromType) {
    bool dvd = (sourceDiscType & SOURCE_DISC_DVD) != 0;
    if (cdromType & CDROM_TYPE_AUDIO) return dvd ? DiscKind::AudioDvd : DiscKind::AudioCd;
    if (cdromType & CDROM_TYPE_DATA) return dvd ? DiscKind::DataDvd : DiscKind::DataCd;
    return DiscKind::NoDisk;
}

DiscKind ClassifyDrive(DriveHandle drive, int driveLetter) {
    return ClassifyDisc(GetSourceDiscType(drive), GetCdromType(driveLetter));
}

}  // namespace quil::sectorlink

using quil::sectorlink::DiscSource;
using quil::sectorlink::Fail;
using quil::sectorlink::Handles;
using quil::sectorlink::OpenDrive;
using quil::sectorlink::Succeed;

DriveHandle OpenCdrom(int driveLetter) {
    auto disc = quil::sectorlink::OpenLetter(driveLetter);
    if (!disc) return 0;
    auto drive = std::make_shared<OpenDrive>();
    if (!disc->image())
        drive->readCapability = quil::sectorlink::DeviceReadCapability(disc->source());
    drive->disc = std::move(disc);
    Succeed();
    return Handles().Add(std::move(drive));
}

int CloseCdrom(DriveHandle drive) {
    if (!Handles().Remove(drive)) return Fail("not an open drive");
    Succeed();
    return 1;
}

uint32_t GetSourceDiscType(DriveHandle handle) {
    auto drive = Handles().Find(handle);
    if (!drive) return Fail("not an open drive");
    std::lock_guard lock(drive->mutex);
    discmode_t mode = cdio_get_discmode(drive->disc->cdio());
    Succeed();
    return cdio_is_discmode_dvd(mode) ? SOURCE_DISC_DVD : 0;
}

uint8_t GetCdromType(int driveLetter) {
    auto disc = quil::sectorlink::OpenLetter(driveLetter);
    if (!disc) return 0;
    uint8_t type = 0;
    int count = disc->TrackCount();
    int first = disc->FirstTrackNumber();
    for (int i = 0; i < count; ++i) {
        track_format_t format =
            cdio_get_track_format(disc->cdio(), static_cast<track_t>(first + i));
        if (format == TRACK_FORMAT_AUDIO)
            type |= CDROM_TYPE_AUDIO;
        else if (format != TRACK_FORMAT_ERROR)
            type |= CDROM_TYPE_DATA;
    }
    Succeed();
    return type;
}

int GetTrackCount(DriveHandle handle) {
    auto drive = Handles().Find(handle);
    if (!drive) return Fail("not an open drive");
    std::lock_guard lock(drive->mutex);
    Succeed();
    return drive->disc->TrackCount();
}

int GetTrackInfo(DriveHandle handle, int track, uint32_t* values) {
    if (!values) return Fail("no place for the track information");
    std::fill(values, values + 3, 0u);
    auto drive = Handles().Find(handle);
    if (!drive) return Fail("not an open drive");
    std::lock_guard lock(drive->mutex);
    const DiscSource& disc = *drive->disc;
    int count = disc.TrackCount();
    if (track < 1 || track > count) return Fail("no such track");
    auto discTrack = static_cast<track_t>(disc.FirstTrackNumber() + track - 1);
    auto lastTrack = static_cast<track_t>(disc.FirstTrackNumber() + count - 1);
    lsn_t start = cdio_get_track_lsn(disc.cdio(), discTrack);
    if (start == CDIO_INVALID_LSN || start < 0) return Fail("the track has no start address");
    values[0] = discTrack;
    values[1] = quil::sectorlink::TrackLength(disc, discTrack, lastTrack);
    values[2] = static_cast<uint32_t>(start);
    Succeed();
    return 1;
}

int ReadRawDataSector(DriveHandle handle, uint32_t firstSector, uint32_t sectorCount, void* buffer,
                      int /*reserved1*/, int /*reserved2*/, uint32_t timeoutMs) {
    if (!buffer || sectorCount == 0) return Fail("nothing to read into");
    auto drive = Handles().Find(handle);
    if (!drive) return Fail("not an open drive");
    auto* bytes = static_cast<uint8_t*>(buffer);
    std::lock_guard lock(drive->mutex);
    const DiscSource& disc = *drive->disc;
    uint32_t leadOut = disc.LeadOut();
    uint32_t onDisc = firstSector < leadOut ? std::min(sectorCount, leadOut - firstSector) : 0;
    std::memset(bytes + size_t{onDisc} * RAW_SECTOR_BYTES, 0,
                size_t{sectorCount - onDisc} * RAW_SECTOR_BYTES);

    if (onDisc == 0) return Fail("the sector lies past the end of the disc");
    bool complete = true;
    for (uint32_t done = 0; done < onDisc;) {
        uint32_t chunk = std::min(onDisc - done, drive->readCapability);
        uint8_t* target = bytes + size_t{done} * RAW_SECTOR_BYTES;
        auto sector = static_cast<lsn_t>(firstSector + done);
        driver_return_code_t result =
            disc.image()
                ? cdio_read_audio_sectors(disc.cdio(), target, sector, chunk)
                : quil::sectorlink::ReadDeviceAudio(disc.cdio(), target, sector, chunk, timeoutMs);
        if (result != DRIVER_OP_SUCCESS) {
            std::memset(target, 0, size_t{chunk} * RAW_SECTOR_BYTES);
            complete = false;
        }
        done += chunk;
    }
    if (!complete) return Fail("the drive could not read every sector");
    Succeed();
    return 1;
}

int OpenCloseDoor(DriveHandle handle, int open) {
    auto drive = Handles().Find(handle);
    if (!drive) return Fail("not an open drive");
    std::lock_guard lock(drive->mutex);
    // Ejecting through an image driver fails and leaves libcdio to free the handle twice.
    if (drive->disc->image()) return Fail("a disc image has no tray");
    CdIo_t* cdio = drive->disc->cdio();
    driver_return_code_t result = open ? mmc_eject_media(cdio) : mmc_close_tray(cdio);
    if (result != DRIVER_OP_SUCCESS) return Fail(cdio_driver_errmsg(result));
    Succeed();
    return 1;
}

int LockDoor(DriveHandle handle, int lock) {
    auto drive = Handles().Find(handle);
    if (!drive) return Fail("not an open drive");
    std::lock_guard guard(drive->mutex);
    if (drive->disc->image()) return Fail("a disc image has no tray to lock");
    driver_return_code_t result =
        mmc_prevent_allow_medium_removal(drive->disc->cdio(), false, lock != 0, 0);
    if (result != DRIVER_OP_SUCCESS) return Fail(cdio_driver_errmsg(result));
    Succeed();
    return 1;
}

int GetReadCapability(DriveHandle handle, uint32_t* sectors) {
    if (!sectors) return Fail("no place for the read capability");
    auto drive = Handles().Find(handle);
    if (!drive) return Fail("not an open drive");
    *sectors = drive->readCapability;
    Succeed();
    return 1;
}

int GetDriveVendorProduct(int driveLetter, char* vendor, size_t vendorSize, char* product,
                          size_t productSize) {
    if (vendor && vendorSize) vendor[0] = '\0';
    if (product && productSize) product[0] = '\0';
    auto disc = quil::sectorlink::OpenLetter(driveLetter);
    if (!disc) return 0;
    cdio_hwinfo_t info{};
    if (!cdio_get_hwinfo(disc->cdio(), &info)) return Fail("the drive does not answer INQUIRY");
    if (vendor)
        quil::sectorlink::CopyPadded(info.psz_vendor, CDIO_MMC_HW_VENDOR_LEN, true, vendor,
                                     vendorSize);
    if (product)
        quil::sectorlink::CopyPadded(info.psz_model, CDIO_MMC_HW_MODEL_LEN, false, product,
                                     productSize);
    Succeed();
    return 1;
}

const char* GetSectorlinkError(void) {
    return quil::sectorlink::lastError.c_str();
}
