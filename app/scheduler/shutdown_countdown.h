#pragma once

// The minute's warning before a scheduled task powers the computer off: a countdown the user can
// cancel, after which the power service is asked to power off.

#include <QDateTime>
#include <QDialog>

#include "app/shell/services.h"

class QLabel;
class QPushButton;
class QTimer;

namespace quil::scheduler {

class ShutdownCountdown : public QDialog {
    Q_OBJECT

public:
    ShutdownCountdown(const shell::Services& services, QWidget* parent = nullptr);

    // Shows the dialog and counts down from the clock's present.
    void Start();
    int SecondsLeft() const;

    static constexpr int kCountdownSeconds = 60;

signals:
    // After the power service was asked (succeeded tells its answer), or on Cancel.
    void Finished(bool poweredOff);

private:
    void Update();
    void Cancel();

    shell::Services services_;
    QDateTime deadline_;
    QLabel* text_;
    QPushButton* cancel_;
    QTimer* timer_;
};

}  // namespace quil::scheduler
