#include "app/shell/pages/player/file_list_view.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QUrl>

#include <algorithm>

#include "app/shell/pages/player/file_list_model.h"

namespace quil::shell {

namespace {

constexpr int kMinimumFillWidth = 40;
constexpr double kListPointSize = 8.0;

// Draws the marked row like a selected one, from the palette, without selecting it; in bold, as
// the recorder marks its running row, so it stays apart from selected rows.
class MarkDelegate final : public QStyledItemDelegate {
public:
    MarkDelegate(const FileListModel* model, QObject* parent)
        : QStyledItemDelegate(parent), model_(model) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.row() != model_->Marked()) return;
        option->backgroundBrush = option->palette.brush(QPalette::Active, QPalette::Highlight);
        option->palette.setBrush(
            QPalette::Text, option->palette.brush(QPalette::Active, QPalette::HighlightedText));
        option->font.setBold(true);
    }

private:
    const FileListModel* model_;
};

QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

}  // namespace

FileListView::FileListView(FileListModel* model, int fillOffset, QWidget* parent)
    : QTreeView(parent), model_(model), fillOffset_(fillOffset) {
    setModel(model);
    setItemDelegate(new MarkDelegate(model, this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);  // keeps ten thousand rows cheap to lay out
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAllColumnsShowFocus(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAcceptDrops(true);
    setDropIndicatorShown(false);
    setIconSize(QSize(16, 16));
    // The column widths are the product's, made for an 8-point list font; a larger desktop
    // font would cut the duration texts.
    QFont listFont = font();
    if (listFont.pointSizeF() > kListPointSize) {
        listFont.setPointSizeF(kListPointSize);
        setFont(listFont);
    }
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    const auto& columns = model->columns();
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].width > 0) setColumnWidth(static_cast<int>(i), columns[i].width);
    FitColumns();
}

QList<int> FileListView::SelectedRows() const {
    QList<int> rows;
    if (!selectionModel()) return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void FileListView::SelectRow(int row) {
    if (!selectionModel()) return;
    if (row < 0 || row >= model_->rowCount()) {
        selectionModel()->clearSelection();
        return;
    }
    QModelIndex index = model_->index(row, 0);
    selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    scrollTo(index);
}

void FileListView::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    FitColumns();
}

void FileListView::FitColumns() {
    int fill = width() - verticalScrollBar()->sizeHint().width() - fillOffset_;
    const auto& columns = model_->columns();
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].width <= 0)
            setColumnWidth(static_cast<int>(i), std::max(fill, kMinimumFillWidth));
}

void FileListView::dragEnterEvent(QDragEnterEvent* event) {
    if (LocalFiles(event->mimeData()).isEmpty()) return event->ignore();
    event->acceptProposedAction();
}

void FileListView::dragMoveEvent(QDragMoveEvent* event) {
    if (LocalFiles(event->mimeData()).isEmpty()) return event->ignore();
    event->acceptProposedAction();
}

void FileListView::dropEvent(QDropEvent* event) {
    QStringList files = LocalFiles(event->mimeData());
    if (files.isEmpty()) return event->ignore();
    event->acceptProposedAction();
    emit FilesDropped(files);
}

}  // namespace quil::shell
