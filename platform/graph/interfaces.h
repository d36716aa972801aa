#pragma once

// The filter-graph interfaces, with DirectShow's identifiers, meanings and method order. Only
// the methods the program and its filters use are declared.

#include "platform/graph/media_types.h"
#include "platform/window/window.h"

struct IBaseFilter;
struct IFilterGraph;
struct IPin;
struct IReferenceClock;
struct IEnumPins;
struct IEnumFilters;
struct IEnumMediaTypes;
struct IMediaSample;

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
using OAFilterState = LONG;
using OAHWND = LONG_PTR;
using OAEVENT = LONG_PTR;

constexpr size_t MAX_PIN_NAME = 128;
constexpr size_t MAX_FILTER_NAME = 128;

struct PIN_INFO {
    IBaseFilter* pFilter;  // holds a reference
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};
struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph;  // holds a reference
};
struct ALLOCATOR_PROPERTIES {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
};

// Graph-specific result codes.
constexpr HRESULT VFW_S_NO_MORE_ITEMS = 0x00040103;
constexpr HRESULT VFW_S_DUPLICATE_NAME = 0x0004022D;
constexpr HRESULT VFW_S_PARTIAL_RENDER = 0x00040242;
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeHresult(0x80040200);
constexpr HRESULT VFW_E_NO_ALLOCATOR = MakeHresult(0x8004020A);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeHresult(0x80040204);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeHresult(0x80040207);
constexpr HRESULT VFW_E_INVALID_DIRECTION = MakeHresult(0x80040208);
constexpr HRESULT VFW_E_NOT_CONNECTED = MakeHresult(0x80040209);
constexpr HRESULT VFW_E_NOT_COMMITTED = MakeHresult(0x80040211);
constexpr HRESULT VFW_E_SIZENOTSET = MakeHresult(0x80040212);
constexpr HRESULT VFW_E_NO_CLOCK = MakeHresult(0x80040213);
constexpr HRESULT VFW_E_NOT_FOUND = MakeHresult(0x80040216);
constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeHresult(0x80040217);
constexpr HRESULT VFW_E_CANNOT_RENDER = MakeHresult(0x80040218);
constexpr HRESULT VFW_E_NOT_STOPPED = MakeHresult(0x80040224);
constexpr HRESULT VFW_E_WRONG_STATE = MakeHresult(0x80040227);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeHresult(0x8004022A);
constexpr HRESULT VFW_E_TIMEOUT = MakeHresult(0x8004022E);
constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = MakeHresult(0x80040240);
constexpr HRESULT VFW_E_INVALID_FILE_FORMAT = MakeHresult(0x80040241);
constexpr HRESULT VFW_E_NO_AUDIO_HARDWARE = MakeHresult(0x80040256);
constexpr HRESULT VFW_E_NOT_IN_GRAPH = MakeHresult(0x8004025F);

// Event codes.
constexpr LONG EC_COMPLETE = 0x01;
constexpr LONG EC_USERABORT = 0x02;
constexpr LONG EC_ERRORABORT = 0x03;
constexpr LONG EC_DEVICE_LOST = 0x1F;

struct IPersist : IUnknown {
    static constexpr GUID kIid = quil::Guid("{0000010C-0000-0000-C000-000000000046}");
    using Base = IUnknown;
    virtual HRESULT GetClassID(CLSID* clsid) = 0;

protected:
    ~IPersist() = default;
};

struct IReferenceClock : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A86897-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    // Current time in 100-ns units.
    virtual HRESULT GetTime(REFERENCE_TIME* time) = 0;

protected:
    ~IReferenceClock() = default;
};

struct IMediaFilter : IPersist {
    static constexpr GUID kIid = quil::Guid("{56A86899-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IPersist;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) = 0;
    virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
    virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;

protected:
    ~IMediaFilter() = default;
};

struct IBaseFilter : IMediaFilter {
    static constexpr GUID kIid = quil::Guid("{56A86895-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IMediaFilter;
    virtual HRESULT EnumPins(IEnumPins** pins) = 0;
    virtual HRESULT FindPin(LPCWSTR id, IPin** pin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
    virtual HRESULT QueryVendorInfo(LPWSTR* info) = 0;

protected:
    ~IBaseFilter() = default;
};

struct IEnumPins : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A86892-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins** copy) = 0;

protected:
    ~IEnumPins() = default;
};

struct IEnumFilters : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A86893-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFilters** copy) = 0;

