// The video renderer: takes RGB32 frames, waits for each frame's time on the graph clock and
// hands it to the video surface of its owner window. Without an owner (or when the owner has
// no surface) frames are dropped in time, so the graph still plays at its pace. The window
// settings of IVideoWindow are kept for the owner to read; the owner draws the window.

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/filters/class_ids.h"
#include "platform/filters/filter_factories.h"
#include "platform/graph/sink_filter.h"
#include "platform/window/video_surface.h"

namespace quil::filters {

namespace {

constexpr LONG OATRUE = -1;
constexpr LONG OAFALSE = 0;
constexpr LONG SW_HIDE = 0;
constexpr LONG SW_SHOWNORMAL = 1;
constexpr LONG SW_MAX = 11;
// Styles a video window cannot take.
constexpr LONG kRefusedStyles = 0x08000000 /* WS_DISABLED */ | 0x20000000 /* WS_ICONIC */ |
                                0x01000000 /* WS_MAXIMIZE */ | 0x00100000 /* WS_HSCROLL */ |
                                0x00200000 /* WS_VSCROLL */;
constexpr LONG kDefaultStyle =
    0x06CF0000;  // WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN
constexpr int kMaxDimension = 16384;

class VideoRenderer : public SinkFilter, public IVideoWindow, public IBasicVideo {
public:
    VideoRenderer() : SinkFilter(CLSID_VideoRenderer, true, L"Input") {}
    QUIL_DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (InterfaceMatches<IVideoWindow>(iid)) return GetInterface<IVideoWindow>(this, out);
        if (InterfaceMatches<IBasicVideo>(iid)) return GetInterface<IBasicVideo>(this, out);
        return SinkFilter::NonDelegatingQueryInterface(iid, out);
    }

    HRESULT CheckMediaType(const MediaType& type) override {
        const VIDEOINFOHEADER* info = type.VideoInfo();
        if (type.majortype != MEDIATYPE_Video || type.subtype != MEDIASUBTYPE_RGB32 || !info)
            return S_FALSE;
        const BITMAPINFOHEADER& bitmap = info->bmiHeader;
        int height = std::abs(bitmap.biHeight);
        if (bitmap.biBitCount != 32 || bitmap.biCompression != 0 || bitmap.biWidth < 1 ||
            bitmap.biWidth > kMaxDimension || height < 1 || height > kMaxDimension)
            return S_FALSE;
        return S_OK;
    }

    HRESULT OnConnected() override {
        std::lock_guard lock(windowLock_);
        if (width_ == 0 && height_ == 0) {
            width_ = Width();
            height_ = Height();
        }
        return S_OK;
    }

    HRESULT RenderSample(IMediaSample* sample) override {
        HWND owner = reinterpret_cast<HWND>(owner_.load());
        if (!owner) return S_OK;
        int width = Width(), height = Height();
        int stride = width * 4;
        if (sample->GetActualDataLength() < stride * height) return S_OK;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        REFERENCE_TIME start = 0, stop = 0;
        sample->GetTime(&start, &stop);
        if (InputType().VideoInfo()->bmiHeader.biHeight > 0) {
            // Bottom-up rows: the surface wants the top row first.
            flipped_.resize(static_cast<size_t>(stride) * height);
            for (int row = 0; row < height; ++row)
                std::memcpy(flipped_.data() + static_cast<size_t>(row) * stride,
                            data + static_cast<size_t>(height - 1 - row) * stride,
                            static_cast<size_t>(stride));
            data = flipped_.data();
        }
        PresentVideoFrame(owner, data, width, height, stride, start);
        return S_OK;
    }

