#pragma once

// One grab of a media file or a stream URL into one output file through the media-file grabber
// library, on the calling thread, with its own grabber and notify window (so several run at
// once). It ends at the end of the input, at a limit of audio time, or when the run is
// interrupted; in every case the output is finished so it stays playable.

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include "tools/quilgrab/cli_options.h"

namespace quil::grab {

enum class GrabOutcome {
    kDone,          // the input's end was reached
    kLimitReached,  // --seconds of audio were written
    kCut,           // interrupted: what was written is kept
    kFailed,        // an error; the message says why
};

struct GrabResult {
    GrabOutcome outcome = GrabOutcome::kFailed;
    double audioSeconds = 0;  // position reached in the input
    double duration = 0;      // of the input; 0 when unknown
    std::string error;        // in the user's words
};

struct GrabRequest {
    std::string input;
    bool isStream = false;
    std::string output;  // claimed already
    const FormatOptions* format = nullptr;
    std::optional<double> seconds;
    // Called about five times a second with the position and the duration (0 when unknown).
    std::function<void(double position, double duration)> onProgress;
};

GrabResult RunMediaGrab(const GrabRequest& request);

// Why a local input cannot be read, in the user's words; empty when it looks readable.
std::string LocalInputProblem(const std::string& path);

// Cuts a PCM WAV file after that many seconds of audio; false when it was no longer or is not
// a WAV file.
bool TrimWav(const std::string& path, double seconds);

// An error code of the graph in words; no Windows numbers.
std::string GraphErrorText(long code);

}  // namespace quil::grab
