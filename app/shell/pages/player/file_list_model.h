#pragma once

// The rows of a media file list: each row keeps the file's full path (bytes, the row's key,
// matched exactly) and the texts of its cells. One row may be marked: drawn in the highlight
// style without being selected. Rows are added in batches so long lists stay fast.

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>

#include <string>
#include <unordered_set>
#include <vector>

namespace quil::shell {

struct FileRow {
    std::string path;
    QString format;  // extension without its dot
    QString name;    // name with extension
    QString status;
    QString duration;  // empty until the file was opened
    QString size;
};

enum class FileColumn { Format, Name, Status, Duration, Size };

struct FileColumnSpec {
    FileColumn field;
    int headerId;  // string id of the header
    // Fixed width; the fill column (0) takes the list's width minus the scroll bar minus
    // `fillOffset`.
    int width;
    Qt::Alignment alignment;
};

class FileListModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    FileListModel(std::vector<FileColumnSpec> columns, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const std::vector<FileColumnSpec>& columns() const { return columns_; }
    bool Contains(const std::string& path) const { return paths_.count(path) != 0; }
    // The row holding exactly this path, or -1.
    int Find(const std::string& path) const;
    const FileRow& Row(int row) const { return rows_[static_cast<size_t>(row)]; }

    void Append(std::vector<FileRow> rows);
    void Remove(int row);
    void Clear();
    void SetStatus(int row, const QString& status);
    void SetDuration(int row, const QString& duration);

    // -1 marks no row.
    void Mark(int row);
    int Marked() const { return marked_; }

private:
    void ChangedCells(int row);

    std::vector<FileColumnSpec> columns_;
    std::vector<FileRow> rows_;
    std::unordered_set<std::string> paths_;
    int marked_ = -1;
    QIcon icon_;
};

}  // namespace quil::shell
