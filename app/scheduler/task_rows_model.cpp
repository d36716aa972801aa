#include "app/scheduler/task_rows_model.h"

#include "app/shell/string_table.h"

namespace quil::scheduler {

namespace {
constexpr int kActiveColumn = 0;
constexpr int kNameColumn = 1;
constexpr int kActiveHeader = 183;
constexpr int kNameHeader = 184;
}  // namespace

void TaskRowsModel::Append(const Row& row) {
    const int at = static_cast<int>(rows_.size());
    beginInsertRows({}, at, at);
    rows_.push_back(row);
    endInsertRows();
}

void TaskRowsModel::Remove(int row) {
    if (row < 0 || row >= rowCount()) return;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    endRemoveRows();
}

int TaskRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TaskRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant TaskRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& row = At(index.row());
    if (role == kIdRole) return QVariant::fromValue(row.id);
    if (index.column() == kActiveColumn) {
        if (role == Qt::DisplayRole) return shell::LoadString(kActiveHeader);
        if (role == Qt::CheckStateRole) return row.checked ? Qt::Checked : Qt::Unchecked;
    } else if (index.column() == kNameColumn) {
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole) return row.title;
    }
    return {};
}

bool TaskRowsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != kActiveColumn || role != Qt::CheckStateRole)
        return false;
    rows_[static_cast<size_t>(index.row())].checked = value.value<Qt::CheckState>() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags TaskRowsModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == kActiveColumn) flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant TaskRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == kActiveColumn) return shell::LoadString(kActiveHeader);
    if (section == kNameColumn) return shell::LoadString(kNameHeader);
    return {};
}

}  // namespace quil::scheduler
