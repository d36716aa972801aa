#pragma once

#include "app/shell/page.h"

class QTextBrowser;

namespace quil::shell {

// The home page: the program's own start page, shipped with it, under a header with Back,
// Forward, Refresh and Home. Links to the web open in the user's browser.
class HomePage final : public Page {
    Q_OBJECT

public:
    static const QUrl& HomeUrl();

    HomePage(PageHost& host, QWidget* parent = nullptr);

    int StartGrab() override { return 0; }
    int PauseGrab() override { return 0; }
    int StopGrab() override { return 0; }
    int Play() override { return 0; }
    int PausePlayback() override { return 0; }
    int StopPlayback() override { return 0; }
    int Previous() override { return 0; }
    int Next() override { return 0; }
    void ShowVideo(bool) override {}

    QTextBrowser* Browser() const { return browser_; }

protected:
    LRESULT OnMessage(const Message&) override { return 0; }

private:
    QTextBrowser* browser_;
};

}  // namespace quil::shell
