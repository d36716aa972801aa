#pragma once

// The updater's dialog: downloads the new release's installer with progress and speed, then
// runs it at the user's request. The download runs on a worker; the dialog only reacts to what
// the worker posts.

#include <QDialog>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "app/shell/services.h"
#include "update/installer_download.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace quil::shell {
class QtWindowTarget;
}

namespace quil::updater {

struct UpdaterPlaces {
    std::string server;                   // the update server's base address
    std::filesystem::path programFolder;  // holds "update.pub"
    std::filesystem::path updateFolder;   // the data folder's "Update/"
};

class UpdaterDialog final : public QDialog {
    Q_OBJECT

public:
    // Uses the message boxes, the program launcher and the desktop of services; unset ones
    // are the desktop's own.
    UpdaterDialog(UpdaterPlaces places, const shell::Services& services, QWidget* parent = nullptr);
    ~UpdaterDialog() override;

    bool IsBusy() const { return busy_; }
    std::filesystem::path TargetPath() const { return download_->TargetPath(); }

    // The Cancel (or Run) button, Escape and the window's close all end here.
    void reject() override;

private:
    LRESULT OnMessage(const Message& message);
    void OnProgress(WPARAM received, LPARAM total);
    void OnComplete(bool succeeded);
    void ShowFailed(const QString& reason);
    void DownloadManually();
    QString UpdateInfoUrl() const;

    UpdaterPlaces places_;
    shell::Services services_;
    QLabel* heading_;
    QLabel* progressText_;
    QProgressBar* bar_;
    QPushButton* manual_;
    QPushButton* cancel_;
    shell::QtWindowTarget* messages_;
    bool busy_ = false;
    bool rangeSet_ = false;
    bool runOnClose_ = false;
    // Lengths beyond the bar's int range are shown in KiB.
    int64_t barUnit_ = 1;
    // Last member, so its worker is joined before anything it reports to goes away.
    std::unique_ptr<update::InstallerDownload> download_;
};

}  // namespace quil::updater