protected:
    ~IEnumFilters() = default;
};

struct IEnumMediaTypes : IUnknown {
    static constexpr GUID kIid = quil::Guid("{89C31040-846B-11CE-97D3-00AA0055595A}");
    using Base = IUnknown;
    // Each type is allocated with CoTaskMemAlloc; free it with DeleteMediaType.
    virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes** copy) = 0;

protected:
    ~IEnumMediaTypes() = default;
};

struct IPin : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A86891-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** pin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* direction) = 0;
    virtual HRESULT QueryId(LPWSTR* id) = 0;
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** types) = 0;
    virtual HRESULT QueryInternalConnections(IPin** pins, ULONG* count) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;

protected:
    ~IPin() = default;
};

struct IMediaSample : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A8689A-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT GetPointer(BYTE** buffer) = 0;
    virtual LONG GetSize() = 0;
    virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    virtual HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    virtual HRESULT IsSyncPoint() = 0;
    virtual HRESULT SetSyncPoint(BOOL sync) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(BOOL preroll) = 0;
    virtual LONG GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(LONG length) = 0;
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE** type) = 0;
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(BOOL discontinuity) = 0;

protected:
    ~IMediaSample() = default;
};

struct IMemAllocator : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A8689C-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) = 0;
    virtual HRESULT Commit() = 0;
    virtual HRESULT Decommit() = 0;
    // Blocks until a buffer is free; VFW_E_NOT_COMMITTED once decommitted.
    virtual HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                              DWORD flags) = 0;
    virtual HRESULT ReleaseBuffer(IMediaSample* sample) = 0;

protected:
    ~IMemAllocator() = default;
};

struct IMemInputPin : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A8689D-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;
    virtual HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) = 0;
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) = 0;
    virtual HRESULT Receive(IMediaSample* sample) = 0;
    virtual HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) = 0;
    virtual HRESULT ReceiveCanBlock() = 0;

protected:
    ~IMemInputPin() = default;
};

struct IFilterGraph : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A8689F-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** filters) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) = 0;
    virtual HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT Reconnect(IPin* pin) = 0;
    virtual HRESULT Disconnect(IPin* pin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;

protected:
    ~IFilterGraph() = default;
};

struct IGraphBuilder : IFilterGraph {
    static constexpr GUID kIid = quil::Guid("{56A868A9-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IFilterGraph;
    virtual HRESULT Connect(IPin* out, IPin* in) = 0;
    virtual HRESULT Render(IPin* out) = 0;
    virtual HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) = 0;
    virtual HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR name, IBaseFilter** filter) = 0;
    virtual HRESULT SetLogFile(uintptr_t file) = 0;
    virtual HRESULT Abort() = 0;
    virtual HRESULT ShouldOperationContinue() = 0;

protected:
    ~IGraphBuilder() = default;
};

struct IMediaControl : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A868B1-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(LONG timeoutMs, OAFilterState* state) = 0;
    virtual HRESULT RenderFile(LPCWSTR file) = 0;
    virtual HRESULT StopWhenReady() = 0;

protected:
    ~IMediaControl() = default;
};

struct IMediaEvent : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A868B6-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT GetEventHandle(OAEVENT* handle) = 0;
    // Waits at most timeoutMs (0: do not wait; negative: for ever); E_ABORT when none arrived.
    virtual HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) = 0;
    virtual HRESULT WaitForCompletion(LONG timeoutMs, LONG* code) = 0;
    virtual HRESULT CancelDefaultHandling(LONG code) = 0;
    virtual HRESULT RestoreDefaultHandling(LONG code) = 0;
    virtual HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;

protected:
    ~IMediaEvent() = default;
};

struct IMediaEventEx : IMediaEvent {
    static constexpr GUID kIid = quil::Guid("{56A868C0-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IMediaEvent;
    // Posts message to window (lParam = instance) whenever an event is queued.
    virtual HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instance) = 0;
    virtual HRESULT SetNotifyFlags(LONG flags) = 0;
    virtual HRESULT GetNotifyFlags(LONG* flags) = 0;

protected:
    ~IMediaEventEx() = default;
};

// How filters report events to the graph.
struct IMediaEventSink : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A868A2-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;

protected:
    ~IMediaEventSink() = default;
};

