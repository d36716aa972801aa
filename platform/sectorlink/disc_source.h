#pragma once

// One libcdio object on an optical drive or a disc image (internal to Sectorlink).

#include <cdio/cdio.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

namespace quil::sectorlink {

// Held around libcdio calls that touch its global state (driver table, device scan).
std::mutex& LibcdioLock();

// A private folder that is removed with everything in it.
class StagingFolder {
public:
    StagingFolder() = default;
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    ~StagingFolder();
    bool Create(std::string* error);
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class DiscSource {
public:
    static std::unique_ptr<DiscSource> OpenDevice(const std::string& device, std::string* error);
    static std::unique_ptr<DiscSource> OpenImage(const std::filesystem::path& image,
                                                 std::string* error);
    ~DiscSource();
    DiscSource(const DiscSource&) = delete;
    DiscSource& operator=(const DiscSource&) = delete;

    CdIo_t* cdio() const { return cdio_; }
    bool image() const { return image_; }
    const std::string& source() const { return source_; }

    // Tracks, counted from 1; the disc's first track number; the lead-out sector. 0 without a
    // readable table of contents.
    int TrackCount() const;
    int FirstTrackNumber() const;
    uint32_t LeadOut() const;

private:
    DiscSource() = default;
    bool CheckImageToc(std::string* error) const;

    // The staged copy of a CUE sheet must outlive the libcdio object that reads it.
    std::unique_ptr<StagingFolder> staging_;
    CdIo_t* cdio_ = nullptr;
    bool image_ = false;
    std::string source_;
};

}  // namespace quil::sectorlink
