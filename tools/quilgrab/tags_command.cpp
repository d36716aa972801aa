// quilgrab tags: prints the tags of a WAV, MP3 or WMA file, or writes the ones given.

#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/tags/media_tag_editor.h"
#include "platform/com/strings.h"
#include "tools/quilgrab/commands.h"

namespace quil::grab {

namespace {

constexpr const char* kUsage =
    "Usage: quilgrab tags FILE\n"
    "       quilgrab tags FILE [--title T] [--artist A] [--album A] [--year Y] [--genre G]\n"
    "                          [--comment C] [--copyright C] [--track N]\n"
    "Without options prints the tags of FILE; with options writes them and keeps the others.\n"
    "A track of -1 removes the track number. Texts longer than 259 bytes are cut.\n";

struct TextOption {
    const char* name;
    char (MediaTagRecord::*field)[kTagTextSize];
};

constexpr TextOption kTextOptions[] = {
    {"--title", &MediaTagRecord::szTitle},         {"--artist", &MediaTagRecord::szAuthor},
    {"--album", &MediaTagRecord::szAlbumTitle},    {"--year", &MediaTagRecord::szYear},
    {"--genre", &MediaTagRecord::szGenre},         {"--comment", &MediaTagRecord::szDescription},
    {"--copyright", &MediaTagRecord::szCopyright},
};

struct TagChange {
    const TextOption* text = nullptr;
    std::string value;
};

struct TagsOptions {
    std::string path;
    std::vector<TagChange> texts;
    std::optional<int32_t> track;
};

int UsageError(const std::string& problem) {
    std::fprintf(stderr, "quilgrab tags: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

std::optional<int> ParseArguments(std::span<char* const> arguments, TagsOptions& options) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        const char* value = i + 1 < arguments.size() ? arguments[i + 1] : nullptr;
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--track") {
            int32_t track = 0;
            auto [end, error] = value ? std::from_chars(value, value + std::strlen(value), track)
                                      : std::from_chars_result{};
            if (!value || error != std::errc() || *end || track < -1)
                return UsageError("--track needs a number, or -1 for none");
            options.track = track;
            ++i;
            continue;
        }
        const TextOption* text = nullptr;
        for (const TextOption& option : kTextOptions)
            if (argument == option.name) text = &option;
        if (text) {
            if (!value) return UsageError(std::string(text->name) + " needs a text");
            options.texts.push_back({text, value});
            ++i;
        } else if (argument.starts_with("-")) {
            return UsageError("unknown option \"" + std::string(argument) + "\"");
        } else if (options.path.empty()) {
            options.path = argument;
        } else {
            return UsageError("give one file");
        }
    }
    if (options.path.empty()) return UsageError("give a file");
    return std::nullopt;
}

void PrintRecord(const MediaTagRecord& record) {
    std::printf("\nTitle:     %s\n", record.szTitle);
    std::printf("Artist:    %s\n", record.szAuthor);
    std::printf("Album:     %s\n", record.szAlbumTitle);
    if (record.nTrack != -1)
        std::printf("Track:     %d\n", record.nTrack);
    else
        std::printf("Track:\n");
    std::printf("Year:      %s\n", record.szYear);
    std::printf("Genre:     %s\n", record.szGenre);
    std::printf("Comment:   %s\n", record.szDescription);
    std::printf("Copyright: %s\n", record.szCopyright);
    unsigned seconds = record.dwDuration / 10'000'000;  // 100-ns units
    std::printf("Duration:  %02u:%02u:%02u\n", seconds / 3600, seconds / 60 % 60, seconds % 60);
    std::printf("Bitrate:   %u\n", record.dwBitrate);
}

}  // namespace

int RunTagsCommand(std::span<char* const> arguments) {
    TagsOptions options;
    if (auto status = ParseArguments(arguments, options)) return *status;

    MediaTagEditor editor;
    MediaTagRecord record;
    if (!editor.ReadTags(options.path.c_str(), record)) {
        std::fprintf(stderr, "quilgrab tags: cannot read the tags of %s\n", options.path.c_str());
        return 1;
    }
    if (options.texts.empty() && !options.track) {
        PrintRecord(record);
        return 0;
    }
    // Every write stores all seven texts, so the ones not given keep what the file had.
    for (const TagChange& change : options.texts)
        CopyBounded(change.value, record.*change.text->field, kTagTextSize);
    if (options.track) record.nTrack = *options.track;
    if (!editor.WriteTags(options.path.c_str(), record)) {
        std::fprintf(stderr, "quilgrab tags: writing the tags of %s failed\n",
                     options.path.c_str());
        return 1;
    }
    return 0;
}

}  // namespace quil::grab
