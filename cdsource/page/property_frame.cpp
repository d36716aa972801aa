#include "cdsource/page/property_frame.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "platform/com/class_registry.h"
#include "platform/com/strings.h"
#include "platform/graph/interfaces.h"

namespace quil::cdsource {

// Enables Apply once a page reports a change.
class PropertyFrame::Site : public ComImpl<IPropertyPageSite> {
public:
    explicit Site(PropertyFrame* frame) : frame_(frame) {}
    HRESULT OnStatusChange(DWORD flags) override {
        if (frame_ && (flags & PROPPAGESTATUS_DIRTY)) frame_->apply_->setEnabled(true);
        return S_OK;
    }
    HRESULT GetLocaleID(DWORD* locale) override {
        if (!locale) return E_POINTER;
        *locale = 0x0409;
        return S_OK;
    }
    HRESULT GetPageContainer(IUnknown** container) override {
        if (container) *container = nullptr;
        return E_NOTIMPL;
    }
    HRESULT TranslateAccelerator(void*) override { return E_NOTIMPL; }
    void Detach() { frame_ = nullptr; }

private:
    PropertyFrame* frame_;
};

PropertyFrame::PropertyFrame(QWidget* owner, const QString& caption, IUnknown* object)
    : QDialog(owner), tabs_(new QTabWidget(this)), object_(object) {
    setWindowTitle(caption);
    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    apply_ = buttons->button(QDialogButtonBox::Apply);
    apply_->setEnabled(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        ApplyAll();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(apply_, &QPushButton::clicked, this, &PropertyFrame::ApplyAll);

    auto site = MakeCom<Site>(this);
    site_ = site;
    auto specify = QueryAs<ISpecifyPropertyPages>(object);
    CAUUID list{};
    if (!specify || FAILED(specify->GetPages(&list))) return;
    for (ULONG i = 0; i < list.cElems; ++i) {
        ComPtr<IPropertyPage> page;
        if (FAILED(CoCreateInstance(list.pElems[i], nullptr, CLSCTX_INPROC_SERVER,
                                    IID_PPV_ARGS(page.Put()))))
            continue;
        IUnknown* objects[] = {object};
        page->SetPageSite(site_.Get());
        if (FAILED(page->SetObjects(1, objects))) continue;
        auto widget = QueryAs<IPropertyPageWidget>(page.Get());
        if (!widget || !widget->Widget() || FAILED(page->Activate(nullptr, nullptr, TRUE))) {
            page->SetObjects(0, nullptr);
            continue;
        }
        PROPPAGEINFO info{};
        QString title;
        if (SUCCEEDED(page->GetPageInfo(&info)) && info.pszTitle) {
            title = QString::fromStdString(Narrow(info.pszTitle));
            CoTaskMemFree(info.pszTitle);
        }
        tabs_->addTab(widget->Widget(), title);
        widget->Widget()->show();
        pages_.push_back(page);
    }
    CoTaskMemFree(list.pElems);
}

PropertyFrame::~PropertyFrame() {
    ClosePages();
}

void PropertyFrame::ApplyAll() {
    for (auto& page : pages_) page->Apply();
    apply_->setEnabled(false);
}

void PropertyFrame::ClosePages() {
    static_cast<Site*>(site_.Get())->Detach();
    for (auto& page : pages_) {
        page->Deactivate();
        page->SetObjects(0, nullptr);
        page->SetPageSite(nullptr);
    }
    // The pages own their widgets; take them out of the tabs before the pages go.
    while (tabs_->count() > 0) {
        QWidget* widget = tabs_->widget(0);
        tabs_->removeTab(0);
        widget->setParent(nullptr);
    }
    pages_.clear();
}

int ShowPropertyFrame(QWidget* owner, const QString& caption, IUnknown* object) {
    PropertyFrame frame(owner, caption, object);
    return frame.exec();
}

}  // namespace quil::cdsource
