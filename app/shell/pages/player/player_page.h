#pragma once

// The media player page: lists the audio files of the output folder (and files the user adds)
// and plays them one after another. It cannot grab.

#include "app/shell/pages/player/media_list_page.h"

namespace quil::shell {

class PlayerPage final : public MediaListPage {
    Q_OBJECT

public:
    explicit PlayerPage(PageHost& host, QWidget* parent = nullptr);
    ~PlayerPage() override;

    // Lists the output folder again (the main window calls it when the page is selected).
    void Refresh() override;
    // Opens the output folder in the desktop's file manager.
    void GotoFolder();

    // Whether a file of the output folder is listed: the extension must be written exactly
    // in lower or upper case.
    static bool IsListedExtension(const std::string& extension);

protected:
    void ShowRunning(int row, double position) override;
    void ShowStopped(int row) override;
    void ShowResumed(int row) override;

private:
    void ListOutputFolder(bool clear);
};

}  // namespace quil::shell
