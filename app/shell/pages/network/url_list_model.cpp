#include "app/shell/pages/network/url_list_model.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QPalette>

#include "app/shell/string_table.h"

namespace quil::network {

namespace {

constexpr int kUrlHeaderString = 129;
constexpr int kStatusHeaderString = 125;

}  // namespace

int UrlListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int UrlListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant UrlListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& row = rows_[static_cast<size_t>(index.row())];
    const bool urlColumn = index.column() == kUrlColumn;
    switch (role) {
        case Qt::DisplayRole:
            return urlColumn ? row.url : row.status;
        case Qt::ToolTipRole:
            return row.url;
        case Qt::DecorationRole:
            if (urlColumn) return icon_;
            return {};
        case Qt::TextAlignmentRole:
            return urlColumn ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                             : QVariant(Qt::AlignCenter);
        case Qt::BackgroundRole:
            if (row.marked) return QApplication::palette().brush(QPalette::Highlight);
            return {};
        case Qt::ForegroundRole:
            if (row.marked) return QApplication::palette().brush(QPalette::HighlightedText);
            return {};
        case Qt::FontRole:
            // Bold as well, so the open stream's row stands out from the selected one.
            if (row.marked) {
                QFont font = QApplication::font();
                font.setBold(true);
                return font;
            }
            return {};
        default:
            return {};
    }
}

QVariant UrlListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole)
        return shell::LoadString(section == kUrlColumn ? kUrlHeaderString : kStatusHeaderString);
    if (role == Qt::TextAlignmentRole)
        return section == kUrlColumn ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                     : QVariant(Qt::AlignCenter);
    return {};
}

int UrlListModel::Find(const QString& url) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].url == url) return static_cast<int>(i);
    return -1;
}

int UrlListModel::Add(const QString& url) {
    if (Find(url) >= 0) return -1;
    const int row = rowCount();
    beginInsertRows({}, row, row);
    rows_.push_back({url, {}, false});
    endInsertRows();
    return row;
}

void UrlListModel::Remove(int row) {
    if (row < 0 || row >= rowCount()) return;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

void UrlListModel::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

QString UrlListModel::Url(int row) const {
    return row >= 0 && row < rowCount() ? rows_[static_cast<size_t>(row)].url : QString();
}

QString UrlListModel::Status(int row) const {
    return row >= 0 && row < rowCount() ? rows_[static_cast<size_t>(row)].status : QString();
}

bool UrlListModel::Marked(int row) const {
    return row >= 0 && row < rowCount() && rows_[static_cast<size_t>(row)].marked;
}

void UrlListModel::SetStatus(const QString& url, const QString& status, bool marked) {
    const int row = Find(url);
    if (row < 0) return;
    rows_[static_cast<size_t>(row)].status = status;
    rows_[static_cast<size_t>(row)].marked = marked;
    RowChanged(row);
}

void UrlListModel::UnmarkAll() {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (!rows_[i].marked) continue;
        rows_[i].marked = false;
        RowChanged(static_cast<int>(i));
    }
}

void UrlListModel::RowChanged(int row) {
    emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

}  // namespace quil::network