struct IMediaPosition : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A868B2-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT get_Duration(REFTIME* length) = 0;
    virtual HRESULT put_CurrentPosition(REFTIME time) = 0;
    virtual HRESULT get_CurrentPosition(REFTIME* time) = 0;
    virtual HRESULT get_StopTime(REFTIME* time) = 0;
    virtual HRESULT put_StopTime(REFTIME time) = 0;
    virtual HRESULT get_PrerollTime(REFTIME* time) = 0;
    virtual HRESULT put_PrerollTime(REFTIME time) = 0;
    virtual HRESULT put_Rate(double rate) = 0;
    virtual HRESULT get_Rate(double* rate) = 0;
    virtual HRESULT CanSeekForward(LONG* can) = 0;
    virtual HRESULT CanSeekBackward(LONG* can) = 0;

protected:
    ~IMediaPosition() = default;
};

constexpr DWORD AM_SEEKING_NoPositioning = 0;
constexpr DWORD AM_SEEKING_AbsolutePositioning = 1;

// What a seekable source offers the graph (times in 100-ns units).
struct IMediaSeeking : IUnknown {
    static constexpr GUID kIid = quil::Guid("{36B73880-C2C8-11CF-8B46-00805F6CEF60}");
    using Base = IUnknown;
    virtual HRESULT GetCapabilities(DWORD* capabilities) = 0;
    virtual HRESULT GetDuration(LONGLONG* duration) = 0;
    virtual HRESULT GetCurrentPosition(LONGLONG* position) = 0;
    virtual HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                 DWORD stopFlags) = 0;
    virtual HRESULT SetRate(double rate) = 0;
    virtual HRESULT GetRate(double* rate) = 0;

protected:
    ~IMediaSeeking() = default;
};

struct IObjectWithSite : IUnknown {
    static constexpr GUID kIid = quil::Guid("{FC4801A3-2BA9-11CF-A229-00AA003D7352}");
    using Base = IUnknown;
    virtual HRESULT SetSite(IUnknown* site) = 0;
    virtual HRESULT GetSite(REFIID iid, void** site) = 0;

protected:
    ~IObjectWithSite() = default;
};

struct IServiceProvider : IUnknown {
    static constexpr GUID kIid = quil::Guid("{6D5140C1-7436-11CE-8034-00AA006009FA}");
    using Base = IUnknown;
    virtual HRESULT QueryService(REFGUID service, REFIID iid, void** out) = 0;

protected:
    ~IServiceProvider() = default;
};

// Marks filters that end a stream: the graph waits for EC_COMPLETE from each of them.
constexpr ULONG AM_FILTER_MISC_FLAGS_IS_RENDERER = 1;
constexpr ULONG AM_FILTER_MISC_FLAGS_IS_SOURCE = 2;
struct IAMFilterMiscFlags : IUnknown {
    static constexpr GUID kIid = quil::Guid("{2DD74950-A890-11D1-ABE8-00A0C905F375}");
    using Base = IUnknown;
    virtual ULONG GetMiscFlags() = 0;

protected:
    ~IAMFilterMiscFlags() = default;
};

constexpr GUID PIN_CATEGORY_CAPTURE = quil::Guid("{FB6C4281-0353-11D1-905F-0000C0CC16BA}");
constexpr GUID PIN_CATEGORY_PREVIEW = quil::Guid("{FB6C4282-0353-11D1-905F-0000C0CC16BA}");
constexpr GUID LOOK_UPSTREAM_ONLY = quil::Guid("{AC798BE0-98E3-11D1-B3F1-00AA003761C5}");
constexpr GUID LOOK_DOWNSTREAM_ONLY = quil::Guid("{AC798BE1-98E3-11D1-B3F1-00AA003761C5}");

// A pin's category (capture, preview); stands in for the kernel-streaming property of Windows.
struct IPinCategory : IUnknown {
    static constexpr GUID kIid = quil::Guid("{9B6A5E27-3A1D-4C63-8F0E-5C2B7D14A903}");
    using Base = IUnknown;
    virtual HRESULT GetCategory(GUID* category) = 0;

protected:
    ~IPinCategory() = default;
};

struct ICaptureGraphBuilder2 : IUnknown {
    static constexpr GUID kIid = quil::Guid("{93E5A4E0-2D50-11D2-ABFA-00A0C9C6E38D}");
    using Base = IUnknown;
    virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
    virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
    virtual HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                                  REFIID iid, void** out) = 0;
    virtual HRESULT FindPin(IUnknown* source, PIN_DIRECTION direction, const GUID* category,
                            const GUID* type, BOOL unconnected, int index, IPin** pin) = 0;

