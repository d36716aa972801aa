#pragma once

// What the desktop program asks of the desktop, behind small interfaces so tests can answer in
// place of the user and observe what would have happened. Widgets never call QMessageBox,
// QFileDialog, QProcess or QDesktopServices directly; they go through Services.

#include <QDateTime>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace quil::shell {

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows a modal box and returns the button pressed (QMessageBox::Ok when there is only one).
    virtual QMessageBox::StandardButton Show(QWidget* parent, const QString& text,
                                             const QString& caption,
                                             QMessageBox::StandardButtons buttons,
                                             QMessageBox::Icon icon) = 0;

    // The usual box: a string of the table, caption "Quillet", OK and a warning icon.
    QMessageBox::StandardButton ShowString(QWidget* parent, int stringId);
    QMessageBox::StandardButton Warn(QWidget* parent, const QString& text);
    QMessageBox::StandardButton Ask(QWidget* parent, const QString& text,
                                    const QString& caption = {});
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // filter in Qt's syntax ("Audio (*.wav *.mp3);;All files (*)"). Empty when cancelled.
    virtual QStringList OpenFiles(QWidget* parent, const QString& caption, const QString& folder,
                                  const QString& filter) = 0;
    virtual QString ChooseFolder(QWidget* parent, const QString& caption,
                                 const QString& folder) = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime Now() const = 0;
};

class ProgramLauncher {
public:
    virtual ~ProgramLauncher() = default;
    // Starts a program detached from this one; false when it could not be started.
    virtual bool Start(const QString& program, const QStringList& arguments) = 0;
};

class Desktop {
public:
    virtual ~Desktop() = default;
    // Opens a web address in the user's browser or a folder in the file manager.
    virtual bool Open(const QUrl& url) = 0;
};

class PowerControl {
public:
    virtual ~PowerControl() = default;
    // Asks the system to power off; false when it refused or no service answered.
    virtual bool PowerOff() = 0;
};

class Notifier {
public:
    virtual ~Notifier() = default;
    // A desktop notification; does nothing where no notification service runs.
    virtual void Notify(const QString& summary, const QString& body) = 0;
};

// The set of services the main window and its pages use. Unset members fall back to the
// desktop's real ones.
struct Services {
    MessageBoxes* messages = nullptr;
    FileDialogs* files = nullptr;
    Clock* clock = nullptr;
    ProgramLauncher* launcher = nullptr;
    Desktop* desktop = nullptr;
    PowerControl* power = nullptr;
    Notifier* notifier = nullptr;

    // This set with every unset member replaced by the desktop's own service.
    Services WithDefaults() const;
};

// Qt's converter of a Windows filter string ("Name|*.a;*.b|Other|*.*||") to Qt's syntax
// ("Name (*.a *.b);;Other (*)").
QString QtFileFilter(const QString& windowsFilter);

}  // namespace quil::shell
