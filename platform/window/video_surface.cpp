#include "platform/window/video_surface.h"

#include <mutex>
#include <unordered_map>

namespace quil {

namespace {

struct SurfaceTable {
    std::mutex mutex;
    std::unordered_map<HWND, VideoSurface*> surfaces;
};

SurfaceTable& Surfaces() {
    static SurfaceTable* table = new SurfaceTable();
    return *table;
}

}  // namespace

void RegisterVideoSurface(HWND window, VideoSurface* surface) {
    auto& table = Surfaces();
    std::lock_guard lock(table.mutex);
    if (surface)
        table.surfaces[window] = surface;
    else
        table.surfaces.erase(window);
}

void UnregisterVideoSurface(HWND window) {
    auto& table = Surfaces();
    std::lock_guard lock(table.mutex);
    table.surfaces.erase(window);
}

bool PresentVideoFrame(HWND window, const uint8_t* rgb32, int width, int height, int stride,
                       REFERENCE_TIME time) {
    auto& table = Surfaces();
    // Held during the call, so unregistering waits for a frame being shown.
    std::lock_guard lock(table.mutex);
    auto it = table.surfaces.find(window);
    if (it == table.surfaces.end()) return false;
    it->second->PresentFrame(rgb32, width, height, stride, time);
    return true;
}

}  // namespace quil
