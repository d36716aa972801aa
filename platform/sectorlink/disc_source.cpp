#include "platform/sectorlink/disc_source.h"

#include <stdlib.h>

#include <cctype>
#include <fstream>
#include <mutex>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/com/strings.h"

namespace quil::sectorlink {

namespace fs = std::filesystem;

std::mutex& LibcdioLock() {
    static std::mutex lock;
    return lock;
}

StagingFolder::~StagingFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

bool StagingFolder::Create(std::string* error) {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / "quil-sectorlink-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        *error = "cannot create a staging folder in " + base.string();
        return false;
    }
    path_ = pattern;
    return true;
}

namespace {

constexpr std::uintmax_t kMaxCueBytes = 1 << 20;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

struct CueFileEntry {
    size_t line = 0;
    std::string name;
    std::string type;  // upper case
};

// The FILE lines of a CUE sheet: FILE "name with blanks" TYPE, or FILE name TYPE.
std::vector<CueFileEntry> FileEntries(const std::vector<std::string>& lines) {
    std::vector<CueFileEntry> entries;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view rest = Trim(lines[i]);
        if (rest.size() < 5 || !EqualsIgnoreCase(rest.substr(0, 4), "FILE") ||
            !std::isspace(static_cast<unsigned char>(rest[4])))
            continue;
        rest = Trim(rest.substr(5));
        CueFileEntry entry;
        entry.line = i;
        if (!rest.empty() && rest.front() == '"') {
            size_t close = rest.find('"', 1);
            if (close == std::string_view::npos) {
                entry.name.clear();
            } else {
                entry.name = rest.substr(1, close - 1);
                rest.remove_prefix(close + 1);
            }
        } else {
            size_t end = 0;
            while (end < rest.size() && !std::isspace(static_cast<unsigned char>(rest[end]))) ++end;
            entry.name = rest.substr(0, end);
            rest.remove_prefix(end);
        }
        for (char c : Trim(rest))
            entry.type.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool ReadLines(const fs::path& file, std::vector<std::string>* lines, std::string* error) {
    std::error_code ec;
    auto size = fs::file_size(file, ec);
    if (ec || size > kMaxCueBytes) {
        *error = "not a CUE sheet (unreadable or too large): " + file.string();
        return false;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        *error = "cannot read " + file.string();
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines->push_back(line);
    }
    return true;
}

// libcdio 2.1 ignores the FILE line of a CUE sheet and reads the BIN that has the sheet's own
// name, so a sheet naming another file would read the wrong data or none. Such a sheet is read
// through a staged copy beside a link to the file it names.
CdIo_t* OpenCue(const fs::path& cue, std::unique_ptr<StagingFolder>* staging, std::string* error) {
    std::vector<std::string> lines;
    if (!ReadLines(cue, &lines, error)) return nullptr;
    std::vector<CueFileEntry> files = FileEntries(lines);
    if (files.empty()) {
        *error = "the CUE sheet names no data file: " + cue.string();
        return nullptr;
    }
    if (files.size() > 1) {
        *error = "CUE sheets with several data files are not supported: " + cue.string();
        return nullptr;
    }
    // libcdio leaks on a sheet without tracks, and such a sheet is no disc anyway.
    bool hasTrack = false;
    for (const auto& line : lines) {
        std::string_view text = Trim(line);
        hasTrack = hasTrack || (text.size() > 5 && EqualsIgnoreCase(text.substr(0, 5), "TRACK") &&
                                std::isspace(static_cast<unsigned char>(text[5])));
    }
    if (!hasTrack) {
        *error = "the CUE sheet lists no track: " + cue.string();
        return nullptr;
    }
    const CueFileEntry& file = files.front();
    if (file.name.empty()) {
        *error = "damaged FILE line in " + cue.string();
        return nullptr;
    }
    // MOTOROLA (big-endian) data or WAVE files would be delivered as garbage.
    if (file.type != "BINARY") {
        *error = "the CUE sheet's data file is not BINARY: " + cue.string();
        return nullptr;
    }
    fs::path data =
        fs::path(file.name).is_absolute() ? fs::path(file.name) : cue.parent_path() / file.name;
    std::error_code ec;
    if (!fs::is_regular_file(data, ec)) {
        *error = "the data file of the CUE sheet is missing: " + data.string();
        return nullptr;
    }

    std::string cueName = cue.string();
    bool direct = false;
    if (char* derived = cdio_is_cuefile(cueName.c_str())) {
        direct = fs::equivalent(fs::path(derived), data, ec) && !ec;
        free(derived);
    }
    if (direct) {
        std::lock_guard lock(LibcdioLock());
        return cdio_open(cueName.c_str(), DRIVER_BINCUE);
    }

    auto folder = std::make_unique<StagingFolder>();
    if (!folder->Create(error)) return nullptr;
    fs::path stagedCue = folder->path() / "disc.cue";
    fs::path stagedBin = folder->path() / "disc.bin";
    fs::create_symlink(fs::absolute(data, ec), stagedBin, ec);
    if (ec) {
        *error = "cannot stage the CUE sheet: " + ec.message();
        return nullptr;
    }
    {
        std::ofstream out(stagedCue, std::ios::binary);
        for (size_t i = 0; i < lines.size(); ++i)
            out << (i == file.line ? std::string("FILE \"disc.bin\" BINARY") : lines[i]) << '\n';
        if (!out.flush()) {
            *error = "cannot stage the CUE sheet in " + folder->path().string();
            return nullptr;
        }
    }
    CdIo_t* cdio = nullptr;
    {
        std::lock_guard lock(LibcdioLock());
        cdio = cdio_open(stagedCue.c_str(), DRIVER_BINCUE);
    }
    if (cdio) *staging = std::move(folder);
    return cdio;
}

// libcdio resolves the data file names of a cdrdao TOC file against the working directory, not
// the TOC file's folder; a staged copy names them by absolute paths.
CdIo_t* OpenToc(const fs::path& toc, std::unique_ptr<StagingFolder>* staging, std::string* error) {
    std::vector<std::string> lines;
    if (!ReadLines(toc, &lines, error)) return nullptr;
    bool rewritten = false;
    for (auto& line : lines) {
        std::string_view text = line;
        size_t keyword = text.find_first_not_of(" \t");
        if (keyword == std::string_view::npos) continue;
        size_t quote = text.find('"', keyword);
        if (quote == std::string_view::npos) continue;
        std::string_view word = Trim(text.substr(keyword, quote - keyword));
        if (!EqualsIgnoreCase(word, "FILE") && !EqualsIgnoreCase(word, "AUDIOFILE") &&
            !EqualsIgnoreCase(word, "DATAFILE"))
            continue;
        size_t close = text.find('"', quote + 1);
        if (close == std::string_view::npos) continue;
        fs::path name(std::string(text.substr(quote + 1, close - quote - 1)));
        if (name.empty() || name.is_absolute()) continue;
        std::string absolute = fs::absolute(toc.parent_path() / name).lexically_normal().string();
        if (absolute.find_first_of("\"\\") != std::string::npos) {
            *error = "unusable data file name in " + toc.string();
            return nullptr;
        }
        line = std::string(text.substr(0, quote + 1)) + absolute + std::string(text.substr(close));
        rewritten = true;
    }
    fs::path opened = toc;
    auto folder = std::make_unique<StagingFolder>();
    if (rewritten) {
        if (!folder->Create(error)) return nullptr;
        opened = folder->path() / "disc.toc";
        std::ofstream out(opened, std::ios::binary);
        for (const auto& line : lines) out << line << '\n';
        if (!out.flush()) {
            *error = "cannot stage the TOC file in " + folder->path().string();
            return nullptr;
        }
    }
    CdIo_t* cdio = nullptr;
    {
        std::lock_guard lock(LibcdioLock());
        cdio = cdio_open(opened.c_str(), DRIVER_CDRDAO);
    }
    if (cdio && rewritten) *staging = std::move(folder);
    return cdio;
}

}  // namespace

std::unique_ptr<DiscSource> DiscSource::OpenDevice(const std::string& device, std::string* error) {
    std::unique_ptr<DiscSource> source(new DiscSource);
    source->source_ = device;
    {
        std::lock_guard lock(LibcdioLock());
        source->cdio_ = cdio_open(device.c_str(), DRIVER_DEVICE);
    }
    if (!source->cdio_) {
        *error = "cannot open the drive " + device;
        return nullptr;
    }
    return source;
}

std::unique_ptr<DiscSource> DiscSource::OpenImage(const fs::path& image, std::string* error) {
    std::unique_ptr<DiscSource> source(new DiscSource);
    source->source_ = image.string();
    source->image_ = true;
    std::error_code ec;
    if (!fs::is_regular_file(image, ec)) {
        *error = "disc image not found: " + image.string();
        return nullptr;
    }
    std::string extension = ToLowerAscii(image.extension().string());
    std::string name = image.string();
    if (extension == ".cue" || extension == ".bin") {
        fs::path cue = image;
        if (extension == ".bin") {
            cue.replace_extension(".cue");
            if (!fs::is_regular_file(cue, ec)) {
                *error = "no CUE sheet beside " + image.string();
                return nullptr;
            }
        }
        source->cdio_ = OpenCue(cue, &source->staging_, error);
        if (!source->cdio_ && error->empty()) *error = "damaged CUE sheet: " + cue.string();
    } else if (extension == ".toc") {
        source->cdio_ = OpenToc(image, &source->staging_, error);
        if (!source->cdio_ && error->empty()) *error = "damaged TOC file: " + name;
    } else {
        if (extension != ".nrg" && !cdio_is_nrg(name.c_str())) {
            *error = "not a CUE/BIN, TOC or NRG disc image: " + name;
            return nullptr;
        }
        std::lock_guard lock(LibcdioLock());
        source->cdio_ = cdio_open(name.c_str(), DRIVER_NRG);
        if (!source->cdio_) *error = "damaged disc image: " + name;
    }
    if (!source->cdio_ || !source->CheckImageToc(error)) return nullptr;
    return source;
}

DiscSource::~DiscSource() {
    if (cdio_) cdio_destroy(cdio_);
}

int DiscSource::TrackCount() const {
    track_t count = cdio_get_num_tracks(cdio_);
    return count == CDIO_INVALID_TRACK ? 0 : count;
}

int DiscSource::FirstTrackNumber() const {
    track_t first = cdio_get_first_track_num(cdio_);
    return first == CDIO_INVALID_TRACK ? 0 : first;
}

uint32_t DiscSource::LeadOut() const {
    lsn_t leadOut = cdio_get_track_lsn(cdio_, CDIO_CDROM_LEADOUT_TRACK);
    return leadOut == CDIO_INVALID_LSN || leadOut < 0 ? 0 : static_cast<uint32_t>(leadOut);
}

// libcdio accepts images whose tracks lie past the end of their data; such a table would send
// reads outside the file.
bool DiscSource::CheckImageToc(std::string* error) const {
    int count = TrackCount();
    int first = FirstTrackNumber();
    uint32_t leadOut = LeadOut();
    bool sound = count > 0 && first > 0 && leadOut > 0;
    lsn_t previous = -1;
    for (int i = 0; sound && i < count; ++i) {
        auto track = static_cast<track_t>(first + i);
        lsn_t start = cdio_get_track_lsn(cdio_, track);
        sound = start != CDIO_INVALID_LSN && start > previous &&
                static_cast<uint32_t>(start) < leadOut &&
                cdio_get_track_format(cdio_, track) != TRACK_FORMAT_ERROR;
        previous = start;
    }
    if (!sound) *error = "the disc image has no usable table of contents: " + source_;
    return sound;
}

}  // namespace quil::sectorlink
