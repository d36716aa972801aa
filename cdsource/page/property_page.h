#pragma once

// The property page protocol between a page and the frame that shows it, with the platform's
// identifiers and method order. Pages here are Qt widgets; a frame of ours reaches the widget
// through IPropertyPageWidget.

#include "platform/com/unknown.h"
#include "platform/graph/media_types.h"
#include "platform/window/window.h"

class QWidget;

struct SIZE {
    LONG cx, cy;
};

struct PROPPAGEINFO {
    ULONG cb;
    LPWSTR pszTitle;  // CoTaskMemAlloc
    SIZE size;
    LPWSTR pszDocString;
    LPWSTR pszHelpFile;
    DWORD dwHelpContext;
};

constexpr DWORD PROPPAGESTATUS_DIRTY = 0x01;
constexpr DWORD PROPPAGESTATUS_VALIDATE = 0x02;
constexpr UINT SW_HIDE = 0;
constexpr UINT SW_SHOW = 5;

struct IPropertyPageSite : IUnknown {
    static constexpr GUID kIid = quil::Guid("{B196B28C-BAB4-101A-B69C-00AA00341D07}");
    using Base = IUnknown;
    virtual HRESULT OnStatusChange(DWORD flags) = 0;
    virtual HRESULT GetLocaleID(DWORD* locale) = 0;
    virtual HRESULT GetPageContainer(IUnknown** container) = 0;
    virtual HRESULT TranslateAccelerator(void* message) = 0;

protected:
    ~IPropertyPageSite() = default;
};

struct IPropertyPage : IUnknown {
    static constexpr GUID kIid = quil::Guid("{B196B28D-BAB4-101A-B69C-00AA00341D07}");
    using Base = IUnknown;
    virtual HRESULT SetPageSite(IPropertyPageSite* site) = 0;
    virtual HRESULT Activate(HWND parent, const RECT* rect, BOOL modal) = 0;
    virtual HRESULT Deactivate() = 0;
    virtual HRESULT GetPageInfo(PROPPAGEINFO* info) = 0;
    virtual HRESULT SetObjects(ULONG count, IUnknown** objects) = 0;
    virtual HRESULT Show(UINT command) = 0;
    virtual HRESULT Move(const RECT* rect) = 0;
    virtual HRESULT IsPageDirty() = 0;
    virtual HRESULT Apply() = 0;
    virtual HRESULT Help(LPCWSTR helpDir) = 0;
    virtual HRESULT TranslateAccelerator(void* message) = 0;

protected:
    ~IPropertyPage() = default;
};

// The page's widget, made by Activate; a frame of ours puts it into its own window.
struct IPropertyPageWidget : IUnknown {
    static constexpr GUID kIid = quil::Guid("{9C7E41D2-3B85-4A0F-B6E1-58D2A0C47F39}");
    using Base = IUnknown;
    virtual QWidget* Widget() = 0;

protected:
    ~IPropertyPageWidget() = default;
};
