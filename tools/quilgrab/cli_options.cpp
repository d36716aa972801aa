#include "tools/quilgrab/cli_options.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "app/settings/option_tables.h"
#include "app/settings/settings_key.h"

namespace quil::grab {

namespace {

std::string JoinNumbers(std::span<const int32_t> numbers) {
    std::string text;
    for (int32_t number : numbers) text += (text.empty() ? "" : ", ") + std::to_string(number);
    return text;
}

using WordList = std::vector<std::pair<std::string, int>>;
const WordList kFormats = {{"wav", 0}, {"mp3", 1}, {"wma", 2}, {"ogg", 3}};
const WordList kChannelModes = {{"stereo", 0}, {"joint", 1}, {"dual", 2}, {"mono", 3}};

// Maps a word to its number, saying which words there are otherwise.
CLI::Validator Choice(const WordList& words) {
    std::string list;
    for (const auto& [word, number] : words) list += (list.empty() ? "" : "|") + word;
    return CLI::Validator(
        [words, list](std::string& text) -> std::string {
            auto found = std::find_if(words.begin(), words.end(),
                                      [&](const auto& word) { return word.first == text; });
            if (found == words.end()) return "takes " + list + ", not \"" + text + "\"";
            text = std::to_string(found->second);
            return {};
        },
        list);
}

}  // namespace

const char* FormatExtension(int format) {
    static const char* const kExtensions[] = {".wav", ".mp3", ".wma", ".ogg"};
    return format >= 0 && format < 4 ? kExtensions[format] : "";
}

const char* FormatName(int format) {
    static const char* const kNames[] = {"wav", "mp3", "wma", "ogg"};
    return format >= 0 && format < 4 ? kNames[format] : "";
}

CommonOptions LoadStoredDefaults() {
    CommonOptions options;
    FormatOptions& format = options.format;
    format.format = settings::LoadOutputFormat();
    if (format.format < 0 || format.format > 3) format.format = 0;
    format.mp3 = settings::LoadMp3Settings();
    // The dialog shows a stored bit rate it does not offer as 128; so do we.
    auto rates = settings::Mp3BitRates(format.mp3.sampleRate);
    if (std::find(rates.begin(), rates.end(), format.mp3.bitRate) == rates.end())
        format.mp3.bitRate = settings::fallback::kMp3BitRate;
    format.mp3.quality = std::clamp(format.mp3.quality, 0, 9);
    format.ogg = settings::LoadOggSettings();
    format.oggQuality = format.ogg.QualityValue();
    format.wav = settings::LoadWavSettings();
    if (format.wav.attribute < 0 || format.wav.attribute >= settings::kPcmFormatCount)
        format.wav.attribute = settings::fallback::kWavAttribute;
    auto wma = settings::LoadStoredWmaSettings();
    if (wma.version != settings::fallback::kWmaVersionAbsent) {
        format.wmaVersion = wma.version;
        format.wmaProfile = wma.profile;
    }
    auto rule = settings::LoadNamingRule();
    if (!rule.folder.empty()) options.output.folder = rule.folder;
    options.output.storedPrefix = rule.prefix;
    options.output.storedSuffix = rule.suffix;
    options.output.storedAddDate = rule.addDate;
    return options;
}

void AddVerbosityOptions(CLI::App& command, CommonOptions& options) {
    command.add_flag("-q,--quiet", options.quiet,
                     "no progress line and no notes on standard error");
    command.add_flag("-v,--verbose", options.verbose, "say more about each step");
}

void AddFormatOptions(CLI::App& command, FormatOptions& options, bool withMp3Quality) {
    const std::string group = "Format options (defaults: the stored settings)";
    command.add_option("-f,--format", options.format, "output format wav|mp3|wma|ogg")
        ->transform(Choice(kFormats))
        ->type_name("FORMAT")
        ->default_str(FormatName(options.format))
        ->group(group);
    command
        .add_option("--wav-format", options.wav.attribute,
                    "WAV PCM format index (2: 44100 Hz, 16 bits, stereo)")
        ->check(WholeRange(0, settings::kPcmFormatCount - 1))
        ->type_name("INDEX")
        ->default_val(options.wav.attribute)
        ->group(group);
    std::string rates;
    for (const auto& rate : settings::Mp3SampleRates())
        rates += (rates.empty() ? "" : "|") + std::to_string(rate.rate);
    command.add_option("--mp3-rate", options.mp3.sampleRate, "MP3 sample rate in Hz")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                long value = 0;
                std::string list;
                for (const auto& rate : settings::Mp3SampleRates()) {
                    if (ParseWhole(text, &value) && value == rate.rate) return {};
                    list += (list.empty() ? "" : ", ") + std::to_string(rate.rate);
                }
                return "takes one of " + list + ", not \"" + text + "\"";
            },
            rates))
        ->type_name("HZ")
        ->default_val(options.mp3.sampleRate)
        ->group(group);
    command
        .add_option("--mp3-bitrate", options.mp3.bitRate,
                    "MP3 bit rate in kbit/s: 32 to 320 (8 to 160 below 32000 Hz)")
        ->check(WholeRange(8, 320))
        ->type_name("KBIT")
        ->default_val(options.mp3.bitRate)
        ->group(group);
    command
        .add_option("--channel-mode", options.mp3.channelMode,
                    "MP3 channel mode stereo|joint|dual|mono")
        ->transform(Choice(kChannelModes))
        ->type_name("MODE")
        ->default_str(std::vector<const char*>{"stereo", "joint", "dual",
                                               "mono"}[std::clamp(options.mp3.channelMode, 0, 3)])
        ->group(group);
    if (withMp3Quality)
        command
            .add_option("--mp3-quality", options.mp3.quality,
                        "LAME quality 0 (best) to 9 (fastest)")
            ->check(WholeRange(0, 9))
            ->type_name("N")
            ->default_val(options.mp3.quality)
            ->group(group);
    auto flag = [&](const std::string& name, int32_t& field, const std::string& help) {
        command
            .add_flag_callback(
                "--" + name, [&field] { field = 1; }, help + " (--no-" + name + " clears it)")
            ->group(group);
        command.add_flag_callback("--no-" + name, [&field] { field = 0; })->group("");
    };
    flag("mp3-copyright", options.mp3.copyright, "set the copyright bit");
    flag("mp3-crc", options.mp3.crc, "add CRC check sums");
    flag("mp3-original", options.mp3.original, "set the original bit");
    flag("mp3-private", options.mp3.privateBit, "set the private bit");
    command.add_option("--ogg-quality", options.oggQuality, "Vorbis quality 0 to 10")
        ->check(NumberRange(0, 10))
        ->type_name("Q")
        ->default_val(options.oggQuality)
        ->group(group);
    command
        .add_option("--ogg-format", options.ogg.attribute,
                    "PCM format index the OGG encoder is fed")
        ->check(WholeRange(0, settings::kPcmFormatCount - 1))
        ->type_name("INDEX")
        ->default_val(options.ogg.attribute)
        ->group(group);
    command.add_option("--wma-version", options.wmaVersion, "Windows Media version 4, 7, 8 or 9")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                long value = 0;
                if (ParseWhole(text, &value) && settings::IsWmaVersion(static_cast<int32_t>(value)))
                    return {};
                return "takes 4, 7, 8 or 9, not \"" + text + "\"";
            },
            "4|7|8|9"))
        ->type_name("VERSION")
        ->default_val(options.wmaVersion)
        ->group(group);
    command
        .add_option("--wma-profile", options.wmaProfile,
                    "a profile name as \"quilgrab profiles\" lists it")
        ->type_name("NAME")
        ->group(group);
}

