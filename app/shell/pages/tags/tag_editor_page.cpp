#include "app/shell/pages/tags/tag_editor_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "app/shell/string_table.h"
#include "app/tags/genre_list.h"
#include "app/tags/media_tag_editor.h"
#include "app/tags/title_rename.h"

namespace quil::shell {

namespace {

constexpr int kFormatColumnWidth = 80;
constexpr int kPathRole = Qt::UserRole + 1;

bool Listed(const QString& name) {
    // Exactly these spellings: "a.Mp3" stays out, as it always has.
    static const QStringList extensions = {".wav", ".WAV", ".mp3", ".MP3", ".WMA", ".wma"};
    for (const QString& extension : extensions)
        if (name.endsWith(extension) && name.size() > extension.size()) return true;
    return false;
}

void Copy(const QString& text, char (&field)[kTagTextSize]) {
    const QByteArray bytes = text.toUtf8();
    // Cut on a character boundary so the stored text stays valid UTF-8.
    qsizetype length = std::min<qsizetype>(bytes.size(), kTagTextSize - 1);
    while (length > 0 && length < bytes.size() &&
           (static_cast<uchar>(bytes[length]) & 0xC0) == 0x80)
        --length;
    std::memcpy(field, bytes.constData(), static_cast<size_t>(length));
    field[length] = '\0';
}

}  // namespace

TagEditorPage::TagEditorPage(PageHost& host, QWidget* parent) : Page(host, parent) {
    setObjectName("tagEditorPage");
    setAccessibleName(LoadString(115));

    folders_ = new QFileSystemModel(this);
    folders_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    folders_->setRootPath(QDir::homePath());
    folderTree_ = new QTreeView(this);
    folderTree_->setObjectName("folderTree");
    folderTree_->setAccessibleName("Folders");
    folderTree_->setModel(folders_);
    folderTree_->setRootIndex(folders_->index(QDir::homePath()));
    for (int column = 1; column < folders_->columnCount(); ++column)
        folderTree_->hideColumn(column);
    folderTree_->setHeaderHidden(true);
    connect(folderTree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) { SelectFolder(folders_->filePath(index)); });

    files_ = new QStandardItemModel(0, 2, this);
    files_->setHorizontalHeaderLabels({LoadString(121), LoadString(122)});
    fileList_ = new QTreeView(this);
    fileList_->setObjectName("fileList");
    fileList_->setAccessibleName("Files");
    fileList_->setModel(files_);
    fileList_->setRootIsDecorated(false);
    fileList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fileList_->header()->setStretchLastSection(false);
    fileList_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    fileList_->header()->resizeSection(1, kFormatColumnWidth);
    connect(fileList_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& index) {
                if (index.isValid()) SelectRow(index.row());
            });

    auto box = [this](const char* name, const QString& label) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setAccessibleName(label);
        return edit;
    };
    title_ = box("title", "Title");
    artist_ = box("artist", "Artist");
    album_ = box("album", "Album");
    track_ = box("track", "Track#");
    year_ = box("year", "Year");
    year_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), year_));
    comment_ = box("comment", "Comment");
    copyright_ = box("copyright", "Copyrights");
    genre_ = new QComboBox(this);
    genre_->setObjectName("genre");
    genre_->setAccessibleName("Genre");
    QStringList genres;
    for (std::string_view name : tags::kGenreList)
        genres << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    // Sorted as the list control sorts: without regard to letter case.
    std::sort(genres.begin(), genres.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    genre_->addItems(genres);
    genre_->setCurrentIndex(-1);

    rename_ = new QCheckBox("Replace file name by the title when updating", this);
    rename_->setObjectName("rename");
    auto* clear = new QPushButton("&Clear", this);
    clear->setObjectName("clear");
    clear->setAccessibleName("Clear");
    auto* update = new QPushButton("&Update", this);
    update->setObjectName("update");
    update->setAccessibleName("Update");
    connect(clear, &QPushButton::clicked, this, &TagEditorPage::Clear);
    connect(update, &QPushButton::clicked, this, &TagEditorPage::Update);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->addRow("Title", title_);
    form->addRow("Artist", artist_);
    form->addRow("Album", album_);
    auto* numbers = new QHBoxLayout;
    numbers->addWidget(track_, 1);
    numbers->addWidget(new QLabel("Year", this));
    numbers->addWidget(year_, 1);
    form->addRow("Track#", numbers);
    form->addRow("Genre", genre_);
    form->addRow("Comment", comment_);
    form->addRow("Copyrights", copyright_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(rename_, 1);
    buttons->addWidget(clear);
    buttons->addWidget(update);

    auto* right = new QVBoxLayout;
    right->addWidget(fileList_, 1);
    right->addLayout(form);
    right->addLayout(buttons);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(folderTree_, 2);
    layout->addLayout(right, 3);

    QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (music.isEmpty() || !QDir(music).exists()) music = QDir::homePath();
    const QModelIndex start = folders_->index(music);
    folderTree_->setCurrentIndex(start);
    folderTree_->scrollTo(start);
}

TagEditorPage::~TagEditorPage() = default;

QStringList TagEditorPage::ListedFiles() const {
    QStringList names;
    for (int row = 0; row < files_->rowCount(); ++row) names << files_->item(row, 0)->text();
    return names;
}

void TagEditorPage::FillList(const QString& folder) {
    folder_ = folder;
    files_->removeRows(0, files_->rowCount());
    // Names are bytes: list what the folder holds, whatever its encoding.
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (!Listed(name)) continue;
        auto* nameItem = new QStandardItem(name);
        nameItem->setData(entry.absoluteFilePath(), kPathRole);
        nameItem->setToolTip(entry.absoluteFilePath());
        files_->appendRow({nameItem, new QStandardItem(entry.suffix())});
    }
}

