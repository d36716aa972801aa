#include "app/shell/pages/live/recordings_model.h"

#include <QFont>

#include "app/controls/skin.h"
#include "app/shell/string_table.h"

namespace quil::shell {

RecordingsModel::RecordingsModel(QObject* parent)
    : QAbstractTableModel(parent),
      icon_(controls::GlyphIcon(controls::Glyph::Volume, controls::colors::kMutedText)) {}

int RecordingsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RecordingsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant RecordingsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const RecordingRow& row = rows_[static_cast<size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            switch (index.column()) {
                case kFormat:
                    return row.format;
                case kFileName:
                    return row.fileName;
                case kStatus:
                    return row.status;
                case kDuration:
                    return row.duration;
                case kSize:
                    return row.size;
            }
            return {};
        case Qt::ToolTipRole:
            return row.path;
        case Qt::DecorationRole:
            return index.column() == kFormat ? icon_ : QVariant();
        case Qt::TextAlignmentRole:
            return int(index.column() <= kFileName ? Qt::AlignLeft | Qt::AlignVCenter
                                                   : Qt::AlignCenter);
        case Qt::FontRole:
            if (index.row() == highlighted_) {
                QFont font;
                font.setBold(true);
                return font;
            }
            return {};
    }
    return {};
}

QVariant RecordingsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    static const int kHeaders[kColumnCount] = {117, 121, 125, 123, 124};
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return LoadString(kHeaders[section]);
    if (role == Qt::TextAlignmentRole)
        return int(section <= kFileName ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
    return {};
}

int RecordingsModel::Append(const RecordingRow& row) {
    int at = rowCount();
    beginInsertRows({}, at, at);
    rows_.push_back(row);
    endInsertRows();
    return at;
}

int RecordingsModel::Find(const QString& path) const {
    if (path.isEmpty()) return -1;
    for (size_t row = 0; row < rows_.size(); ++row)
        if (rows_[row].path == path) return static_cast<int>(row);
    return -1;
}

void RecordingsModel::SetStatus(int row, const QString& status) {
    if (row < 0 || row >= rowCount()) return;
    rows_[static_cast<size_t>(row)].status = status;
    ChangedRow(row);
}

void RecordingsModel::SetDuration(int row, const QString& duration) {
    if (row < 0 || row >= rowCount()) return;
    rows_[static_cast<size_t>(row)].duration = duration;
    ChangedRow(row);
}

void RecordingsModel::SetSize(int row, const QString& size) {
    if (row < 0 || row >= rowCount()) return;
    rows_[static_cast<size_t>(row)].size = size;
    ChangedRow(row);
}

void RecordingsModel::SetHighlighted(int row) {
    int old = highlighted_;
    highlighted_ = row;
    if (old >= 0 && old < rowCount()) ChangedRow(old);
    if (row >= 0 && row < rowCount()) ChangedRow(row);
}

void RecordingsModel::ChangedRow(int row) {
    emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

}  // namespace quil::shell
