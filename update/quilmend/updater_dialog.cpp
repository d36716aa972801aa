#include "update/quilmend/updater_dialog.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <limits>

#include "app/shell/qt_window_target.h"
#include "update/quilmend/updater_strings.h"
#include "update/update_info.h"

namespace quil::updater {

namespace {

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

UpdaterDialog::UpdaterDialog(UpdaterPlaces places, const shell::Services& services, QWidget* parent)
    : QDialog(parent),
      places_(std::move(places)),
      services_(services.WithDefaults()),
      heading_(new QLabel(Q(text::kHeading), this)),
      progressText_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      manual_(new QPushButton(Q(text::kDownloadManually), this)),
      cancel_(new QPushButton(Q(text::kCancel), this)),
      messages_(new shell::QtWindowTarget(
          this, [this](const Message& message) { return OnMessage(message); })) {
    setWindowTitle(Q(text::kCaption));
    heading_->setObjectName("heading");
    heading_->setWordWrap(true);
    progressText_->setObjectName("progressText");
    bar_->setObjectName("progressBar");
    bar_->setAccessibleName("Download progress");
    bar_->setRange(0, 100);
    bar_->setValue(0);
    bar_->setTextVisible(false);
    manual_->setObjectName("downloadManually");
    cancel_->setObjectName("cancel");
    cancel_->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(manual_);
    buttons->addStretch();
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading_);
    layout->addWidget(progressText_);
    layout->addWidget(bar_);
    layout->addLayout(buttons);
    setMinimumWidth(460);

    // Stands in for the entry of the window's system menu, which a Qt program cannot reach.
    auto* about = new QAction(Q(text::kAbout), this);
    connect(about, &QAction::triggered, this, [this] {
        services_.messages->Show(this, Q(text::kProgramName) + "\n" + Q(text::kVersion),
                                 Q(text::kProgramName), QMessageBox::Ok, QMessageBox::Information);
    });
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    connect(cancel_, &QPushButton::clicked, this, &UpdaterDialog::reject);
    connect(manual_, &QPushButton::clicked, this, &UpdaterDialog::DownloadManually);

    download_ = std::make_unique<update::InstallerDownload>(update::InstallerSource{
        places_.server, places_.programFolder / update::kPublicKeyName, places_.updateFolder});
    if (!download_->Start(messages_->handle())) {
        ShowFailed("Cannot start the download");
        return;
    }
    busy_ = true;
    manual_->hide();
    progressText_->setText(Q(text::kConnecting));
}

UpdaterDialog::~UpdaterDialog() {
    download_.reset();
}

LRESULT UpdaterDialog::OnMessage(const Message& message) {
    switch (message.message) {
        case update::kDownloadProgressMessage:
            OnProgress(message.wParam, message.lParam);
            break;
        case update::kDownloadCompleteMessage:
            OnComplete(message.lParam == 1);
            break;
        default:
            break;  // status notifications tell the user nothing the progress text does not
    }
    return 0;
}

void UpdaterDialog::OnProgress(WPARAM received, LPARAM total) {
    double speed = download_->Speed();
    if (!rangeSet_ && total > 0) {
        while (total / barUnit_ > std::numeric_limits<int>::max()) barUnit_ *= 1024;
        bar_->setRange(0, static_cast<int>(total / barUnit_));
        rangeSet_ = true;
    }
    if (rangeSet_) bar_->setValue(static_cast<int>(static_cast<int64_t>(received) / barUnit_));
    progressText_->setText(
        QString::asprintf(text::kProgressFormat.data(), text::kDownloading.data(),
                          static_cast<double>(received) / 1024.0,
                          static_cast<double>(total) / 1024.0, text::kSpeed.data(), speed));
}

void UpdaterDialog::OnComplete(bool succeeded) {
    busy_ = false;
    if (succeeded) {
        heading_->setText(Q(text::kSucceeded));
        cancel_->setText(Q(text::kRun));
        runOnClose_ = true;
    } else {
        std::string reason = download_->FailureReason();
        ShowFailed(reason.empty() ? Q(text::kUnknownReason) : QString::fromStdString(reason));
    }
    progressText_->clear();
}

void UpdaterDialog::ShowFailed(const QString& reason) {
    manual_->setVisible(!places_.server.empty());
    bar_->hide();
    heading_->setText(QString::asprintf(text::kFailedFormat.data(), text::kUpdateFailed.data(),
                                        reason.toUtf8().constData()));
    cancel_->setText(Q(text::kCancel));
    runOnClose_ = false;
}

void UpdaterDialog::reject() {
    if (busy_) {
        if (services_.messages->Ask(this, Q(text::kQuitWhileBusy), Q(text::kCaption)) !=
            QMessageBox::Yes) {
            return;
        }
        download_->CancelAndJoin();
        download_->RemoveFiles();
        busy_ = false;
    }
    if (runOnClose_) {
        // The file may have changed since it was checked; never run anything but the
        // published installer.
        std::string why;
        if (!download_->TargetIsVerified(why)) {
            download_->RemoveFiles();
            ShowFailed(QString::fromStdString(why));
            return;
        }
        // Whether it started changes nothing: the updater's work ends here either way.
        services_.launcher->Start(QString::fromStdString(download_->TargetPath().string()), {});
    }
    QDialog::reject();
}

QString UpdaterDialog::UpdateInfoUrl() const {
    return QString::fromStdString(update::ServerUrl(places_.server, update::kUpdateInfoPath));
}

void UpdaterDialog::DownloadManually() {
    if (places_.server.empty()) return;
    // Without a browser the user can still copy the address.
    if (!services_.desktop->Open(QUrl(UpdateInfoUrl()))) {
        progressText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        progressText_->setText(UpdateInfoUrl());
    }
}

}  // namespace quil::updater
