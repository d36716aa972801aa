#pragma once

// For tests that look inside a CD grabber's graph; not part of the library's table.

#include "engine/cd/cd_audio_grabber.h"
#include "platform/graph/interfaces.h"

namespace quil::engine {

// The grabber's filter graph (no reference added); null before CreateGraph.
IGraphBuilder* GraphOf(CDAudioGrabber* grabber);

}  // namespace quil::engine
