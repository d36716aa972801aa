#pragma once

// The tag editor page: a folder tree, the WAV, MP3 and WMA files of the chosen folder, and the
// title, artist, album, track, year, genre, comment and copyright of the chosen file, written
// back with Update and optionally given to the file as its name.

#include "app/shell/page.h"

class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QLineEdit;
class QStandardItemModel;
class QTreeView;

namespace quil::shell {

class TagEditorPage final : public Page {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Quillet 4.0";

    explicit TagEditorPage(PageHost& host, QWidget* parent = nullptr);
    ~TagEditorPage() override;

    // The page has no transport: the main window disables it here.
    int StartGrab() override { return 0; }
    int PauseGrab() override { return 0; }
    int StopGrab() override { return 0; }
    int Play() override { return 0; }
    int PausePlayback() override { return 0; }
    int StopPlayback() override { return 0; }
    int Previous() override { return 0; }
    int Next() override { return 0; }
    void ShowVideo(bool) override {}

    // The steps the controls run, for the folder tree, a row, and the two buttons.
    void SelectFolder(const QString& folder);
    void SelectRow(int row);
    void Update();
    void Clear();

    QString CurrentFile() const { return currentFile_; }
    QStringList ListedFiles() const;

protected:
    LRESULT OnMessage(const Message&) override { return 0; }

private:
    void FillList(const QString& folder);
    void Show();
    void Box(const QString& text);

    QString currentFile_;
    QString folder_;
    QFileSystemModel* folders_;
    QTreeView* folderTree_;
    QStandardItemModel* files_;
    QTreeView* fileList_;
    QLineEdit* title_;
    QLineEdit* artist_;
    QLineEdit* album_;
    QLineEdit* track_;
    QLineEdit* year_;
    QLineEdit* comment_;
    QLineEdit* copyright_;
    QComboBox* genre_;
    QCheckBox* rename_;
};

}  // namespace quil::shell
