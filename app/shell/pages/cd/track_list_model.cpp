#include "app/shell/pages/cd/track_list_model.h"

#include <QFont>

#include "app/controls/skin.h"
#include "app/shell/string_table.h"

namespace quil::shell {

int TrackListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TrackListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QString TrackListModel::Text(const TrackRow& row, int column) const {
    switch (column) {
        case kTrack:
            return QStringLiteral("Track %1").arg(row.track);
        case kDuration:
            return row.duration;
        case kStatus:
            return row.progress >= 0 ? QStringLiteral("%1 %").arg(row.progress) : row.status;
        case kStartSector:
            return QString::number(row.firstSector);
        case kEndSector:
            return QString::number(row.endSector);
    }
    return {};
}

QVariant TrackListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TrackRow& row = rows_[static_cast<size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return Text(row, index.column());
        case Qt::ToolTipRole: {
            QString tip = Text(row, index.column());
            if (row.unreadableSectors > 0)
                tip += QStringLiteral("\n%1 unreadable sectors were written as silence.")
                           .arg(row.unreadableSectors);
            else if (row.unreadableSectors == 0)
                tip += QStringLiteral("\nEvery sector was read.");
            return tip;
        }
        case Qt::CheckStateRole:
            if (index.column() == kTrack) return row.checked ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::TextAlignmentRole:
            return int(Qt::AlignCenter);
        case Qt::FontRole:
            if (index.row() == highlighted_) {
                QFont font;
                font.setBold(true);
                return font;
            }
            return {};
        case kProgressRole:
            return index.column() == kStatus ? row.progress : -1;
    }
    return {};
}

bool TrackListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != kTrack || index.row() >= rowCount())
        return false;
    rows_[static_cast<size_t>(index.row())].checked = value.value<Qt::CheckState>() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit headerDataChanged(Qt::Horizontal, kTrack, kTrack);
    return true;
}

Qt::ItemFlags TrackListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.column() == kTrack) flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant TrackListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    static const int kHeaders[kColumnCount] = {126, 123, 125, 209, 210};
    if (section < 0 || section >= kColumnCount) return {};
    switch (role) {
        case Qt::DisplayRole:
            return LoadString(kHeaders[section]);
        case Qt::DecorationRole:
            if (section == kTrack) return controls::CheckBoxIcon(AllChecked());
            return {};
        case Qt::ToolTipRole:
            if (section == kTrack) return QStringLiteral("Check or uncheck every track");
            return LoadString(kHeaders[section]);
        case Qt::TextAlignmentRole:
            return int(Qt::AlignCenter);
    }
    return {};
}

void TrackListModel::Clear() {
    beginResetModel();
    rows_.clear();
    highlighted_ = -1;
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, kTrack, kTrack);
}

void TrackListModel::Append(const TrackRow& row) {
    int at = rowCount();
    beginInsertRows({}, at, at);
    rows_.push_back(row);
    endInsertRows();
    emit headerDataChanged(Qt::Horizontal, kTrack, kTrack);
}

bool TrackListModel::AllChecked() const {
    if (rows_.empty()) return false;
    for (const TrackRow& row : rows_)
        if (!row.checked) return false;
    return true;
}

void TrackListModel::SetAllChecked(bool checked) {
    for (TrackRow& row : rows_) row.checked = checked;
    if (!rows_.empty())
        emit dataChanged(index(0, kTrack), index(rowCount() - 1, kTrack), {Qt::CheckStateRole});
    emit headerDataChanged(Qt::Horizontal, kTrack, kTrack);
}

int TrackListModel::NextChecked(int from) const {
    for (int row = std::max(from, 0); row < rowCount(); ++row)
        if (rows_[static_cast<size_t>(row)].checked) return row;
    return -1;
}

void TrackListModel::SetStatus(int row, const QString& status) {
    if (row < 0 || row >= rowCount()) return;
    rows_[static_cast<size_t>(row)].status = status;
    ChangedRow(row);
}

void TrackListModel::SetProgress(int row, int percent) {
    if (row < 0 || row >= rowCount()) return;
    rows_[static_cast<size_t>(row)].progress = percent;
    ChangedRow(row);
}

void TrackListModel::SetUnreadable(int row, int sectors) {
    if (row < 0 || row >= rowCount()) return;
    rows_[static_cast<size_t>(row)].unreadableSectors = sectors;
    ChangedRow(row);
}

void TrackListModel::SetHighlighted(int row) {
    int old = highlighted_;
    highlighted_ = row;
    if (old >= 0 && old < rowCount()) ChangedRow(old);
    if (row >= 0 && row < rowCount()) ChangedRow(row);
}

void TrackListModel::ChangedRow(int row) {
    emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

}  // namespace quil::shell