void CheckFormatOptions(const CLI::App& command, const FormatOptions& options) {
    auto rates = settings::Mp3BitRates(options.mp3.sampleRate);
    if (std::find(rates.begin(), rates.end(), options.mp3.bitRate) == rates.end()) {
        std::string source =
            command.count("--mp3-bitrate") ? "--mp3-bitrate" : "--mp3-bitrate (stored setting)";
        throw CLI::ValidationError(source, "takes one of " + JoinNumbers(rates) + " at " +
                                               std::to_string(options.mp3.sampleRate) +
                                               " Hz, not " + std::to_string(options.mp3.bitRate));
    }
}

void AddOutputOptions(CLI::App& command, OutputOptions& options) {
    const std::string group = "Output options";
    command.add_option("-d,--out", options.folder, "output folder (default: the stored one, or .)")
        ->type_name("DIR")
        ->default_str(options.folder)
        ->group(group);
    command
        .add_option("-o,--output", options.file,
                    "output file of a single input (- : standard output)")
        ->type_name("FILE")
        ->group(group);
    command
        .add_option("--name", options.nameTemplate,
                    "name outputs from fields: {stem} {track} {title} {artist} {album} {date} "
                    "{time} {ext}; the extension is added unless {ext} is given")
        ->type_name("TEMPLATE")
        ->group(group);
    auto* overwrite =
        command
            .add_flag_callback(
                "-y,--overwrite", [&options] { options.clobber = Clobber::kOverwrite; },
                "replace an existing output file")
            ->group(group);
    auto* noClobber = command
                          .add_flag_callback(
                              "-n,--no-clobber", [&options] { options.clobber = Clobber::kSkip; },
                              "skip an input whose output exists (default: take the next free "
                              "name, \"x (2).mp3\")")
                          ->group(group);
    overwrite->excludes(noClobber);
}

void AddDurationOption(CLI::App& command, std::optional<double>& seconds, const std::string& what) {
    command.add_option("-t,--seconds", seconds, "stop " + what + " after N seconds of audio")
        ->type_name("SECONDS")
        ->check(NumberRange(0.01, 1e7));
}

}  // namespace quil::grab
