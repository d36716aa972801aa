#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace quil::settings {

// The folder chooser behind the Save page's "Browse" button; tests put their own in its place.
class FolderBrowser {
public:
    virtual ~FolderBrowser() = default;
    // The chosen folder; nullopt when the user cancels.
    virtual std::optional<QString> BrowseForFolder(QWidget* parent, const QString& title,
                                                   const QString& startFolder) = 0;
};

class QtFolderBrowser : public FolderBrowser {
public:
    std::optional<QString> BrowseForFolder(QWidget* parent, const QString& title,
                                           const QString& startFolder) override;
};

}  // namespace quil::settings
