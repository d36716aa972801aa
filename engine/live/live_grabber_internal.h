#pragma once

// For tests and benchmarks that look inside a live grabber; not part of the library's table.

#include "engine/live/live_audio_grabber.h"

namespace quil::engine {

// The selected capture device and the graph (no reference added); null when there is none.
IBaseFilter* CaptureDeviceOf(LiveAudioGrabber* grabber);
IGraphBuilder* GraphOf(LiveAudioGrabber* grabber);

}  // namespace quil::engine