protected:
    ~ICaptureGraphBuilder2() = default;
};

struct IAMBufferNegotiation : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56ED71A0-AF5F-11D0-B3F0-00AA003761C5}");
    using Base = IUnknown;
    virtual HRESULT SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* props) = 0;
    virtual HRESULT GetAllocatorProperties(ALLOCATOR_PROPERTIES* props) = 0;

protected:
    ~IAMBufferNegotiation() = default;
};

struct IAMStreamConfig : IUnknown {
    static constexpr GUID kIid = quil::Guid("{C6E13340-30AC-11D0-A18C-00A0C9118956}");
    using Base = IUnknown;
    virtual HRESULT SetFormat(AM_MEDIA_TYPE* type) = 0;
    // The type is allocated with CoTaskMemAlloc; free it with DeleteMediaType.
    virtual HRESULT GetFormat(AM_MEDIA_TYPE** type) = 0;
    virtual HRESULT GetNumberOfCapabilities(int* count, int* size) = 0;
    virtual HRESULT GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) = 0;

protected:
    ~IAMStreamConfig() = default;
};

struct IFileSinkFilter : IUnknown {
    static constexpr GUID kIid = quil::Guid("{A2104830-7C70-11CF-8BCE-00AA00A3F1A6}");
    using Base = IUnknown;
    virtual HRESULT SetFileName(LPCWSTR file, const AM_MEDIA_TYPE* type) = 0;
    // The name is allocated with CoTaskMemAlloc.
    virtual HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* type) = 0;

protected:
    ~IFileSinkFilter() = default;
};

constexpr DWORD AM_FILE_OVERWRITE = 1;
struct IFileSinkFilter2 : IFileSinkFilter {
    static constexpr GUID kIid = quil::Guid("{00855B90-CE1B-11D0-BD4F-00A0C911CE86}");
    using Base = IFileSinkFilter;
    virtual HRESULT SetMode(DWORD flags) = 0;
    virtual HRESULT GetMode(DWORD* flags) = 0;

protected:
    ~IFileSinkFilter2() = default;
};

struct IFileSourceFilter : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A868A6-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT Load(LPCWSTR file, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT GetCurFile(LPWSTR* file, AM_MEDIA_TYPE* type) = 0;

protected:
    ~IFileSourceFilter() = default;
};

// Offered by sources whose Load can take long (network streams); AbortOperation is callable
// from any thread and makes a Load in progress, or the next one, give up with E_ABORT.
struct IAMOpenProgress : IUnknown {
    static constexpr GUID kIid = quil::Guid("{8E1C39A1-DE53-11CF-AA63-0080C744528D}");
    using Base = IUnknown;
    virtual HRESULT QueryProgress(LONGLONG* total, LONGLONG* current) = 0;
    virtual HRESULT AbortOperation() = 0;

protected:
    ~IAMOpenProgress() = default;
};

struct ISampleGrabberCB : IUnknown {
    static constexpr GUID kIid = quil::Guid("{0579154A-2B53-4994-B0D0-E773148EFF85}");
    using Base = IUnknown;
    virtual HRESULT SampleCB(double time, IMediaSample* sample) = 0;
    virtual HRESULT BufferCB(double time, BYTE* buffer, LONG length) = 0;

protected:
    ~ISampleGrabberCB() = default;
};

struct ISampleGrabber : IUnknown {
    static constexpr GUID kIid = quil::Guid("{6B652FFF-11FE-4FCE-92AD-0266B5D7C78F}");
    using Base = IUnknown;
    virtual HRESULT SetOneShot(BOOL oneShot) = 0;
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT SetBufferSamples(BOOL buffer) = 0;
    // With a null buffer writes the size in bytes; else copies at most *size bytes.
    virtual HRESULT GetCurrentBuffer(LONG* size, LONG* buffer) = 0;
    virtual HRESULT GetCurrentSample(IMediaSample** sample) = 0;
    virtual HRESULT SetCallback(ISampleGrabberCB* callback, LONG which) = 0;

protected:
    ~ISampleGrabber() = default;
};

