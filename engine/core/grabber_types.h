#pragma once

// Types shared by the grabber libraries and the main program.

#include <climits>
#include <cstdint>

#include "platform/graph/media_types.h"

namespace quil::engine {

enum GrabberState : int { kNoGraph = 0, kRunning = 1, kPaused = 2, kStopped = 3 };

enum OutputFormat : int { kWav = 0, kMp3 = 1, kWma = 2, kOgg = 3 };

// What GetProfileInfo fills: six 32-bit fields in this order.
struct WmaProfileInfo {
    int32_t reserved;
    int32_t audioOnly;
    int32_t nameLength;         // bytes, without terminator
    char* name;                 // may be null
    int32_t descriptionLength;  // bytes, without terminator
    char* description;          // may be null
};

// File paths, terminator included: longer ones are refused, never cut.
constexpr int kPathBytes = PATH_MAX;
// Profile names and other texts of the fixed interfaces keep the old 260-byte buffers.
constexpr int kNameBytes = 260;

}  // namespace quil::engine
