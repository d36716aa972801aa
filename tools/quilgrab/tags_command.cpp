// quilgrab tags: prints the tags of WAV, MP3 and WMA files as "key: value" lines or JSON, or
// writes the given ones into each file and keeps the others.

#include <fcntl.h>
#include <unistd.h>

#include <taglib/audioproperties.h>
#include <taglib/fileref.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/tags/media_tag_editor.h"
#include "platform/com/strings.h"
#include "tools/quilgrab/cli_options.h"
#include "tools/quilgrab/commands.h"
#include "tools/quilgrab/media_grab.h"

namespace quil::grab {

namespace {

struct TextField {
    const char* key;
    const char* option;
    char (MediaTagRecord::*field)[kTagTextSize];
};

constexpr TextField kTextFields[] = {
    {"title", "--title", &MediaTagRecord::szTitle},
    {"artist", "--artist", &MediaTagRecord::szAuthor},
    {"album", "--album", &MediaTagRecord::szAlbumTitle},
    {"year", "--year", &MediaTagRecord::szYear},
    {"genre", "--genre", &MediaTagRecord::szGenre},
    {"comment", "--comment", &MediaTagRecord::szDescription},
    {"copyright", "--copyright", &MediaTagRecord::szCopyright},
};
constexpr size_t kTextFieldCount = std::size(kTextFields);

struct TagsOptions {
    std::vector<std::string> files;
    std::optional<std::string> texts[kTextFieldCount];
    std::string track;  // "N" or "N/TOTAL"
    bool removeTrack = false;
    bool json = false;
    bool verbose = false;
};

// The tag editor reports each step on standard output; those lines are no part of ours.
class QuietStandardOutput {
public:
    explicit QuietStandardOutput(bool toStandardError) {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        int target = toStandardError ? ::dup(STDERR_FILENO) : ::open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && target >= 0) ::dup2(target, STDOUT_FILENO);
        if (target >= 0) ::close(target);
    }
    ~QuietStandardOutput() {
        std::fflush(stdout);
        if (saved_ < 0) return;
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
    QuietStandardOutput(const QuietStandardOutput&) = delete;
    QuietStandardOutput& operator=(const QuietStandardOutput&) = delete;

private:
    int saved_ = -1;
};

struct AudioFacts {
    bool media = false;
    int milliseconds = 0;
    int kbitPerSecond = 0;
};

AudioFacts ReadAudioFacts(const std::string& path) {
    AudioFacts facts;
    TagLib::FileRef file(path.c_str(), true, TagLib::AudioProperties::Average);
    if (file.isNull() || !file.audioProperties()) return facts;
    facts.milliseconds = file.audioProperties()->lengthInMilliseconds();
    facts.kbitPerSecond = file.audioProperties()->bitrate();
    facts.media = facts.milliseconds > 0 || facts.kbitPerSecond > 0 ||
                  file.audioProperties()->sampleRate() > 0;
    return facts;
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string DurationText(int milliseconds) {
    int seconds = milliseconds / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60, milliseconds % 1000);
    return text;
}

void PrintRecord(const std::string& path, const MediaTagRecord& record, const AudioFacts& facts,
                 bool json, bool first, bool many) {
    std::vector<std::pair<std::string, std::string>> texts;
    for (const TextField& field : kTextFields) texts.emplace_back(field.key, record.*field.field);
    if (json) {
        std::printf("%s{\"file\": %s", first ? "" : ",\n", JsonText(path).c_str());
        for (const auto& [key, value] : texts)
            std::printf(", \"%s\": %s", key.c_str(), JsonText(value).c_str());
        if (record.nTrack > 0)
            std::printf(", \"track\": %d", record.nTrack);
        else
            std::printf(", \"track\": null");
        std::printf(", \"duration\": %.3f, \"bitrate\": %d}", facts.milliseconds / 1000.0,
                    facts.kbitPerSecond);
        return;
    }
    if (many) std::printf("%sfile: %s\n", first ? "" : "\n", path.c_str());
    for (const auto& [key, value] : texts) std::printf("%s: %s\n", key.c_str(), value.c_str());
    if (record.nTrack > 0)
        std::printf("track: %d\n", record.nTrack);
    else
        std::printf("track:\n");
    std::printf("duration: %s\n", DurationText(facts.milliseconds).c_str());
    std::printf("bitrate: %d kbit/s\n", facts.kbitPerSecond);
}

bool Writes(const TagsOptions& options) {
    for (const auto& text : options.texts)
        if (text) return true;
    return !options.track.empty() || options.removeTrack;
}

std::optional<int> ParseTrack(const std::string& text) {
    // "N" or "N/TOTAL"; the total is checked and, the tag holding one number, not stored.
    size_t slash = text.find('/');
    auto whole = [](const std::string& part) -> std::optional<long> {
        char* end = nullptr;
        long value = std::strtol(part.c_str(), &end, 10);
        if (part.empty() || *end || value < 1 || value > 9999) return std::nullopt;
        return value;
    };
    auto number = whole(text.substr(0, slash));
    if (!number) return std::nullopt;
    if (slash != std::string::npos) {
        auto total = whole(text.substr(slash + 1));
        if (!total || *total < *number) return std::nullopt;
    }
    return static_cast<int>(*number);
}

int RunTags(TagsOptions& options) {
    std::optional<int> track;
    if (!options.track.empty()) {
        track = ParseTrack(options.track);
        if (!track)
            throw CLI::ValidationError("--track",
                                       "takes N or N/TOTAL, whole numbers from 1 to "
                                       "9999 with N not above TOTAL, not \"" +
                                           options.track + "\"");
    }
    bool writing = Writes(options);
    bool many = options.files.size() > 1;
    int failed = 0;
    bool first = true;
    if (options.json && !writing) std::printf("[");
    for (const std::string& path : options.files) {
        std::string problem = LocalInputProblem(path);
        AudioFacts facts;
        if (problem.empty()) {
            facts = ReadAudioFacts(path);
            if (!facts.media) problem = path + ": not a media file";
        }
        MediaTagRecord record;
        bool read = false;
        if (problem.empty()) {
            QuietStandardOutput quiet(options.verbose);
            read = MediaTagEditor().ReadTags(path.c_str(), record);
        }
        if (problem.empty() && !read) problem = path + ": the tags cannot be read";
        if (!problem.empty()) {
            std::fprintf(stderr, "quilgrab tags: %s\n", problem.c_str());
            ++failed;
            continue;
        }
        if (!writing) {
            PrintRecord(path, record, facts, options.json, first, many);
            first = false;
            continue;
        }
        // Every write stores all seven texts, so the ones not given keep what the file had.
        for (size_t i = 0; i < kTextFieldCount; ++i)
            if (options.texts[i])
                CopyBounded(*options.texts[i], record.*kTextFields[i].field, kTagTextSize);
        if (track) record.nTrack = *track;
        if (options.removeTrack) record.nTrack = -1;
        bool written;
        {
            QuietStandardOutput quiet(options.verbose);
            written = MediaTagEditor().WriteTags(path.c_str(), record);
        }
        if (!written) {
            std::fprintf(stderr, "quilgrab tags: %s: the tags cannot be written\n", path.c_str());
            ++failed;
        }
    }
    if (options.json && !writing) std::printf("]\n");
    return failed ? exit_code::kSomeFailed : exit_code::kDone;
}

}  // namespace

CommandRun AddTagsCommand(CLI::App& program) {
    auto options = std::make_shared<TagsOptions>();
    CLI::App* command =
        program.add_subcommand("tags", "print or write the tags of WAV, MP3 and WMA files");
    command->add_option("FILE", options->files, "the files")->required();
    for (size_t i = 0; i < kTextFieldCount; ++i)
        command->add_option(
            kTextFields[i].option, options->texts[i],
            std::string("write the ") + kTextFields[i].key + " (longer than 259 bytes is cut)");
    auto* track =
        command->add_option("--track", options->track, "write the track number, N or N/TOTAL");
    command->add_flag("--remove-track", options->removeTrack, "remove the track number")
        ->excludes(track);
    command->add_flag("--json", options->json, "print the tags as JSON");
    command->add_flag("-v,--verbose", options->verbose,
                      "show the tag editor's own lines on standard error");
    command->footer(
        std::string("Without tag options prints \"key: value\" lines for each file.\n") +
        kExitCodesText);
    return [options] { return RunTags(*options); };
}

}  // namespace quil::grab
