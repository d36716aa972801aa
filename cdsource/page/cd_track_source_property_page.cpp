#include "cdsource/page/cd_track_source_property_page.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "platform/sectorlink/sectorlink.h"

namespace quil::cdsource {

namespace {

constexpr int kDriveTextChars = 31;
constexpr int kSectorsTextChars = 4;

// The value of the leading decimal digits; 0 when there are none.
uint32_t LeadingNumber(const QString& text) {
    uint32_t value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9') break;
        value = value * 10 + static_cast<uint32_t>(c.unicode() - u'0');
    }
    return value;
}

}  // namespace

const char* DiscKindText(int kind) {
    static const char* const kTexts[] = {"No Disk",   "Audio CD", "Data CD",  "Mixed CD",
                                         "Audio DVD", "Data DVD", "Mixed DVD"};
    return kind >= 0 && kind <= 6 ? kTexts[kind] : kTexts[0];
}

CdTrackSourcePropertyPage::CdTrackSourcePropertyPage(QWidget* parent)
    : QWidget(parent),
      errorBox_([](QWidget* owner, const QString& caption, const QString& text) {
          QMessageBox::critical(owner, caption, text);
      }),
      group_(new QGroupBox(QString::fromLatin1(kCdTrackSourceName), this)),
      discKind_(new QLabel(group_)),
      drives_(new QComboBox(group_)),
      tracks_(new QComboBox(group_)),
      length_(new QLineEdit(group_)),
      eject_(new QPushButton(QStringLiteral("Eject"), group_)),
      close_(new QPushButton(QStringLiteral("Close"), group_)),
      sectors_(new QLineEdit(group_)),
      capability_(new QLabel(group_)) {
    setWindowTitle(QString::fromLatin1(kPageTitle));
    length_->setReadOnly(true);
    sectors_->setMaxLength(kSectorsTextChars);

    auto* grid = new QGridLayout(group_);
    grid->addWidget(discKind_, 0, 0);
    grid->addWidget(drives_, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Track:"), group_), 1, 0);
    grid->addWidget(tracks_, 1, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Length:"), group_), 2, 0);
    grid->addWidget(length_, 2, 1, 1, 2);
    grid->addWidget(eject_, 1, 3);
    grid->addWidget(close_, 2, 3);
    grid->addWidget(new QLabel(QStringLiteral("ReadSetcor"), group_), 3, 0);
    grid->addWidget(sectors_, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("Sectors"), group_), 3, 2);
    grid->addWidget(new QLabel(QStringLiteral("Max Read Capability"), group_), 4, 0);
    grid->addWidget(capability_, 4, 1);
    grid->addWidget(new QLabel(QStringLiteral("Sectors"), group_), 4, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group_);

    connect(drives_, &QComboBox::currentIndexChanged, this, [this] {
        SelectDrive();
        emit dirty();
    });
    connect(tracks_, &QComboBox::currentIndexChanged, this, [this] {
        SelectTrack();
        emit dirty();
    });
    connect(eject_, &QPushButton::clicked, this, [this] {
        if (source_) source_->MoveDoor(1);
        emit dirty();
    });
    connect(close_, &QPushButton::clicked, this, [this] {
        if (source_) source_->MoveDoor(0);
        emit dirty();
    });
    connect(sectors_, &QLineEdit::textChanged, this, [this](const QString& text) {
        ApplySectors(text);
        emit dirty();
    });
}

CdTrackSourcePropertyPage::~CdTrackSourcePropertyPage() {
    if (source_) source_->Release();
}

HRESULT CdTrackSourcePropertyPage::Connect(IUnknown* object) {
    if (source_) return E_UNEXPECTED;
    if (!object) return E_POINTER;
    ICdTrackSource* source = nullptr;
    if (FAILED(
            object->QueryInterface(IidOf<ICdTrackSource>(), reinterpret_cast<void**>(&source))) ||
        !source)
        return E_NOINTERFACE;
    source_ = source;
    return S_OK;
}

HRESULT CdTrackSourcePropertyPage::Disconnect() {
    if (!source_) return E_UNEXPECTED;
    std::exchange(source_, nullptr)->Release();
    return S_OK;
}

void CdTrackSourcePropertyPage::Activate() {
    active_ = true;
    if (!source_) return;
    ScanDrives();
    int32_t capability = 0;
    source_->GetReadCapability(&capability);
    capability_->setText(QString::number(capability));
    uint32_t sectors = 0;
    source_->GetSectorsPerRead(&sectors);
    sectors_->setText(QString::number(sectors));
}

void CdTrackSourcePropertyPage::ScanDrives() {
    {
        const QSignalBlocker blocker(drives_);
        drives_->clear();
        for (char letter = 'D'; letter <= 'Z'; ++letter) {
            char root[] = {letter, ':', '\\', '\0'};
            if (GetDriveTypeA(root) != DRIVE_CDROM) continue;
            DriveHandle drive = OpenCdrom(letter);
            if (!drive) continue;
            CloseCdrom(drive);
            drives_->addItem(QString::fromLatin1(root));
        }
        if (drives_->count() > 0) drives_->setCurrentIndex(0);
    }
    if (drives_->count() > 0) SelectDrive();
}

void CdTrackSourcePropertyPage::SelectDrive() {
    if (!source_ || drives_->currentIndex() < 0) return;
    QString entry = drives_->currentText().left(kDriveTextChars);
    QByteArray letter = entry.toLatin1();
    if (letter.isEmpty() || source_->SetDrive(static_cast<unsigned char>(letter[0])) != S_OK)
        ShowError(QStringLiteral("Open %1 Error!").arg(entry));
    int32_t kind = 0;
    source_->GetDiscKind(&kind);
    discKind_->setText(QString::fromLatin1(DiscKindText(kind)));
    if (kind != 1 && kind != 4) return;
    int32_t count = 0;
    source_->GetTrackCount(&count);
    if (count <= 0) return;
    {
        const QSignalBlocker blocker(tracks_);
        tracks_->clear();
        for (int32_t track = 1; track <= count; ++track) tracks_->addItem(QString::number(track));
        tracks_->setCurrentIndex(0);
    }
    SelectTrack();
}

void CdTrackSourcePropertyPage::SelectTrack() {
    if (!source_ || tracks_->currentIndex() < 0) return;
    int32_t track = tracks_->currentIndex() + 1;
    source_->SetCurrentTrack(track);
    int32_t h = 0, m = 0, s = 0, frames = 0, ms = 0, first = 0, length = 0;
    source_->GetTrackInfo(track, &h, &m, &s, &frames, &ms, &first, &length);
    length_->setText(QStringLiteral("%1:%2:%3").arg(h).arg(m).arg(s));
}

void CdTrackSourcePropertyPage::ApplySectors(const QString& text) {
    if (!source_) return;
    uint32_t value = LeadingNumber(text.left(kSectorsTextChars));
    int32_t capability = 0;
    // Without a drive there is no capability to compare with; the filter still refuses counts
    // its buffer cannot hold.
    if (SUCCEEDED(source_->GetReadCapability(&capability)) &&
        value > static_cast<uint32_t>(capability)) {
        ShowError(QStringLiteral("Not incorrect value!"));
        return;
    }
    source_->SetSectorsPerRead(value);
}

void CdTrackSourcePropertyPage::ShowError(const QString& text) {
    if (errorBox_) errorBox_(this, QStringLiteral("Error"), text);
}

}  // namespace quil::cdsource
