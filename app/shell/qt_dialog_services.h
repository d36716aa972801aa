#pragma once

// Installs the program's dialogs as the engine's dialog services while it lives: engine error
// boxes go through the main window's message boxes, and the capture-format choice is a Qt list
// dialog.

#include "platform/audio/dialog_services.h"

namespace quil::shell {

class MainWindow;

class QtDialogServices final : public MessageBoxService, public FormatChooser {
public:
    explicit QtDialogServices(MainWindow* window);
    ~QtDialogServices();
    QtDialogServices(const QtDialogServices&) = delete;
    QtDialogServices& operator=(const QtDialogServices&) = delete;

    int Show(HWND owner, const char* text, const char* caption, UINT type) override;
    bool Choose(HWND owner, std::span<const WAVEFORMATEX> formats, const WAVEFORMATEX& current,
                WAVEFORMATEX* chosen) override;

private:
    MainWindow* window_;
    MessageBoxService* previousBoxes_;
    FormatChooser* previousChooser_;
};

}  // namespace quil::shell