// The part of VARIANT the program uses.
constexpr WORD VT_EMPTY = 0;
constexpr WORD VT_I4 = 3;
constexpr WORD VT_R4 = 4;
constexpr WORD VT_BSTR = 8;
struct VARIANT {
    WORD vt;
    WORD reserved1, reserved2, reserved3;
    union {
        LONG lVal;
        float fltVal;
        double dblVal;
        wchar_t* bstrVal;  // SysAllocString
        LONGLONG llVal;
    };
};
void VariantInit(VARIANT* value);
void VariantClear(VARIANT* value);
wchar_t* SysAllocString(const wchar_t* text);
void SysFreeString(wchar_t* text);

struct IPropertyBag : IUnknown {
    static constexpr GUID kIid = quil::Guid("{55272A00-42CB-11CE-8135-00AA004BB851}");
    using Base = IUnknown;
    virtual HRESULT Read(LPCWSTR name, VARIANT* value, IUnknown* errorLog) = 0;
    virtual HRESULT Write(LPCWSTR name, VARIANT* value) = 0;

protected:
    ~IPropertyBag() = default;
};

struct CAUUID {
    ULONG cElems;
    GUID* pElems;  // CoTaskMemAlloc
};
struct ISpecifyPropertyPages : IUnknown {
    static constexpr GUID kIid = quil::Guid("{B196B28B-BAB4-101A-B69C-00AA00341D07}");
    using Base = IUnknown;
    virtual HRESULT GetPages(CAUUID* pages) = 0;

protected:
    ~ISpecifyPropertyPages() = default;
};

struct IVideoWindow : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A868B4-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT put_WindowStyle(LONG style) = 0;
    virtual HRESULT get_WindowStyle(LONG* style) = 0;
    virtual HRESULT put_WindowStyleEx(LONG style) = 0;
    virtual HRESULT get_WindowStyleEx(LONG* style) = 0;
    virtual HRESULT put_AutoShow(LONG autoShow) = 0;
    virtual HRESULT get_AutoShow(LONG* autoShow) = 0;
    virtual HRESULT put_WindowState(LONG state) = 0;
    virtual HRESULT get_WindowState(LONG* state) = 0;
    virtual HRESULT put_Visible(LONG visible) = 0;
    virtual HRESULT get_Visible(LONG* visible) = 0;
    virtual HRESULT put_Owner(OAHWND owner) = 0;
    virtual HRESULT get_Owner(OAHWND* owner) = 0;
    virtual HRESULT put_MessageDrain(OAHWND drain) = 0;
    virtual HRESULT get_MessageDrain(OAHWND* drain) = 0;
    virtual HRESULT SetWindowForeground(LONG focus) = 0;
    virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetWindowPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;

protected:
    ~IVideoWindow() = default;
};

struct IBasicVideo : IUnknown {
    static constexpr GUID kIid = quil::Guid("{56A868B5-0AD4-11CE-B03A-0020AF0BA770}");
    using Base = IUnknown;
    virtual HRESULT get_VideoWidth(LONG* width) = 0;
    virtual HRESULT get_VideoHeight(LONG* height) = 0;

protected:
    ~IBasicVideo() = default;
};

struct IAMAudioInputMixer : IUnknown {
    static constexpr GUID kIid = quil::Guid("{54C39221-8380-11D0-B3F0-00AA003761C5}");
    using Base = IUnknown;
    virtual HRESULT put_Enable(BOOL enable) = 0;
    virtual HRESULT get_Enable(BOOL* enable) = 0;
    virtual HRESULT put_Mono(BOOL mono) = 0;
    virtual HRESULT get_Mono(BOOL* mono) = 0;
    virtual HRESULT put_MixLevel(double level) = 0;
    virtual HRESULT get_MixLevel(double* level) = 0;

protected:
    ~IAMAudioInputMixer() = default;
};

// Class identifiers of the graph objects.
constexpr CLSID CLSID_FilterGraph = quil::Guid("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");
constexpr CLSID CLSID_CaptureGraphBuilder2 = quil::Guid("{BF87B6E1-8C27-11D0-B3F0-00AA003761C5}");

constexpr HRESULT VFW_S_NO_STOP_TIME = 0x00040270;
constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MakeHresult(0x8004020D);
constexpr HRESULT VFW_E_BADALIGN = MakeHresult(0x8004020E);
constexpr HRESULT VFW_E_ALREADY_COMMITTED = MakeHresult(0x8004020F);
constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = MakeHresult(0x80040210);
constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MakeHresult(0x80040249);
constexpr HRESULT VFW_E_SAMPLE_REJECTED_EOS = MakeHresult(0x8004022B);
