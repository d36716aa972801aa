#pragma once

// Where the video renderer shows its frames: the window that owns the video provides a surface
// and registers it under its handle. The renderer looks the surface up by its owner handle for
// every frame, so an owner can come and go while a graph plays.

#include <cstdint>

#include "platform/com/types.h"
#include "platform/window/window.h"

namespace quil {

class VideoSurface {
public:
    virtual ~VideoSurface() = default;
    // Called on a streaming thread when the frame is due: rgb32 holds height rows of stride
    // bytes, top row first, each pixel as the bytes B, G, R, 255. The data is only valid during
    // the call; copy what is kept and return quickly. time is the frame's stream time in
    // 100-ns units.
    virtual void PresentFrame(const uint8_t* rgb32, int width, int height, int stride,
                              REFERENCE_TIME time) = 0;
};

// A window has at most one surface; registering again replaces it. After
// UnregisterVideoSurface returns, the surface is not called any more and may be destroyed.
void RegisterVideoSurface(HWND window, VideoSurface* surface);
void UnregisterVideoSurface(HWND window);

// Hands a frame to the surface of the window; false when it has none.
bool PresentVideoFrame(HWND window, const uint8_t* rgb32, int width, int height, int stride,
                       REFERENCE_TIME time);

}  // namespace quil
