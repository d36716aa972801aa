#pragma once

// What the cd command needs around the CD grabber: the drive letter of a device or a disc
// image, the album, artist and titles of a disc (CD-TEXT, or a CUE sheet's TITLE and PERFORMER
// lines, which libcdio reads as CD-TEXT), and track lists such as "1-3,5".

#include <optional>
#include <string>
#include <vector>

namespace quil::grab {

struct DiscText {
    std::string album, albumArtist;
    std::vector<std::string> titles, artists;  // per track, from index 0 = track 1
    std::string Title(int track) const;
    std::string Artist(int track) const;
};

// Read from the device or image the letter names; empty texts when there are none.
DiscText ReadDiscText(const std::string& source);

// "1,3-5" -> 1 3 4 5; nullopt when malformed or outside 1..99.
std::optional<std::vector<int>> ParseTrackList(const std::string& text);

// The letter of a drive by device or image path, comparing real paths.
std::optional<char> LetterOf(const std::string& source);

// Lists an image as a virtual drive for as long as this object lives, so the CD grabber can
// read it by letter; the stored list is put back as it was afterwards.
class TemporaryVirtualDrive {
public:
    explicit TemporaryVirtualDrive(const std::string& image);
    ~TemporaryVirtualDrive();
    TemporaryVirtualDrive(const TemporaryVirtualDrive&) = delete;
    TemporaryVirtualDrive& operator=(const TemporaryVirtualDrive&) = delete;
    std::optional<char> letter() const { return letter_; }

private:
    bool added_ = false;
    std::vector<std::string> before_;
    std::optional<char> letter_;
};

}  // namespace quil::grab
