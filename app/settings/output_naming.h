#pragma once

// The name of every output file: folder, prefix, optional date, time, suffix and the
// extension of the output format, taken at the moment the grab starts. A name already taken
// gets " (2)", " (3)", ... before its extension, so no recording is overwritten; the name is
// taken by creating the file empty (see output_file.h).

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace quil::settings {

// The local time the names use, behind a service tests can replace.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::tm LocalNow() const;
};
const Clock& SystemClock();

struct OutputPath {
    std::string path;       // full path
    std::string fileName;   // name with extension
    std::string extension;  // "wav", "mp3", "wma", "ogg"; empty for another format
};

// All three empty when the settings key does not exist.
OutputPath BuildOutputPath(int32_t format, const Clock& clock = SystemClock());

// Run once before the main window: creates the key (with the "Quilmain" prefix when the key
// is new) and fills an empty output folder with the data folder's "Quilfetch/", which it
// creates. Returns the stored folder.
std::string ApplyStartupDefaults();

std::string FormatByteSize(uint32_t bytes);
// Negative durations read as 0.
std::string FormatDuration(int seconds);
// Title (name without extension), name with extension, extension with its dot. False for an
// empty path, leaving the outputs as they were.
bool SplitFileName(std::string_view path, std::string* title, std::string* name,
                   std::string* extension);

}  // namespace quil::settings
