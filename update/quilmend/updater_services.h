#pragma once

// What the updater asks of the desktop, behind one small interface so tests can answer it.

#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace quil::updater {

class UpdaterServices {
public:
    virtual ~UpdaterServices() = default;
    // A question with Yes and No and a question icon; true for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& title, const QString& text) = 0;
    virtual void ShowAbout(QWidget* parent) = 0;
    // Starts a program detached from this one; false when it could not be started.
    virtual bool StartProgram(const QString& path, const QStringList& arguments) = 0;
    // Opens the address in the user's web browser.
    virtual bool OpenUrl(const QUrl& url) = 0;
};

class DesktopServices final : public UpdaterServices {
public:
    bool AskYesNo(QWidget* parent, const QString& title, const QString& text) override;
    void ShowAbout(QWidget* parent) override;
    bool StartProgram(const QString& path, const QStringList& arguments) override;
    bool OpenUrl(const QUrl& url) override;
};

}  // namespace quil::updater
