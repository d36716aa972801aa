#include "app/shell/pages/player/player_page.h"

#include <QHBoxLayout>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <array>
#include <filesystem>

#include "app/settings/settings_key.h"
#include "app/shell/pages/player/media_texts.h"
#include "app/shell/string_table.h"
#include "engine/media/file_audio_grabber.h"

namespace quil::shell {

namespace {

// Status 180 wide, size the rest: 80 + 260 + 180 taken from the list's width.
constexpr int kFillOffset = 520;

std::vector<FileColumnSpec> PlayerColumns() {
    return {
        {FileColumn::Format, 122, 80, Qt::AlignLeft},
        {FileColumn::Name, 121, 260, Qt::AlignLeft},
        {FileColumn::Status, 125, 180, Qt::AlignHCenter},
        {FileColumn::Size, 124, 0, Qt::AlignHCenter},
    };
}

std::string OutputFolder() {
    settings::SettingsKey key;
    if (!key.Open()) return {};
    return key.ReadString("Output directory", "");
}

}  // namespace

PlayerPage::PlayerPage(PageHost& host, QWidget* parent)
    : MediaListPage(host, PlayerColumns(), kFillOffset, parent) {
    QToolButton* gotoFolder = AddButton(tr("Goto folder"), 57351);
    // After "Delete all", before the hidden buttons and the stretch.
    buttons()->insertWidget(3, gotoFolder);
    connect(gotoFolder, &QToolButton::clicked, this, &PlayerPage::GotoFolder);
    ListOutputFolder(false);
}

PlayerPage::~PlayerPage() {
    StopPlayback();
}

bool PlayerPage::IsListedExtension(const std::string& extension) {
    static const std::array<const char*, 8> listed = {".wav", ".WAV", ".mp3", ".MP3",
                                                      ".wma", ".WMA", ".ogg", ".OGG"};
    return std::any_of(listed.begin(), listed.end(),
                       [&](const char* one) { return extension == one; });
}

void PlayerPage::Refresh() {
    ListOutputFolder(true);
}

void PlayerPage::ListOutputFolder(bool clear) {
    std::string folder = OutputFolder();
    if (folder.empty()) return;
    // The main window refreshes only an idle page; a playing row is never dropped.
    if (clear && !Idle()) return;
    if (clear) model()->Clear();
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        if (IsListedExtension(it->path().extension().string())) files.push_back(it->path());
    }
    // The folder's own order is arbitrary here; names sort the way a file manager shows them.
    std::sort(files.begin(), files.end());
    std::vector<std::string> paths;
    for (const auto& file : files) paths.push_back(file.string());
    AddPaths(paths);
}

void PlayerPage::GotoFolder() {
    std::string folder = OutputFolder();
    if (folder.empty()) return;
    services().desktop->Open(QUrl::fromLocalFile(DisplayPath(folder)));
}

void PlayerPage::ShowRunning(int row, double position) {
    model()->SetStatus(row,
                       QString("%1 %2 (%3)")
                           .arg(LoadString(133), DurationText(position), DurationText(duration_)));
}

void PlayerPage::ShowStopped(int row) {
    model()->SetStatus(row, QString("%1 (%2)").arg(LoadString(136), DurationText(duration_)));
}

void PlayerPage::ShowResumed(int row) {
    double position = 0;
    if (grabber_) grabber_->GetPosition(&position);
    ShowRunning(row, position);
}

}  // namespace quil::shell
