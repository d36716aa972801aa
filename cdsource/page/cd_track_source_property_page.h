#pragma once

// CdTrackSourcePropertyPage: picks the drive and track of a CD track source, moves the tray and
// sets the sectors read per request. Every change acts on the filter at once.

#include <QWidget>
#include <functional>

#include "cdsource/cd_interfaces.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quil::cdsource {

inline constexpr char kPageTitle[] = "Ostrel Sectorreel";

class CdTrackSourcePropertyPage : public QWidget {
    Q_OBJECT

public:
    // Shows a modal message box; tests replace it.
    using ErrorBox =
        std::function<void(QWidget* parent, const QString& caption, const QString& text)>;

    explicit CdTrackSourcePropertyPage(QWidget* parent = nullptr);
    ~CdTrackSourcePropertyPage() override;

    // E_UNEXPECTED while a filter is held, E_NOINTERFACE for an object that is no CD source.
    HRESULT Connect(IUnknown* object);
    // E_UNEXPECTED when none is held.
    HRESULT Disconnect();
    // The dialog start: drive scan, read capability and sectors per read.
    void Activate();
    void Deactivate() { active_ = false; }
    bool IsActive() const { return active_; }

    void SetErrorBox(ErrorBox box) { errorBox_ = std::move(box); }

    QComboBox* drives() const { return drives_; }
    QComboBox* tracks() const { return tracks_; }
    QLabel* discKind() const { return discKind_; }
    QLineEdit* length() const { return length_; }
    QLineEdit* sectors() const { return sectors_; }
    QLabel* capability() const { return capability_; }
    QPushButton* ejectButton() const { return eject_; }
    QPushButton* closeButton() const { return close_; }

signals:
    // The user changed something (PROPPAGESTATUS_DIRTY towards the frame).
    void dirty();

private:
    void ScanDrives();
    void SelectDrive();
    void SelectTrack();
    void ApplySectors(const QString& text);
    void ShowError(const QString& text);

    ICdTrackSource* source_ = nullptr;  // one reference held while connected
    bool active_ = false;
    ErrorBox errorBox_;
    QGroupBox* group_;
    QLabel* discKind_;
    QComboBox* drives_;
    QComboBox* tracks_;
    QLineEdit* length_;
    QPushButton* eject_;
    QPushButton* close_;
    QLineEdit* sectors_;
    QLabel* capability_;
};

// The text of a DiscKind; "No Disk" for any value outside 0..6.
const char* DiscKindText(int kind);

}  // namespace quil::cdsource
