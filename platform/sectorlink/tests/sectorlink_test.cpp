#include "platform/sectorlink/sectorlink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/registry/registry.h"
#include "testsupport/cd_image.h"
#include "testsupport/test_support.h"

namespace {

namespace fs = std::filesystem;
using quil::sectorlink::ClassifyDisc;
using quil::sectorlink::ClassifyDrive;
using quil::sectorlink::DiscKind;
using quil::test::CdImage;
using quil::test::CdImageTrack;
using quil::test::kCdSectorBytes;

// Tracks of 300, 300 and 250 sectors; the second has a 150-sector INDEX 00 pregap in the BIN.
std::vector<CdImageTrack> ThreeAudioTracks() {
    return {{true, 0, 300, 0}, {true, 150, 300, 0}, {true, 0, 250, 0}};
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The letter of a registered image, after any optical drives of this machine.
int LetterOf(const fs::path& image) {
    for (const auto& slot : quil::sectorlink::DriveSlots())
        if (slot.image && slot.source == image.string()) return slot.letter;
    return 0;
}

int Register(const fs::path& image) {
    EXPECT_TRUE(quil::sectorlink::WriteVirtualDrives({image.string()}));
    return LetterOf(image);
}

std::string RootOf(int letter) {
    return std::string(1, static_cast<char>(letter)) + ":\\";
}

class Drive {
public:
    explicit Drive(int letter) : handle_(OpenCdrom(letter)) {}
    ~Drive() {
        if (handle_) CloseCdrom(handle_);
    }
    DriveHandle get() const { return handle_; }

private:
    DriveHandle handle_;
};

struct TrackInfo {
    uint32_t number, length, start;
};

TrackInfo InfoOf(DriveHandle drive, int track) {
    uint32_t values[3] = {99, 99, 99};
    EXPECT_EQ(GetTrackInfo(drive, track, values), 1) << "track " << track;
    return {values[0], values[1], values[2]};
}

std::vector<uint8_t> Read(DriveHandle drive, uint32_t first, uint32_t count, int* result) {
    std::vector<uint8_t> buffer(size_t{count} * kCdSectorBytes, 0xAB);
    *result = ReadRawDataSector(drive, first, count, buffer.data(), 0, 0, 5000);
    return buffer;
}

std::vector<uint8_t> BinSlice(const CdImage& image, uint32_t first, uint32_t count) {
    auto begin = image.data.begin() + static_cast<ptrdiff_t>(first) * kCdSectorBytes;
    return {begin, begin + static_cast<ptrdiff_t>(count) * kCdSectorBytes};
}

class SectorlinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = quil::test::MakeTempDir(
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    fs::path dir_;
};

TEST_F(SectorlinkTest, AudioImageTableFollowsLibcdioCueConventions) {
    CdImage image = quil::test::WriteCdImage(dir_, "album", ThreeAudioTracks());
    int letter = Register(image.cue);
    ASSERT_NE(letter, 0);
    EXPECT_EQ(GetDriveTypeA(RootOf(letter).c_str()), DRIVE_CDROM);
    Drive drive(letter);
    ASSERT_NE(drive.get(), 0u) << GetSectorlinkError();

    ASSERT_EQ(GetTrackCount(drive.get()), 3);
    // A pregap belongs to the track before it; the first track starts at sector 0, which is
    // libcdio's logical address of the disc's 2-second mark.
    TrackInfo first = InfoOf(drive.get(), 1);
    EXPECT_EQ(first.number, 1u);
    EXPECT_EQ(first.start, 0u);
    EXPECT_EQ(first.length, 450u);
    TrackInfo second = InfoOf(drive.get(), 2);
    EXPECT_EQ(second.start, image.index01[1]);
    EXPECT_EQ(second.start, 450u);
    EXPECT_EQ(second.length, 300u);
    TrackInfo third = InfoOf(drive.get(), 3);
    EXPECT_EQ(third.start, 750u);
    EXPECT_EQ(third.length, 250u);
    EXPECT_EQ(third.start + third.length, image.data.size() / kCdSectorBytes);

    for (int bad : {0, -1, 4, 1000}) {
        uint32_t values[3] = {7, 7, 7};
        EXPECT_EQ(GetTrackInfo(drive.get(), bad, values), 0) << bad;
        EXPECT_EQ(values[1], 0u);
        EXPECT_EQ(values[2], 0u);
    }
    EXPECT_EQ(GetTrackInfo(drive.get(), 1, nullptr), 0);
}

TEST_F(SectorlinkTest, RawSectorsAreTheBinBytes) {
    CdImage image = quil::test::WriteCdImage(dir_, "album", ThreeAudioTracks());
    Drive drive(Register(image.cue));
    ASSERT_NE(drive.get(), 0u) << GetSectorlinkError();

    struct Range {
        uint32_t first, count;
    };
    // Single sectors, a read across a pregap and a track start, and reads larger than the read
    // capability, which are split.
    for (Range range : {Range{0, 1}, Range{299, 2}, Range{445, 10}, Range{0, 100}, Range{700, 300},
                        Range{999, 1}}) {
        int result = -1;
        auto bytes = Read(drive.get(), range.first, range.count, &result);
        EXPECT_EQ(result, 1) << range.first;
        EXPECT_EQ(bytes, BinSlice(image, range.first, range.count)) << range.first;
    }
    // Little-endian interleaved samples: the left sample of sector 450 counts the sector.
    int result = 0;
    auto bytes = Read(drive.get(), 450, 1, &result);
    EXPECT_EQ(bytes[0] | bytes[1] << 8, 450);
    EXPECT_EQ(bytes[2] | bytes[3] << 8, 2000);
    EXPECT_EQ(bytes[6] | bytes[7] << 8, 2001);
}

TEST_F(SectorlinkTest, ReadsPastTheEndFailCleanly) {
    CdImage image = quil::test::WriteCdImage(dir_, "album", ThreeAudioTracks());
    Drive drive(Register(image.cue));
    ASSERT_NE(drive.get(), 0u);

    // The last read of a track may reach into the lead-out: what is on the disc is delivered,
    // the rest is silence.
    int result = 0;
    auto bytes = Read(drive.get(), 995, 16, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 5 * kCdSectorBytes),
              BinSlice(image, 995, 5));
    EXPECT_TRUE(std::all_of(bytes.begin() + 5 * kCdSectorBytes, bytes.end(),
                            [](uint8_t b) { return b == 0; }));

    for (uint32_t first : {1000u, 1001u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        bytes = Read(drive.get(), first, 2, &result);
        EXPECT_EQ(result, 0) << first;
        EXPECT_NE(std::string(GetSectorlinkError()), "");
        EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; }));
    }
    std::vector<uint8_t> buffer(kCdSectorBytes);
    EXPECT_EQ(ReadRawDataSector(drive.get(), 0, 0, buffer.data(), 0, 0, 5000), 0);
    EXPECT_EQ(ReadRawDataSector(drive.get(), 0, 1, nullptr, 0, 0, 5000), 0);
    // The handle still reads after the refusals.
    bytes = Read(drive.get(), 10, 1, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(bytes, BinSlice(image, 10, 1));
}

