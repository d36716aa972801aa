#pragma once

// Our stand-in for the system's property frame: a dialog with one tab per property page that an
// object names through ISpecifyPropertyPages, with OK, Cancel and Apply.

#include <QDialog>
#include <memory>
#include <vector>

#include "cdsource/page/property_page.h"

class QPushButton;
class QTabWidget;

namespace quil::cdsource {

class PropertyFrame : public QDialog {
    Q_OBJECT

public:
    PropertyFrame(QWidget* owner, const QString& caption, IUnknown* object);
    ~PropertyFrame() override;

    // Pages that could be created and connected.
    int PageCount() const { return static_cast<int>(pages_.size()); }
    QTabWidget* tabs() const { return tabs_; }
    QPushButton* applyButton() const { return apply_; }

    void ApplyAll();

private:
    class Site;
    void ClosePages();

    QTabWidget* tabs_;
    QPushButton* apply_;
    ComPtr<IUnknown> object_;
    std::vector<ComPtr<IPropertyPage>> pages_;
    ComPtr<IPropertyPageSite> site_;
};

// Shows the frame modally; what exec() returns.
int ShowPropertyFrame(QWidget* owner, const QString& caption, IUnknown* object);

}  // namespace quil::cdsource