    // IVideoWindow
    HRESULT put_WindowStyle(LONG style) override {
        if (style & kRefusedStyles) return E_INVALIDARG;
        style_ = style;
        return S_OK;
    }
    HRESULT get_WindowStyle(LONG* style) override { return Read(style, style_); }
    HRESULT put_WindowStyleEx(LONG style) override {
        styleEx_ = style;
        return S_OK;
    }
    HRESULT get_WindowStyleEx(LONG* style) override { return Read(style, styleEx_); }
    HRESULT put_AutoShow(LONG autoShow) override {
        if (autoShow != OATRUE && autoShow != OAFALSE) return E_INVALIDARG;
        autoShow_ = autoShow;
        return S_OK;
    }
    HRESULT get_AutoShow(LONG* autoShow) override { return Read(autoShow, autoShow_); }
    HRESULT put_WindowState(LONG state) override {
        if (state < SW_HIDE || state > SW_MAX) return E_INVALIDARG;
        windowState_ = state;
        visible_ = state == SW_HIDE ? OAFALSE : OATRUE;
        return S_OK;
    }
    HRESULT get_WindowState(LONG* state) override { return Read(state, windowState_); }
    HRESULT put_Visible(LONG visible) override {
        if (visible != OATRUE && visible != OAFALSE) return E_INVALIDARG;
        visible_ = visible;
        windowState_ = visible == OATRUE ? SW_SHOWNORMAL : SW_HIDE;
        return S_OK;
    }
    HRESULT get_Visible(LONG* visible) override { return Read(visible, visible_); }
    HRESULT put_Owner(OAHWND owner) override {
        owner_ = owner;
        return S_OK;
    }
    HRESULT get_Owner(OAHWND* owner) override {
        if (!owner) return E_POINTER;
        *owner = owner_;
        return S_OK;
    }
    HRESULT put_MessageDrain(OAHWND drain) override {
        drain_ = drain;
        return S_OK;
    }
    HRESULT get_MessageDrain(OAHWND* drain) override {
        if (!drain) return E_POINTER;
        *drain = drain_;
        return S_OK;
    }
    HRESULT SetWindowForeground(LONG focus) override {
        return focus == OATRUE || focus == OAFALSE ? S_OK : E_INVALIDARG;
    }
    HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override {
        if (width < 0 || height < 0) return E_INVALIDARG;
        std::lock_guard lock(windowLock_);
        left_ = left;
        top_ = top;
        width_ = width;
        height_ = height;
        return S_OK;
    }
    HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override {
        if (!left || !top || !width || !height) return E_POINTER;
        std::lock_guard lock(windowLock_);
        *left = left_;
        *top = top_;
        *width = width_;
        *height = height_;
        return S_OK;
    }

    // IBasicVideo
    HRESULT get_VideoWidth(LONG* width) override {
        if (!width) return E_POINTER;
        if (!Input()->IsConnected()) return VFW_E_NOT_CONNECTED;
        *width = Width();
        return S_OK;
    }
    HRESULT get_VideoHeight(LONG* height) override {
        if (!height) return E_POINTER;
        if (!Input()->IsConnected()) return VFW_E_NOT_CONNECTED;
        *height = Height();
        return S_OK;
    }

private:
    static HRESULT Read(LONG* out, const std::atomic<LONG>& value) {
        if (!out) return E_POINTER;
        *out = value;
        return S_OK;
    }
    int Width() const {
        return InputType().VideoInfo() ? InputType().VideoInfo()->bmiHeader.biWidth : 0;
    }
    int Height() const {
        return InputType().VideoInfo() ? std::abs(InputType().VideoInfo()->bmiHeader.biHeight) : 0;
    }

    std::atomic<OAHWND> owner_{0};
    std::atomic<OAHWND> drain_{0};
    std::atomic<LONG> style_{kDefaultStyle};
    std::atomic<LONG> styleEx_{0};
    std::atomic<LONG> autoShow_{OATRUE};
    std::atomic<LONG> windowState_{SW_HIDE};
    std::atomic<LONG> visible_{OAFALSE};
    std::mutex windowLock_;
    LONG left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    std::vector<BYTE> flipped_;
};

}  // namespace

HRESULT CreateVideoRenderer(REFIID iid, void** out) {
    return CreateObject<VideoRenderer>(iid, out);
}

}  // namespace quil::filters