TEST_F(SectorlinkTest, DiscKindOfAudioDataAndMixedImages) {
    CdImage audio = quil::test::WriteCdImage(dir_, "audio", ThreeAudioTracks());
    CdImage data = quil::test::WriteCdImage(dir_, "data", {{false, 0, 400, 0}});
    CdImage mixed =
        quil::test::WriteCdImage(dir_, "mixed", {{false, 0, 300, 0}, {true, 150, 300, 0}});
    ASSERT_TRUE(quil::sectorlink::WriteVirtualDrives(
        {audio.cue.string(), data.cue.string(), mixed.cue.string()}));

    struct Case {
        const CdImage* image;
        uint8_t cdromType;
        DiscKind kind;
    };
    for (Case c : {Case{&audio, CDROM_TYPE_AUDIO, DiscKind::AudioCd},
                   Case{&data, CDROM_TYPE_DATA, DiscKind::DataCd},
                   // Audio wins over data: a mixed CD is ripped as an audio CD.
                   Case{&mixed, CDROM_TYPE_AUDIO | CDROM_TYPE_DATA, DiscKind::AudioCd}}) {
        int letter = LetterOf(c.image->cue);
        ASSERT_NE(letter, 0);
        Drive drive(letter);
        ASSERT_NE(drive.get(), 0u) << GetSectorlinkError();
        EXPECT_EQ(GetSourceDiscType(drive.get()) & SOURCE_DISC_DVD, 0u);
        EXPECT_EQ(GetCdromType(letter), c.cdromType) << c.image->cue;
        EXPECT_EQ(ClassifyDrive(drive.get(), letter), c.kind) << c.image->cue;
    }

    Drive drive(LetterOf(mixed.cue));
    ASSERT_EQ(GetTrackCount(drive.get()), 2);
    TrackInfo dataTrack = InfoOf(drive.get(), 1);
    EXPECT_EQ(dataTrack.start, 0u);
    EXPECT_EQ(dataTrack.length, 450u);
    TrackInfo audioTrack = InfoOf(drive.get(), 2);
    EXPECT_EQ(audioTrack.start, 450u);
    EXPECT_EQ(audioTrack.length, 300u);
    int result = 0;
    EXPECT_EQ(Read(drive.get(), audioTrack.start, 300, &result), BinSlice(mixed, 450, 300));
    EXPECT_EQ(result, 1);
}

