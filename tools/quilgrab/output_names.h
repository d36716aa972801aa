#pragma once

// Output file names from a template of fields, and the claim of a name: the file is created
// with O_CREAT|O_EXCL, so two grabs (or two quilgrab processes) never write the same file.

#include <ctime>
#include <optional>
#include <string>

#include "tools/quilgrab/cli_options.h"

namespace quil::grab {

struct NameFields {
    std::string stem;  // the input's name without folder and extension
    int track = 0;     // 0: none
    std::string title, artist, album;
    std::tm when{};         // the start of the grab
    std::string extension;  // without its dot
};

// Fills {stem} {track} {title} {artist} {album} {date} {time} {ext}; a field's "/" becomes "_".
// The extension is added unless the template names {ext}. Unknown fields are kept as written.
std::string ExpandNameTemplate(const std::string& nameTemplate, const NameFields& fields);

// The template a command uses when --name is not given: the stored prefix, suffix and date
// rule around the command's own name.
std::string DefaultTemplate(const OutputOptions& options, const std::string& commandTemplate);

struct ClaimedOutput {
    std::string path;
    bool skipped = false;  // -n and the name exists
    std::string error;     // in the user's words, with the path; empty on success
};

// Creates the output file: the name itself, or with -y over an existing file, or by default
// the first free "name (N).ext".
ClaimedOutput ClaimOutput(const std::string& wanted, Clobber clobber);

// The output path of one input: -o when given, else folder + the expanded template.
std::string WantedOutputPath(const OutputOptions& options, const std::string& commandTemplate,
                             const NameFields& fields);

std::tm LocalNow();

}  // namespace quil::grab