void TagEditorPage::SelectFolder(const QString& folder) {
    FillList(folder);
    if (files_->rowCount() == 0) return;
    fileList_->setFocus();
    {
        const QSignalBlocker blocker(fileList_->selectionModel());
        fileList_->setCurrentIndex(files_->index(0, 0));
    }
    currentFile_.clear();
    SelectRow(0);
}

void TagEditorPage::SelectRow(int row) {
    if (row < 0 || row >= files_->rowCount()) return;
    const QString path = files_->item(row, 0)->data(kPathRole).toString();
    if (path == currentFile_ && !currentFile_.isEmpty()) return;
    currentFile_ = path;
    Show();
}

void TagEditorPage::Box(const QString& text) {
    services().messages->Show(this, text, kCaption, QMessageBox::Ok, QMessageBox::Warning);
}

void TagEditorPage::Show() {
    if (currentFile_.isEmpty()) {
        Box("Please select a media file!");
        return;
    }
    MediaTagRecord record;
    MediaTagEditor editor;
    if (!editor.ReadTags(QFile::encodeName(currentFile_).constData(), record)) {
        Box(LoadString(57356));
        return;
    }
    title_->setText(QString::fromUtf8(record.szTitle));
    artist_->setText(QString::fromUtf8(record.szAuthor));
    album_->setText(QString::fromUtf8(record.szAlbumTitle));
    year_->setText(QString::fromUtf8(record.szYear));
    comment_->setText(QString::fromUtf8(record.szDescription));
    copyright_->setText(QString::fromUtf8(record.szCopyright));
    if (record.nTrack != -1) track_->setText(QString::number(record.nTrack));
    const QString genre = QString::fromUtf8(record.szGenre);
    int match = -1;
    for (int i = 0; i < genre_->count() && !genre.isEmpty(); ++i) {
        if (genre_->itemText(i).startsWith(genre, Qt::CaseInsensitive)) {
            match = i;
            break;
        }
    }
    genre_->setCurrentIndex(match);
}

void TagEditorPage::Update() {
    if (currentFile_.isEmpty()) return;
    MediaTagRecord record;
    Copy(title_->text(), record.szTitle);
    Copy(artist_->text(), record.szAuthor);
    Copy(album_->text(), record.szAlbumTitle);
    Copy(year_->text(), record.szYear);
    Copy(comment_->text(), record.szDescription);
    Copy(copyright_->text(), record.szCopyright);
    Copy(genre_->currentText(), record.szGenre);
    // An empty box leaves the file without a track number rather than inventing track 0.
    const QString track = track_->text().left(15);
    record.nTrack = track.isEmpty() ? -1 : std::atoi(track.toUtf8().constData());
    MediaTagEditor editor;
    const QByteArray path = QFile::encodeName(currentFile_);
    if (!editor.WriteTags(path.constData(), record)) {
        Box("Update is failed!");
        Show();
        return;
    }
    if (!rename_->isChecked()) return;
    if (title_->text().isEmpty()) {
        Box("Title is empty! Replacing file name is failed!");
        return;
    }
    std::string renamed;
    const auto result =
        tags::RenameToTitle(path.toStdString(), title_->text().toUtf8().toStdString(), &renamed);
    if (result != tags::RenameResult::kRenamed) {
        Box("Replacing file name is failed!");
        return;
    }
    // The list shows the new name at once.
    currentFile_ = QFile::decodeName(QByteArray::fromStdString(renamed));
    FillList(folder_);
    for (int row = 0; row < files_->rowCount(); ++row) {
        if (files_->item(row, 0)->data(kPathRole).toString() != currentFile_) continue;
        const QSignalBlocker blocker(fileList_->selectionModel());
        fileList_->setCurrentIndex(files_->index(row, 0));
    }
}

void TagEditorPage::Clear() {
    if (currentFile_.isEmpty()) return;
    const auto answer = services().messages->Show(
        this, "Are you sure to permanently delete the file info?", kCaption,
        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Warning);
    if (answer != QMessageBox::Ok) return;
    MediaTagRecord record;
    record.nTrack = -1;
    MediaTagEditor editor;
    editor.WriteTags(QFile::encodeName(currentFile_).constData(), record);
    Show();
}

}  // namespace quil::shell