TEST(DiscKindRule, DvdBitAndContentBits) {
    EXPECT_EQ(ClassifyDisc(0, 0), DiscKind::NoDisk);
    EXPECT_EQ(ClassifyDisc(SOURCE_DISC_DVD, 0), DiscKind::NoDisk);
    EXPECT_EQ(ClassifyDisc(0, CDROM_TYPE_AUDIO), DiscKind::AudioCd);
    EXPECT_EQ(ClassifyDisc(0, CDROM_TYPE_DATA), DiscKind::DataCd);
    EXPECT_EQ(ClassifyDisc(0, CDROM_TYPE_AUDIO | CDROM_TYPE_DATA), DiscKind::AudioCd);
    EXPECT_EQ(ClassifyDisc(SOURCE_DISC_DVD, CDROM_TYPE_AUDIO), DiscKind::AudioDvd);
    EXPECT_EQ(ClassifyDisc(SOURCE_DISC_DVD, CDROM_TYPE_DATA), DiscKind::DataDvd);
    EXPECT_EQ(ClassifyDisc(SOURCE_DISC_DVD, CDROM_TYPE_AUDIO | CDROM_TYPE_DATA),
              DiscKind::AudioDvd);
    // Only bit 0x20 of the source type is read.
    EXPECT_EQ(ClassifyDisc(~SOURCE_DISC_DVD, CDROM_TYPE_DATA), DiscKind::DataCd);
    EXPECT_EQ(ClassifyDisc(0, 0xFC), DiscKind::NoDisk);
}

TEST_F(SectorlinkTest, TrayAndLockOfAnImageReportNotDone) {
    CdImage image = quil::test::WriteCdImage(dir_, "album", ThreeAudioTracks());
    int letter = Register(image.cue);
    {
        Drive drive(letter);
        ASSERT_NE(drive.get(), 0u);
        EXPECT_EQ(OpenCloseDoor(drive.get(), 1), 0);
        EXPECT_EQ(OpenCloseDoor(drive.get(), 0), 0);
        EXPECT_EQ(LockDoor(drive.get(), 1), 0);
        EXPECT_NE(std::string(GetSectorlinkError()), "");
        EXPECT_EQ(LockDoor(drive.get(), 0), 0);
        EXPECT_EQ(OpenCloseDoor(drive.get(), 1), 0);
        // The disc is still there and the handle closes once.
        EXPECT_EQ(GetTrackCount(drive.get()), 3);
        int result = 0;
        EXPECT_EQ(Read(drive.get(), 0, 4, &result), BinSlice(image, 0, 4));
    }
    Drive again(letter);
    EXPECT_NE(again.get(), 0u);
}

TEST_F(SectorlinkTest, ReadCapabilityOfAnImageIsFixed) {
    CdImage image = quil::test::WriteCdImage(dir_, "album", ThreeAudioTracks());
    Drive drive(Register(image.cue));
    uint32_t sectors = 0;
    EXPECT_EQ(GetReadCapability(drive.get(), &sectors), 1);
    EXPECT_EQ(sectors, IMAGE_READ_CAPABILITY);
    EXPECT_EQ(GetReadCapability(drive.get(), nullptr), 0);
    sectors = 5;
    EXPECT_EQ(GetReadCapability(0, &sectors), 0);
    EXPECT_EQ(sectors, 5u);
}

