#include "app/shell/services.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDesktopServices>
#include <QFileDialog>
#include <QProcess>

#include "app/shell/dbus_notifier.h"
#include "app/shell/string_table.h"

namespace quil::shell {

QMessageBox::StandardButton MessageBoxes::ShowString(QWidget* parent, int stringId) {
    return Warn(parent, LoadString(stringId));
}

QMessageBox::StandardButton MessageBoxes::Warn(QWidget* parent, const QString& text) {
    return Show(parent, text, LoadString(57344), QMessageBox::Ok, QMessageBox::Warning);
}

QMessageBox::StandardButton MessageBoxes::Ask(QWidget* parent, const QString& text,
                                              const QString& caption) {
    return Show(parent, text, caption.isEmpty() ? LoadString(57344) : caption,
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Question);
}

namespace {

class QtMessageBoxes final : public MessageBoxes {
public:
    QMessageBox::StandardButton Show(QWidget* parent, const QString& text, const QString& caption,
                                     QMessageBox::StandardButtons buttons,
                                     QMessageBox::Icon icon) override {
        QMessageBox box(icon, caption, text, buttons, parent);
        box.setObjectName("messageBox");
        return static_cast<QMessageBox::StandardButton>(box.exec());
    }
};

class QtFileDialogs final : public FileDialogs {
public:
    QStringList OpenFiles(QWidget* parent, const QString& caption, const QString& folder,
                          const QString& filter) override {
        return QFileDialog::getOpenFileNames(parent, caption, folder, filter);
    }
    QString ChooseFolder(QWidget* parent, const QString& caption, const QString& folder) override {
        return QFileDialog::getExistingDirectory(parent, caption, folder);
    }
};

class SystemClock final : public Clock {
public:
    QDateTime Now() const override { return QDateTime::currentDateTime(); }
};

class ProcessLauncher final : public ProgramLauncher {
public:
    bool Start(const QString& program, const QStringList& arguments) override {
        return QProcess::startDetached(program, arguments);
    }
};

class QtDesktop final : public Desktop {
public:
    bool Open(const QUrl& url) override { return QDesktopServices::openUrl(url); }
};

// logind's PowerOff on the system bus; interactive so that polkit may ask the user.
class LogindPower final : public PowerControl {
public:
    bool PowerOff() override {
        QDBusInterface logind("org.freedesktop.login1", "/org/freedesktop/login1",
                              "org.freedesktop.login1.Manager", QDBusConnection::systemBus());
        if (!logind.isValid()) return false;
        QDBusReply<void> reply = logind.call("PowerOff", true);
        return reply.isValid();
    }
};

}  // namespace

Services Services::WithDefaults() const {
    static QtMessageBoxes messageBoxes;
    static QtFileDialogs fileDialogs;
    static SystemClock systemClock;
    static ProcessLauncher processLauncher;
    static QtDesktop desktopService;
    static LogindPower logindPower;
    static DBusNotifier dbusNotifier;
    Services all = *this;
    if (!all.messages) all.messages = &messageBoxes;
    if (!all.files) all.files = &fileDialogs;
    if (!all.clock) all.clock = &systemClock;
    if (!all.launcher) all.launcher = &processLauncher;
    if (!all.desktop) all.desktop = &desktopService;
    if (!all.power) all.power = &logindPower;
    if (!all.notifier) all.notifier = &dbusNotifier;
    return all;
}

QString QtFileFilter(const QString& windowsFilter) {
    const QStringList parts = windowsFilter.split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString name = parts[i].trimmed();
        if (name.isEmpty()) break;
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == "*.*") pattern = "*";
        }
        // Qt reads the patterns from the last parentheses of the name.
        QString label = name;
        const int open = label.lastIndexOf('(');
        if (open > 0) label = label.left(open).trimmed();
        filters << QStringLiteral("%1 (%2)").arg(label, patterns.join(' '));
    }
    return filters.join(";;");
}

}  // namespace quil::shell
