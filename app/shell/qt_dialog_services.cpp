#include "app/shell/qt_dialog_services.h"

#include <QInputDialog>

#include "app/shell/main_window.h"

namespace quil::shell {

QtDialogServices::QtDialogServices(MainWindow* window)
    : window_(window),
      previousBoxes_(SetMessageBoxService(this)),
      previousChooser_(SetFormatChooser(this)) {}

QtDialogServices::~QtDialogServices() {
    SetMessageBoxService(previousBoxes_);
    SetFormatChooser(previousChooser_);
}

int QtDialogServices::Show(HWND, const char* text, const char* caption, UINT type) {
    const auto icon = (type & MB_ICONERROR) ? QMessageBox::Critical : QMessageBox::Information;
    window_->services().messages->Show(window_, QString::fromUtf8(text), QString::fromUtf8(caption),
                                       QMessageBox::Ok, icon);
    return IDOK;
}

bool QtDialogServices::Choose(HWND, std::span<const WAVEFORMATEX> formats,
                              const WAVEFORMATEX& current, WAVEFORMATEX* chosen) {
    QStringList items;
    int selected = 0;
    for (size_t i = 0; i < formats.size(); ++i) {
        const WAVEFORMATEX& format = formats[i];
        items << QStringLiteral("%1 Hz, %2 bit, %3")
                     .arg(format.nSamplesPerSec)
                     .arg(format.wBitsPerSample)
                     .arg(format.nChannels == 1 ? "Mono" : "Stereo");
        if (format.nSamplesPerSec == current.nSamplesPerSec &&
            format.wBitsPerSample == current.wBitsPerSample &&
            format.nChannels == current.nChannels)
            selected = static_cast<int>(i);
    }
    bool ok = false;
    const QString item =
        QInputDialog::getItem(window_, "Sound Selection", "Format:", items, selected, false, &ok);
    if (!ok) return false;
    *chosen = formats[static_cast<size_t>(items.indexOf(item))];
    return true;
}

}  // namespace quil::shell
