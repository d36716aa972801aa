#pragma once

// The filter graph: owns its filters, builds connections (direct, or with a converter or
// decoder in between), runs and stops them in the right order, collects their events and
// answers position, seeking and video-window calls for the application.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/graph/interfaces.h"

namespace quil {

class FilterGraph : public ComImpl<IGraphBuilder, IMediaControl, IMediaEventEx, IMediaEventSink,
                                   IMediaPosition, IObjectWithSite, IVideoWindow, IBasicVideo> {
public:
    FilterGraph();
    ~FilterGraph() override;

    // IFilterGraph / IGraphBuilder
    HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
    HRESULT RemoveFilter(IBaseFilter* filter) override;
    HRESULT EnumFilters(IEnumFilters** filters) override;
    HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
    HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) override;
    HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin* pin) override;
    HRESULT SetDefaultSyncSource() override;
    HRESULT Connect(IPin* out, IPin* in) override;
    HRESULT Render(IPin* out) override;
    HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) override;
    HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter** filter) override;
    HRESULT SetLogFile(uintptr_t) override { return S_OK; }
    // Callable from any thread: the source being loaded gives up, and so does the build
    // operation in progress, or the next one when none is.
    HRESULT Abort() override;
    HRESULT ShouldOperationContinue() override;

    // IMediaControl
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG timeoutMs, OAFilterState* state) override;
    HRESULT RenderFile(LPCWSTR file) override { return RenderFile(file, nullptr); }
    HRESULT StopWhenReady() override { return Stop(); }

    // IMediaEventEx
    HRESULT GetEventHandle(OAEVENT*) override { return E_NOTIMPL; }
    HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) override;
    HRESULT WaitForCompletion(LONG timeoutMs, LONG* code) override;
    HRESULT CancelDefaultHandling(LONG) override { return S_OK; }
    HRESULT RestoreDefaultHandling(LONG) override { return S_OK; }
    HRESULT FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }
    HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) override;
    HRESULT SetNotifyFlags(LONG flags) override;
    HRESULT GetNotifyFlags(LONG* flags) override;

    // IMediaEventSink
    HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override;

    // IMediaPosition (seconds)
    HRESULT get_Duration(REFTIME* length) override;
    HRESULT put_CurrentPosition(REFTIME time) override;
    HRESULT get_CurrentPosition(REFTIME* time) override;
    HRESULT get_StopTime(REFTIME* time) override;
    HRESULT put_StopTime(REFTIME) override { return E_NOTIMPL; }
    HRESULT get_PrerollTime(REFTIME* time) override;
    HRESULT put_PrerollTime(REFTIME) override { return E_NOTIMPL; }
    HRESULT put_Rate(double rate) override;
    HRESULT get_Rate(double* rate) override;
    HRESULT CanSeekForward(LONG* can) override;
    HRESULT CanSeekBackward(LONG* can) override;

    // IObjectWithSite
    HRESULT SetSite(IUnknown* site) override;
    HRESULT GetSite(REFIID iid, void** site) override;

    // IVideoWindow and IBasicVideo go to the first filter in the graph that offers them.
    HRESULT put_WindowStyle(LONG style) override;
    HRESULT get_WindowStyle(LONG* style) override;
    HRESULT put_WindowStyleEx(LONG style) override;
    HRESULT get_WindowStyleEx(LONG* style) override;
    HRESULT put_AutoShow(LONG autoShow) override;
    HRESULT get_AutoShow(LONG* autoShow) override;
    HRESULT put_WindowState(LONG state) override;
    HRESULT get_WindowState(LONG* state) override;
    HRESULT put_Visible(LONG visible) override;
    HRESULT get_Visible(LONG* visible) override;
    HRESULT put_Owner(OAHWND owner) override;
    HRESULT get_Owner(OAHWND* owner) override;
    HRESULT put_MessageDrain(OAHWND drain) override;
    HRESULT get_MessageDrain(OAHWND* drain) override;
    HRESULT SetWindowForeground(LONG focus) override;
    HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
    HRESULT get_VideoWidth(LONG* width) override;
    HRESULT get_VideoHeight(LONG* height) override;

private:
    // Loads the source through its IFileSourceFilter, abortable by Abort.
    HRESULT LoadSource(IBaseFilter* source, LPCWSTR file);

    struct Entry {
        ComPtr<IBaseFilter> filter;
        std::wstring name;
    };
    struct Event {
        LONG code;
        LONG_PTR param1, param2;
    };

    std::vector<ComPtr<IBaseFilter>> Filters();
    // Filters ordered so that every filter comes before the filters feeding it.
    std::vector<ComPtr<IBaseFilter>> DownstreamFirst();
    HRESULT ConnectVia(IPin* out, IPin* in, int depth);
    HRESULT StopFilters();
    void QueueEvent(const Event& event);
    template <class I>
    ComPtr<I> FindFilterInterface();
    REFERENCE_TIME StreamPosition();
    void ResetPositionTracking();
    std::wstring UniqueName(const std::wstring& wanted);

    std::recursive_mutex mutex_;  // graph building and state changes
    std::vector<Entry> entries_;
    FILTER_STATE state_ = State_Stopped;
    ComPtr<IReferenceClock> clock_;
    bool clockChosen_ = false;
    REFERENCE_TIME runStart_ = 0;        // clock time at which stream time 0 is
    REFERENCE_TIME pausedAt_ = 0;        // stream time when paused
    REFERENCE_TIME segmentStart_ = 0;    // media time of stream time 0 after the last seek
    ComPtr<IUnknown> site_;

    std::mutex eventMutex_;
    std::condition_variable eventArrived_;
    std::deque<Event> events_;
    HWND notifyWindow_ = nullptr;
    LONG notifyMessage_ = 0;
    LONG_PTR notifyInstance_ = 0;
    LONG notifyFlags_ = 0;
    int renderersRunning_ = 0;
    int completesSeen_ = 0;
    bool abortSeen_ = false;
    std::mutex abortMutex_;
    bool abortRequested_ = false;      // guarded by abortMutex_
    ComPtr<IAMOpenProgress> loading_;  // guarded by abortMutex_
};

}  // namespace quil
