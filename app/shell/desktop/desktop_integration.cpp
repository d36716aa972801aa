#include "app/shell/desktop/desktop_integration.h"

#include "app/shell/desktop/mpris.h"
#include "app/shell/desktop/sleep_inhibitor.h"
#include "app/shell/main_window.h"

namespace quil::shell {

DesktopIntegration::DesktopIntegration(MainWindow& window, QDBusConnection sessionBus,
                                       QDBusConnection systemBus, QObject* parent)
    : QObject(parent),
      window_(window),
      mpris_(std::make_unique<Mpris>(window, sessionBus)),
      inhibitor_(std::make_unique<SleepInhibitor>(systemBus)) {
    connect(&window_, &MainWindow::ActivityChanged, this, [this] {
        if (window_.IsBusy() && window_.IsGrabbing())
            inhibitor_->Acquire(QStringLiteral("A recording is running"));
        else
            inhibitor_->Release();
    });
}

DesktopIntegration::~DesktopIntegration() = default;

}  // namespace quil::shell
