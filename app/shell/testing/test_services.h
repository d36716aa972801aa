#pragma once

// Services that answer in place of the user and remember what was asked, for the UI tests of
// the main window and its pages.

#include <QDateTime>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <vector>

#include "app/shell/services.h"

namespace quil::shell::testing {

class RecordingMessageBoxes final : public MessageBoxes {
public:
    struct Box {
        QString text;
        QString caption;
        QMessageBox::StandardButtons buttons;
        QMessageBox::Icon icon;
    };
    QMessageBox::StandardButton Show(QWidget*, const QString& text, const QString& caption,
                                     QMessageBox::StandardButtons buttons,
                                     QMessageBox::Icon icon) override {
        shown.push_back({text, caption, buttons, icon});
        if (!answers.empty()) {
            auto answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    }
    QStringList Texts() const {
        QStringList texts;
        for (const Box& box : shown) texts << box.text;
        return texts;
    }
    std::vector<Box> shown;
    // Buttons the next boxes answer with; Yes (or Ok) when empty.
    std::deque<QMessageBox::StandardButton> answers;
};

class ScriptedFileDialogs final : public FileDialogs {
public:
    QStringList OpenFiles(QWidget*, const QString&, const QString&,
                          const QString& filter) override {
        lastFilter = filter;
        return files;
    }
    QString ChooseFolder(QWidget*, const QString&, const QString&) override { return folder; }
    QStringList files;
    QString folder;
    QString lastFilter;
};

class SetClock final : public Clock {
public:
    QDateTime Now() const override { return now; }
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0));
};

class RecordingLauncher final : public ProgramLauncher {
public:
    bool Start(const QString& program, const QStringList& arguments) override {
        started.push_back({program, arguments});
        return succeed;
    }
    struct Start_ {
        QString program;
        QStringList arguments;
    };
    std::vector<Start_> started;
    bool succeed = true;
};

class RecordingDesktop final : public Desktop {
public:
    bool Open(const QUrl& url) override {
        opened.push_back(url);
        return true;
    }
    std::vector<QUrl> opened;
};

class RecordingPower final : public PowerControl {
public:
    bool PowerOff() override {
        ++requests;
        return true;
    }
    int requests = 0;
};

class RecordingNotifier final : public Notifier {
public:
    void Notify(const QString& summary, const QString& body) override {
        notes.push_back(summary + "\n" + body);
    }
    QStringList notes;
};

// All of the above, as one set the window under test takes.
struct TestServices {
    RecordingMessageBoxes messages;
    ScriptedFileDialogs files;
    SetClock clock;
    RecordingLauncher launcher;
    RecordingDesktop desktop;
    RecordingPower power;
    RecordingNotifier notifier;

    Services Set() {
        return Services{&messages, &files, &clock, &launcher, &desktop, &power, &notifier};
    }
};

}  // namespace quil::shell::testing
