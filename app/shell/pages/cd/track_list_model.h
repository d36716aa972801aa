#pragma once

// The CD page's track list: one row per track with its check box, duration, status (or rip
// progress), first and end sector. Every cell's tooltip is its text; a ripped track that had
// unreadable sectors says so in its tooltip as well.

#include <QAbstractTableModel>
#include <QString>

#include <vector>

namespace quil::shell {

struct TrackRow {
    int track = 0;
    QString duration;
    QString status;
    int progress = -1;  // percent while the track is ripped, else -1
    int firstSector = 0;
    int endSector = 0;
    bool checked = true;
    int unreadableSectors = -1;  // -1 until the track was ripped
};

class TrackListModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kTrack, kDuration, kStatus, kStartSector, kEndSector, kColumnCount };
    // The status column's progress (int, -1 for none) for the delegate that draws the bar.
    static constexpr int kProgressRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void Clear();
    void Append(const TrackRow& row);
    const TrackRow& Row(int row) const { return rows_[static_cast<size_t>(row)]; }
    bool AllChecked() const;
    void SetAllChecked(bool checked);
    // The first checked row at or after `from`; -1 when none.
    int NextChecked(int from) const;
    void SetStatus(int row, const QString& status);
    // -1 removes the bar.
    void SetProgress(int row, int percent);
    void SetUnreadable(int row, int sectors);
    // The row drawn as the one being played; -1 for none.
    void SetHighlighted(int row);
    int Highlighted() const { return highlighted_; }

private:
    QString Text(const TrackRow& row, int column) const;
    void ChangedRow(int row);

    std::vector<TrackRow> rows_;
    int highlighted_ = -1;
};

}  // namespace quil::shell
