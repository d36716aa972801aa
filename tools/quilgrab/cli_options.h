#pragma once

// The options every grabbing command shares, registered once on each command's parser. Their
// defaults are the stored settings the desktop program's options dialog writes, so a choice
// made there holds here too; a value given on the command line is range-checked and a wrong
// one is a usage error naming the option and what it takes.

#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <string>

#include "app/settings/format_settings.h"

namespace quil::grab {

namespace exit_code {
constexpr int kDone = 0;
constexpr int kSomeFailed = 1;
constexpr int kUsage = 2;
constexpr int kInterrupted = 130;  // SIGINT; SIGTERM gives 143
}  // namespace exit_code

extern const char* const kExitCodesText;

struct FormatOptions {
    int format = 0;  // settings::OutputFormat
    settings::Mp3Settings mp3;
    settings::OggSettings ogg;
    float oggQuality = 6.0f;
    settings::WavSettings wav;
    int wmaVersion = 7;
    std::string wmaProfile;  // empty: the last audio profile of the version
};

enum class Clobber { kNextFreeName, kOverwrite, kSkip };

struct OutputOptions {
    std::string folder = ".";
    std::string file;          // -o: the output of a single input; "-" for standard output
    std::string nameTemplate;  // empty: the command's own
    std::string storedPrefix, storedSuffix;
    bool storedAddDate = false;
    Clobber clobber = Clobber::kNextFreeName;
};

struct CommonOptions {
    bool quiet = false;
    bool verbose = false;
    std::optional<double> seconds;  // audio time
    FormatOptions format;
    OutputOptions output;
};

// The stored settings as defaults; absent or corrupt values read as the program's defaults.
CommonOptions LoadStoredDefaults();

void AddVerbosityOptions(CLI::App& command, CommonOptions& options);
void AddFormatOptions(CLI::App& command, FormatOptions& options, bool withMp3Quality = true);
void AddOutputOptions(CLI::App& command, OutputOptions& options);
void AddDurationOption(CLI::App& command, std::optional<double>& seconds, const std::string& what);

// Checks that need more than one option (an MP3 bit rate belongs to its sample rate); throws
// CLI::ValidationError.
void CheckFormatOptions(const CLI::App& command, const FormatOptions& options);

// A whole number in decimal, all of the text.
bool ParseWhole(const std::string& text, long* value);

// A validator for whole numbers from low to high, saying so when the value is not.
CLI::Validator WholeRange(long low, long high, const std::string& unit = "");
CLI::Validator NumberRange(double low, double high, const std::string& unit = "");

// The extension with its dot of an output format.
const char* FormatExtension(int format);
const char* FormatName(int format);

}  // namespace quil::grab
