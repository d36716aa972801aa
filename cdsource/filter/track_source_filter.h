#pragma once

// CdTrackSourceFilter: reads one track of an audio CD (or the audio of a DVD) as raw sectors
// through Sectorlink and pushes it as PCM through its single output pin "Wave Stream".

#include <atomic>

#include "platform/com/unknown.h"

namespace quil::cdsource {

// Live filters of this module, for DllCanUnloadNow.
extern std::atomic<long> g_moduleLocks;

HRESULT CreateCdTrackSourceFilter(REFIID iid, void** out);

// Raw sector timing: one sector lasts 133,084 units of 100 ns in the filter's time stamps.
inline constexpr int64_t kSectorDuration = 133084;
inline constexpr uint32_t kRawSectorBytes = 2352;
// Every read may wait this long for the drive.
inline constexpr uint32_t kReadTimeoutMs = 5000;
// Further attempts at a read that failed before its sectors count as unreadable.
inline constexpr int kReadRetries = 3;

}  // namespace quil::cdsource
