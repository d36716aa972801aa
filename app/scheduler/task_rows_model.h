#pragma once

// The rows of the schedule page's task list: an "Active" check box and the task name, with the
// task id as row data. The check box belongs to the view; ticking it does not change the task.

#include <QAbstractTableModel>
#include <QString>

#include <vector>

#include "platform/com/types.h"

namespace quil::scheduler {

class TaskRowsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    struct Row {
        DWORD id = 0;
        bool checked = false;
        QString title;
    };
    static constexpr int kIdRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    void Append(const Row& row);
    void Remove(int row);
    const Row& At(int row) const { return rows_[static_cast<size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<Row> rows_;
};

}  // namespace quil::scheduler
