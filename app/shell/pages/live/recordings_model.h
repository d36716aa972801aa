#pragma once

// The live page's recordings: one row per recording made since the program started, never
// removed. Each row carries its file's full path, which is also every cell's tooltip.

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>

#include <vector>

namespace quil::shell {

struct RecordingRow {
    QString format;  // extension without the dot
    QString fileName;
    QString status;
    QString duration;
    QString size;
    QString path;
};

class RecordingsModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kFormat, kFileName, kStatus, kDuration, kSize, kColumnCount };

    explicit RecordingsModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int Append(const RecordingRow& row);
    const RecordingRow& Row(int row) const { return rows_[static_cast<size_t>(row)]; }
    // The row whose path is exactly `path`; -1 when none.
    int Find(const QString& path) const;
    void SetStatus(int row, const QString& status);
    void SetDuration(int row, const QString& duration);
    void SetSize(int row, const QString& size);
    // The row drawn as the active one; -1 for none.
    void SetHighlighted(int row);
    int Highlighted() const { return highlighted_; }

private:
    void ChangedRow(int row);

    std::vector<RecordingRow> rows_;
    int highlighted_ = -1;
    QIcon icon_;
};

}  // namespace quil::shell