TEST_F(SectorlinkTest, MissingImageFailsToOpen) {
    fs::path missing = dir_ / "gone.cue";
    int letter = Register(missing);
    ASSERT_NE(letter, 0);
    // The letter is a CD drive without a disc that opens, so a drive scan leaves it out.
    EXPECT_EQ(GetDriveTypeA(RootOf(letter).c_str()), DRIVE_CDROM);
    EXPECT_EQ(OpenCdrom(letter), 0u);
    EXPECT_NE(std::string(GetSectorlinkError()).find("gone.cue"), std::string::npos);
    EXPECT_EQ(GetCdromType(letter), 0);
    EXPECT_EQ(ClassifyDrive(0, letter), DiscKind::NoDisk);
    char vendor[9] = "x", product[17] = "y";
    EXPECT_EQ(GetDriveVendorProduct(letter, vendor, sizeof vendor, product, sizeof product), 0);
    EXPECT_STREQ(vendor, "");
    EXPECT_STREQ(product, "");

    // A BIN listed without a CUE sheet beside it.
    CdImage image = quil::test::WriteCdImage(dir_, "lonely", ThreeAudioTracks());
    fs::remove(image.cue);
    EXPECT_EQ(OpenCdrom(Register(image.bin)), 0u);
    // The data file that the sheet names is missing.
    image = quil::test::WriteCdImage(dir_, "nodata", ThreeAudioTracks());
    fs::remove(image.bin);
    EXPECT_EQ(OpenCdrom(Register(image.cue)), 0u);
}

