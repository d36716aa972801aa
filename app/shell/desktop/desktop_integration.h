#pragma once

// What makes Quillet a good citizen of the Linux desktop: media controls (MPRIS) and no suspend
// while a grab or recording runs. Notifications of what ends unseen come from the pages and the
// scheduler, which know what was done (unseen_notice.h).

#include <QDBusConnection>
#include <QObject>

#include <memory>

namespace quil::shell {

class MainWindow;
class Mpris;
class SleepInhibitor;

class DesktopIntegration : public QObject {
    Q_OBJECT

public:
    // `sessionBus` carries MPRIS, `systemBus` reaches logind.
    DesktopIntegration(MainWindow& window, QDBusConnection sessionBus, QDBusConnection systemBus,
                       QObject* parent = nullptr);
    ~DesktopIntegration() override;

    Mpris* mpris() const { return mpris_.get(); }
    SleepInhibitor* inhibitor() const { return inhibitor_.get(); }

private:
    MainWindow& window_;
    std::unique_ptr<Mpris> mpris_;
    std::unique_ptr<SleepInhibitor> inhibitor_;
};

}  // namespace quil::shell
