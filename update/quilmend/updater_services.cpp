#include "update/quilmend/updater_services.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QProcess>

#include "update/quilmend/updater_strings.h"

namespace quil::updater {

namespace {

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

bool DesktopServices::AskYesNo(QWidget* parent, const QString& title, const QString& text) {
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void DesktopServices::ShowAbout(QWidget* parent) {
    QMessageBox::about(parent, Q(text::kProgramName),
                       Q(text::kProgramName) + "\n" + Q(text::kVersion));
}

bool DesktopServices::StartProgram(const QString& path, const QStringList& arguments) {
    return QProcess::startDetached(path, arguments);
}

bool DesktopServices::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

}  // namespace quil::updater