TEST_F(SectorlinkTest, CorruptCueSheetsFailToOpen) {
    CdImage image = quil::test::WriteCdImage(dir_, "good", ThreeAudioTracks());
    const std::string file = "FILE \"good.bin\" BINARY\n";
    struct Case {
        const char* name;
        std::string text;
    };
    std::string binary(4096, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 131 + 7);
    for (const Case& c : {
             Case{"empty", ""},
             Case{"garbage", "\x01\x02 random junk TRACK xx\n"},
             Case{"binary", binary},
             Case{"nofile", "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"},
             Case{"notrack", file},
             Case{"badmsf", file + "  TRACK 01 AUDIO\n    INDEX 01 00:zz:00\n"},
             Case{"pastend", file + "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                    "  TRACK 02 AUDIO\n    INDEX 01 09:00:00\n"},
             Case{"unquoted", "FILE \"good.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"},
             Case{"twofiles", file + "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n" + file +
                                  "  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n"},
             Case{"wave", "FILE \"good.bin\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"},
             Case{"motorola",
                  "FILE \"good.bin\" MOTOROLA\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"},
         }) {
        fs::path cue = dir_ / (std::string(c.name) + ".cue");
        WriteText(cue, c.text);
        int letter = Register(cue);
        ASSERT_NE(letter, 0);
        DriveHandle handle = OpenCdrom(letter);
        EXPECT_EQ(handle, 0u) << c.name;
        if (handle) CloseCdrom(handle);
        EXPECT_NE(std::string(GetSectorlinkError()), "") << c.name;
        EXPECT_EQ(GetCdromType(letter), 0) << c.name;
    }
}

TEST_F(SectorlinkTest, CueNamingAnotherBinReadsThatBin) {
    // A stray BIN with the sheet's own name must not be read in place of the one it names.
    CdImage image = quil::test::WriteCdImage(dir_, "real", ThreeAudioTracks());
    std::string sheet;
    {
        std::ifstream in(image.cue);
        sheet.assign(std::istreambuf_iterator<char>(in), {});
    }
    fs::create_directories(dir_ / "sheets");
    fs::path cue = dir_ / "sheets" / "Disc One.cue";
    WriteText(cue, "REM made by hand\r\n" + std::string("FILE \"../real.bin\" BINARY\r\n") +
                       sheet.substr(sheet.find('\n') + 1));
    WriteText(dir_ / "sheets" / "Disc One.bin", std::string(2352 * 10, 'x'));

    fs::path staging = quil::test::MakeTempDir("staging");
    std::string oldTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", staging.c_str(), 1);
    {
        Drive drive(Register(cue));
        ASSERT_NE(drive.get(), 0u) << GetSectorlinkError();
        EXPECT_EQ(GetTrackCount(drive.get()), 3);
        EXPECT_EQ(InfoOf(drive.get(), 2).start, 450u);
        int result = 0;
        EXPECT_EQ(Read(drive.get(), 440, 20, &result), BinSlice(image, 440, 20));
        EXPECT_FALSE(fs::is_empty(staging));
    }
    EXPECT_TRUE(fs::is_empty(staging));
    if (oldTmp.empty())
        unsetenv("TMPDIR");
    else
        setenv("TMPDIR", oldTmp.c_str(), 1);
}

TEST_F(SectorlinkTest, CdrdaoTocImage) {
    CdImage image = quil::test::WriteCdImage(dir_, "album", ThreeAudioTracks());
    fs::path toc = dir_ / "album.toc";
    WriteText(toc,
              "CD_DA\n"
              "TRACK AUDIO\nFILE \"album.bin\" 0 00:06:00\n"
              "TRACK AUDIO\nFILE \"album.bin\" 00:06:00 00:04:00\n");
    Drive drive(Register(toc));
    ASSERT_NE(drive.get(), 0u) << GetSectorlinkError();
    ASSERT_EQ(GetTrackCount(drive.get()), 2);
    EXPECT_EQ(InfoOf(drive.get(), 2).start, 450u);
    EXPECT_EQ(InfoOf(drive.get(), 2).length, 300u);
    int result = 0;
    EXPECT_EQ(Read(drive.get(), 440, 20, &result), BinSlice(image, 440, 20));
    EXPECT_EQ(result, 1);
}

TEST_F(SectorlinkTest, LettersFollowTheRegistryList) {
    CdImage one = quil::test::WriteCdImage(dir_, "one", {{true, 0, 100, 0}});
    CdImage two = quil::test::WriteCdImage(dir_, "two", {{true, 0, 200, 0}, {true, 0, 50, 0}});
    auto key = quil::registry::Key::Create(quil::registry::Root::LocalMachine,
                                           quil::sectorlink::kSettingsKeyPath);
    ASSERT_TRUE(key);
    // Both separators, blanks around entries and empty entries.
    ASSERT_TRUE(key->WriteString("Virtual CD drives",
                                 " " + one.cue.string() + " ||\n\r\n" + two.cue.string() + "\n"));
    EXPECT_EQ(quil::sectorlink::ReadVirtualDrives(),
              (std::vector<std::string>{one.cue.string(), two.cue.string()}));

    auto slots = quil::sectorlink::DriveSlots();
    ASSERT_GE(slots.size(), 2u);
    EXPECT_EQ(slots.front().letter, 'D');
    int first = LetterOf(one.cue);
    int second = LetterOf(two.cue);
    ASSERT_NE(first, 0);
    EXPECT_EQ(second, first + 1);

    Drive lower(std::tolower(second));
    EXPECT_EQ(GetTrackCount(lower.get()), 2);
    Drive highBits(0x7A00 | second);  // only the low byte names the drive
    EXPECT_EQ(GetTrackCount(highBits.get()), 2);

    int unused = slots.back().letter + 1;
    EXPECT_EQ(GetDriveTypeA(RootOf(unused).c_str()), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(OpenCdrom(unused), 0u);
    EXPECT_EQ(
        GetDriveTypeA(("" + std::string(1, static_cast<char>(std::tolower(first))) + ":/").c_str()),
        DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA((std::string(1, static_cast<char>(first)) + ":").c_str()), DRIVE_CDROM);
    for (const char* bad : {"", ":", "D", "DD:\\", "D:\\x", "1:\\"})
        EXPECT_EQ(GetDriveTypeA(bad), DRIVE_NO_ROOT_DIR) << bad;
    EXPECT_EQ(GetDriveTypeA(nullptr), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(OpenCdrom(0), 0u);
    EXPECT_EQ(OpenCdrom('A'), 0u);

    ASSERT_TRUE(quil::sectorlink::WriteVirtualDrives({}));
    EXPECT_EQ(LetterOf(one.cue), 0);
}

TEST_F(SectorlinkTest, VendorAndProductOfAnImage) {
    CdImage image = quil::test::WriteCdImage(dir_, "album", ThreeAudioTracks());
    int letter = Register(image.cue);
    char vendor[9], product[17];
    ASSERT_EQ(GetDriveVendorProduct(letter, vendor, sizeof vendor, product, sizeof product), 1);
    EXPECT_EQ(std::strlen(vendor), 8u);
    EXPECT_STREQ(vendor, "libcdio ");
    EXPECT_STREQ(product, "CDRWIN");
    char tiny[4];
    ASSERT_EQ(GetDriveVendorProduct(letter, tiny, sizeof tiny, nullptr, 0), 1);
    EXPECT_STREQ(tiny, "lib");
}

TEST_F(SectorlinkTest, BadAndClosedHandlesAreRefused) {
    CdImage image = quil::test::WriteCdImage(dir_, "album", ThreeAudioTracks());
    int letter = Register(image.cue);
    DriveHandle handle = OpenCdrom(letter);
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(CloseCdrom(handle), 1);
    DriveHandle reopened = OpenCdrom(letter);
    EXPECT_NE(reopened, handle);  // a stale handle never names a new drive
    for (DriveHandle bad : {DriveHandle{0}, handle, DriveHandle{123456}}) {
        uint32_t values[3];
        std::vector<uint8_t> buffer(kCdSectorBytes);
        EXPECT_EQ(CloseCdrom(bad), 0);
        EXPECT_EQ(GetTrackCount(bad), 0);
        EXPECT_EQ(GetTrackInfo(bad, 1, values), 0);
        EXPECT_EQ(GetSourceDiscType(bad), 0u);
        EXPECT_EQ(ReadRawDataSector(bad, 0, 1, buffer.data(), 0, 0, 5000), 0);
        EXPECT_EQ(OpenCloseDoor(bad, 1), 0);
        EXPECT_EQ(LockDoor(bad, 1), 0);
    }
    EXPECT_EQ(CloseCdrom(reopened), 1);
}

TEST_F(SectorlinkTest, ReadsWhilePositionsAreAskedAndTheHandleCloses) {
    CdImage image = quil::test::WriteCdImage(dir_, "album", ThreeAudioTracks());
    DriveHandle handle = OpenCdrom(Register(image.cue));
    ASSERT_NE(handle, 0u);

    std::atomic<int> goodReads{0}, wrongReads{0}, failedReads{0};
    std::atomic<bool> readerDone{false};
    std::thread reader([&] {
        std::vector<uint8_t> buffer(16 * kCdSectorBytes);
        for (int pass = 0; failedReads == 0 && pass < 1000; ++pass) {
            for (uint32_t sector = 0; sector < 1000; sector += 16) {
                uint32_t count = std::min(16u, 1000 - sector);
                if (!ReadRawDataSector(handle, sector, count, buffer.data(), 0, 0, 5000)) {
                    ++failedReads;
                    break;
                }
                if (std::memcmp(buffer.data(), image.data.data() + size_t{sector} * kCdSectorBytes,
                                size_t{count} * kCdSectorBytes) == 0)
                    ++goodReads;
                else
                    ++wrongReads;
            }
        }
        readerDone = true;
    });
    std::thread asker([&] {
        while (goodReads < 200) {
            uint32_t values[3];
            EXPECT_EQ(GetTrackCount(handle), 3);
            EXPECT_EQ(GetTrackInfo(handle, 2, values), 1);
            EXPECT_EQ(values[2], 450u);
        }
    });
    asker.join();
    EXPECT_EQ(CloseCdrom(handle), 1);
    reader.join();
    EXPECT_TRUE(readerDone);
    EXPECT_EQ(wrongReads, 0);
    EXPECT_EQ(failedReads, 1);  // the read after the close
}

}  // namespace

namespace {

TEST(CdImageWriter, ToneTracksReadAsTones) {
    auto dir = quil::test::MakeTempDir("tone");
    CdImage image =
        quil::test::WriteCdImage(dir, "tone", {{true, 0, 75, 1000.0}, {true, 0, 75, 0}});
    ASSERT_TRUE(quil::sectorlink::WriteVirtualDrives({image.cue.string()}));
    Drive drive(LetterOf(image.cue));
    ASSERT_NE(drive.get(), 0u) << GetSectorlinkError();
    int result = 0;
    auto bytes = Read(drive.get(), 0, 75, &result);
    EXPECT_EQ(result, 1);
    // Half-scale sine: RMS 0.5 / sqrt(2).
    EXPECT_NEAR(quil::test::Rms16(bytes.data(), bytes.size()), 0.3536, 0.002);
}

}  // namespace
