#pragma once

// Taking an output file's name and judging the file once the grab is over. The name is taken
// by creating the file, so grabs started in the same second, in one process or several, never
// share a file; the grabber then writes into the empty file it was given.

#include <string>

namespace quil::settings {

struct ClaimedName {
    std::string path;
    // False when the folder refused the file (missing, read-only); the path is then the first
    // candidate, and the grab reports the failure when it writes.
    bool created = false;
};

// Creates `base + extension`, else the first free `base + " (n)" + extension`, n = 2, 3, ...,
// empty and exclusively (a dangling link holds its name as well).
ClaimedName ClaimOutputName(const std::string& base, const std::string& extension);

enum class FinishedOutput {
    kKept,     // the file holds audio
    kNoAudio,  // nothing was recorded; the empty file was removed
    kMissing,  // the file is no longer at its path (its folder was removed or renamed)
};

// Run after the grabber has closed the file (ReleaseGraph).
FinishedOutput CheckFinishedOutput(const std::string& path);

// True when the media file's audio decodes to at least one sample. A file no demuxer
// recognises counts as holding audio unless it is too small to hold any: only a file known to
// hold no audio is ever removed.
bool HoldsAudio(const std::string& path);

}  // namespace quil::settings
