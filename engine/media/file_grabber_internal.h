#pragma once

// For tests that look inside a media-file grabber's graph; not part of the library's table.

#include "engine/media/file_audio_grabber.h"
#include "platform/graph/interfaces.h"

namespace quil::engine {

// The grabber's filter graph (no reference added); null before Open.
IGraphBuilder* GraphOf(FileAudioGrabber* grabber);

}  // namespace quil::engine
