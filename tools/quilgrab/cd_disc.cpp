#include "tools/quilgrab/cd_disc.h"

#include <cdio/cdio.h>
#include <cdio/cdtext.h>

#include <cstdlib>
#include <filesystem>

#include "platform/sectorlink/sectorlink.h"

namespace quil::grab {

namespace {

std::string RealPath(const std::string& path) {
    std::error_code error;
    auto real = std::filesystem::canonical(path, error);
    return error ? path : real.string();
}

std::string Text(const cdtext_t* text, cdtext_field_t field, track_t track) {
    const char* value = text ? cdtext_get_const(text, field, track) : nullptr;
    return value ? value : "";
}

}  // namespace

std::string DiscText::Title(int track) const {
    return track >= 1 && static_cast<size_t>(track) <= titles.size() ? titles[track - 1] : "";
}

std::string DiscText::Artist(int track) const {
    std::string own =
        track >= 1 && static_cast<size_t>(track) <= artists.size() ? artists[track - 1] : "";
    return own.empty() ? albumArtist : own;
}

DiscText ReadDiscText(const std::string& source) {
    DiscText disc;
    CdIo_t* cdio = cdio_open(source.c_str(), DRIVER_UNKNOWN);
    if (!cdio) return disc;
    cdtext_t* text = cdio_get_cdtext(cdio);
    if (text) {
        track_t first = cdio_get_first_track_num(cdio);
        track_t count = cdio_get_num_tracks(cdio);
        disc.album = Text(text, CDTEXT_FIELD_TITLE, 0);
        disc.albumArtist = Text(text, CDTEXT_FIELD_PERFORMER, 0);
        for (track_t i = 0; count != CDIO_INVALID_TRACK && i < count; ++i) {
            disc.titles.push_back(Text(text, CDTEXT_FIELD_TITLE, static_cast<track_t>(first + i)));
            disc.artists.push_back(
                Text(text, CDTEXT_FIELD_PERFORMER, static_cast<track_t>(first + i)));
        }
    }
    cdio_destroy(cdio);
    return disc;
}

std::optional<std::vector<int>> ParseTrackList(const std::string& text) {
    std::vector<int> tracks;
    size_t at = 0;
    while (true) {
        size_t comma = text.find(',', at);
        std::string item = text.substr(at, comma == std::string::npos ? comma : comma - at);
        size_t dash = item.find('-');
        std::string firstText = item.substr(0, dash);
        std::string lastText = dash == std::string::npos ? firstText : item.substr(dash + 1);
        char* end = nullptr;
        long first = std::strtol(firstText.c_str(), &end, 10);
        if (firstText.empty() || *end) return std::nullopt;
        long last = std::strtol(lastText.c_str(), &end, 10);
        if (lastText.empty() || *end) return std::nullopt;
        if (first < 1 || last < first || last > 99) return std::nullopt;
        for (long track = first; track <= last; ++track) tracks.push_back(static_cast<int>(track));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return tracks;
}

std::optional<char> LetterOf(const std::string& source) {
    std::string wanted = RealPath(source);
    for (const auto& slot : sectorlink::DriveSlots())
        if (RealPath(slot.source) == wanted) return slot.letter;
    return std::nullopt;
}

TemporaryVirtualDrive::TemporaryVirtualDrive(const std::string& image) {
    letter_ = LetterOf(image);
    if (letter_) return;
    before_ = sectorlink::ReadVirtualDrives();
    auto with = before_;
    with.push_back(RealPath(image));
    added_ = sectorlink::WriteVirtualDrives(with);
    if (added_) letter_ = LetterOf(image);
}

TemporaryVirtualDrive::~TemporaryVirtualDrive() {
    if (added_) sectorlink::WriteVirtualDrives(before_);
}

}  // namespace quil::grab
