#include "app/settings/ui/folder_browser.h"

#include <QFileDialog>

namespace quil::settings {

std::optional<QString> QtFolderBrowser::BrowseForFolder(QWidget* parent, const QString& title,
                                                        const QString& startFolder) {
    QString folder = QFileDialog::getExistingDirectory(parent, title, startFolder);
    if (folder.isEmpty()) return std::nullopt;
    return folder;
}

}  // namespace quil::settings
