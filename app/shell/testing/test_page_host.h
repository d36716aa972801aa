#pragma once

// A stand-in for the main window, for tests of one page on its own: it keeps the texts a page
// sets and the messages it posts.

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>
#include <vector>

#include "app/settings/wma_profile_catalogue.h"
#include "app/shell/page.h"
#include "app/shell/testing/test_services.h"
#include "platform/window/window.h"

namespace quil::shell::testing {

class TestPageHost final : public PageHost {
public:
    TestPageHost() : services_(testServices.Set()) {}

    void SetFormatText(const QString& text) override { formatText = text; }
    void SetPathText(const QString& text) override { pathText = text; }
    int CurrentOutputFormat() const override { return outputFormat; }
    HWND MainWindowHandle() const override { return mainWindow.handle(); }
    const Services& services() const override { return services_; }
    const settings::WmaProfileCatalogue& WmaProfiles() const override { return catalogue; }

    // Moves what the page posted into `posted`.
    void Collect() {
        while (auto message = mainWindow.Take(std::chrono::milliseconds(0)))
            posted.push_back(*message);
    }
    bool WasPosted(UINT message) {
        Collect();
        for (const Message& m : posted)
            if (m.message == message) return true;
        return false;
    }

    TestServices testServices;
    QString formatText;
    QString pathText;
    int outputFormat = 0;
    settings::WmaProfileCatalogue catalogue;
    QueueWindow mainWindow;
    std::vector<Message> posted;

private:
    Services services_;
};

// Turns the event loop until `condition` holds or `timeoutMs` passed; returns the condition.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 20000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace quil::shell::testing
