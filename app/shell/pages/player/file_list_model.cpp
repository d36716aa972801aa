#include "app/shell/pages/player/file_list_model.h"

#include "app/controls/skin.h"
#include "app/shell/pages/player/media_texts.h"
#include "app/shell/string_table.h"

namespace quil::shell {

FileListModel::FileListModel(std::vector<FileColumnSpec> columns, QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)) {
    icon_ = controls::GlyphIcon(controls::Glyph::Volume, controls::colors::kMutedText);
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    const FileRow& row = rows_[static_cast<size_t>(index.row())];
    const FileColumnSpec& column = columns_[static_cast<size_t>(index.column())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            switch (column.field) {
                case FileColumn::Format:
                    return row.format;
                case FileColumn::Name:
                    return row.name;
                case FileColumn::Status:
                    return row.status;
                case FileColumn::Duration:
                    return row.duration;
                case FileColumn::Size:
                    return row.size;
            }
            return {};
        case Qt::ToolTipRole:
            return DisplayPath(row.path);
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(column.alignment | Qt::AlignVCenter);
        case Qt::DecorationRole:
            return index.column() == 0 ? QVariant(icon_) : QVariant();
        default:
            return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
    const FileColumnSpec& column = columns_[static_cast<size_t>(section)];
    if (role == Qt::DisplayRole) return LoadString(column.headerId);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(column.alignment | Qt::AlignVCenter);
    return {};
}

int FileListModel::Find(const std::string& path) const {
    if (!Contains(path)) return -1;
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].path == path) return static_cast<int>(i);
    return -1;
}

void FileListModel::Append(std::vector<FileRow> rows) {
    if (rows.empty()) return;
    int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
    for (FileRow& row : rows) {
        paths_.insert(row.path);
        rows_.push_back(std::move(row));
    }
    endInsertRows();
}

void FileListModel::Remove(int row) {
    if (row < 0 || row >= rowCount()) return;
    beginRemoveRows({}, row, row);
    paths_.erase(rows_[static_cast<size_t>(row)].path);
    rows_.erase(rows_.begin() + row);
    if (marked_ == row)
        marked_ = -1;
    else if (marked_ > row)
        --marked_;
    endRemoveRows();
}

void FileListModel::Clear() {
    beginResetModel();
    rows_.clear();
    paths_.clear();
    marked_ = -1;
    endResetModel();
}

void FileListModel::SetStatus(int row, const QString& status) {
    if (row < 0 || row >= rowCount()) return;
    rows_[static_cast<size_t>(row)].status = status;
    ChangedCells(row);
}

void FileListModel::SetDuration(int row, const QString& duration) {
    if (row < 0 || row >= rowCount()) return;
    rows_[static_cast<size_t>(row)].duration = duration;
    ChangedCells(row);
}

void FileListModel::Mark(int row) {
    if (row >= rowCount()) row = -1;
    int previous = marked_;
    marked_ = row < 0 ? -1 : row;
    if (previous >= 0) ChangedCells(previous);
    if (marked_ >= 0 && marked_ != previous) ChangedCells(marked_);
}

void FileListModel::ChangedCells(int row) {
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

}  // namespace quil::shell
