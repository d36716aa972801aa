// The property page class of trackpump (served through trackpump's DllGetClassObject, which
// forwards here) wrapped around the Qt page.

#include <QApplication>
#include <QPointer>
#include <atomic>
#include <cwchar>

#include "cdsource/cd_interfaces.h"
#include "cdsource/page/cd_track_source_property_page.h"
#include "cdsource/page/property_page.h"
#include "platform/com/class_registry.h"

namespace quil::cdsource {

namespace {

std::atomic<long> g_pageModuleLocks{0};

class PropertyPage : public ComImpl<IPropertyPage, IPropertyPageWidget> {
public:
    ~PropertyPage() override { delete widget_.data(); }

    HRESULT SetPageSite(IPropertyPageSite* site) override {
        site_ = ComPtr<IPropertyPageSite>(site);
        return S_OK;
    }
    HRESULT Activate(HWND, const RECT* rect, BOOL) override {
        if (!EnsureWidget()) return E_UNEXPECTED;
        if (rect) Move(rect);
        widget_->Activate();
        return S_OK;
    }
    HRESULT Deactivate() override {
        if (!widget_) return E_UNEXPECTED;
        widget_->Deactivate();
        widget_->hide();
        return S_OK;
    }
    HRESULT GetPageInfo(PROPPAGEINFO* info) override {
        if (!info) return E_POINTER;
        *info = PROPPAGEINFO{};
        info->cb = sizeof *info;
        std::wstring title = L"Ostrel Sectorreel";
        info->pszTitle = static_cast<LPWSTR>(CoTaskMemAlloc((title.size() + 1) * sizeof(WCHAR)));
        if (!info->pszTitle) return E_OUTOFMEMORY;
        std::wmemcpy(info->pszTitle, title.c_str(), title.size() + 1);
        if (EnsureWidget()) {
            QSize size = widget_->sizeHint();
            info->size = {size.width(), size.height()};
        }
        return S_OK;
    }
    HRESULT SetObjects(ULONG count, IUnknown** objects) override {
        if (!EnsureWidget()) return E_UNEXPECTED;
        if (count == 0) return widget_->Disconnect();
        if (!objects) return E_POINTER;
        return widget_->Connect(objects[0]);
    }
    HRESULT Show(UINT command) override {
        if (!widget_) return E_UNEXPECTED;
        widget_->setVisible(command != SW_HIDE);
        return S_OK;
    }
    HRESULT Move(const RECT* rect) override {
        if (!widget_) return E_UNEXPECTED;
        if (!rect) return E_POINTER;
        widget_->setGeometry(rect->left, rect->top, rect->right - rect->left,
                             rect->bottom - rect->top);
        return S_OK;
    }
    HRESULT IsPageDirty() override { return dirty_ ? S_OK : S_FALSE; }
    HRESULT Apply() override { return S_OK; }
    HRESULT Help(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT TranslateAccelerator(void*) override { return E_NOTIMPL; }

    QWidget* Widget() override { return EnsureWidget() ? widget_.data() : nullptr; }

private:
    // The widget needs the host's QApplication; without one the page cannot show.
    bool EnsureWidget() {
        if (widget_) return true;
        if (!QApplication::instance()) return false;
        widget_ = new CdTrackSourcePropertyPage();
        QObject::connect(widget_.data(), &CdTrackSourcePropertyPage::dirty, [this] {
            dirty_ = true;
            if (site_) site_->OnStatusChange(PROPPAGESTATUS_DIRTY);
        });
        return true;
    }

    ModuleLock lock_{g_pageModuleLocks};
    // A frame may take the widget into its own window, which then deletes it.
    QPointer<CdTrackSourcePropertyPage> widget_;
    ComPtr<IPropertyPageSite> site_;
    bool dirty_ = false;
};

class PageFactory : public ComImpl<IClassFactory> {
public:
    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return CreateObject<PropertyPage>(iid, out);
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock) {
            ++g_pageModuleLocks;
        } else {
            --g_pageModuleLocks;
        }
        return S_OK;
    }

private:
    ModuleLock lock_{g_pageModuleLocks};
};

}  // namespace

}  // namespace quil::cdsource

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                 void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!(clsid == CLSID_CdTrackSourcePropertyPage)) return CLASS_E_CLASSNOTAVAILABLE;
    return quil::CreateObject<quil::cdsource::PageFactory>(iid, out);
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
    return quil::cdsource::g_pageModuleLocks == 0 ? S_OK : S_FALSE;
}

}  // extern "C"
