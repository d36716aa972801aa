#pragma once

// The URL list of the network stream page: the URL and the status of each row, and which row
// is marked as the one being grabbed or played. A URL is listed at most once (exact,
// case-sensitive comparison).

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>

#include <vector>

#include "app/controls/skin.h"

namespace quil::network {

class UrlListModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { kUrlColumn = 0, kStatusColumn = 1, kColumnCount = 2 };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The row of the URL, or -1.
    int Find(const QString& url) const;
    // Appends a row with an empty status; -1 when the URL is already listed.
    int Add(const QString& url);
    void Remove(int row);
    void Clear();

    QString Url(int row) const;
    QString Status(int row) const;
    bool Marked(int row) const;
    // Sets the status of the URL's row, if it is still listed, and marks or unmarks it.
    void SetStatus(const QString& url, const QString& status, bool marked);
    void UnmarkAll();

private:
    struct Row {
        QString url;
        QString status;
        bool marked = false;
    };
    void RowChanged(int row);

    std::vector<Row> rows_;
    QIcon icon_ = controls::GlyphIcon(controls::Glyph::Network, controls::colors::kMutedText);
};

}  // namespace quil::network
