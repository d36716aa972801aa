#pragma once

// The list of a media list page: full-row selection, the marked row drawn in the palette's
// highlight, column widths as the page gives them (the fill column takes what is left), and
// local files dropped from a file manager handed to the page.

#include <QStringList>
#include <QTreeView>

namespace quil::shell {

class FileListModel;

class FileListView final : public QTreeView {
    Q_OBJECT

public:
    // fillOffset: the width the fixed columns and the frame take from the fill column.
    FileListView(FileListModel* model, int fillOffset, QWidget* parent = nullptr);

    // Selected rows in list order.
    QList<int> SelectedRows() const;
    void SelectRow(int row);

signals:
    void FilesDropped(const QStringList& paths);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FitColumns();

    FileListModel* model_;
    int fillOffset_;
};

}  // namespace quil::shell
