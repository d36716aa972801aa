#include "app/scheduler/shutdown_countdown.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/shell/string_table.h"

namespace quil::scheduler {

ShutdownCountdown::ShutdownCountdown(const shell::Services& services, QWidget* parent)
    : QDialog(parent), services_(services.WithDefaults()) {
    setObjectName("shutdownCountdown");
    setWindowTitle(shell::LoadString(57344));
    text_ = new QLabel(this);
    text_->setObjectName("countdownText");
    text_->setMinimumWidth(text_->fontMetrics().horizontalAdvance(
        "The scheduled task has finished. The computer shuts down in 60 seconds."));
    cancel_ = new QPushButton(tr("Cancel"), this);
    cancel_->setObjectName("cancelShutdown");
    cancel_->setAccessibleName(cancel_->text());
    cancel_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addLayout(buttons);

    timer_ = new QTimer(this);
    timer_->setInterval(250);
    connect(timer_, &QTimer::timeout, this, &ShutdownCountdown::Update);
    connect(cancel_, &QPushButton::clicked, this, &ShutdownCountdown::Cancel);
    // Escape and the window's close button cancel as well.
    connect(this, &QDialog::rejected, this, &ShutdownCountdown::Cancel);
}

void ShutdownCountdown::Start() {
    deadline_ = services_.clock->Now().addSecs(kCountdownSeconds);
    Update();
    timer_->start();
    show();
    raise();
    activateWindow();
    services_.notifier->Notify(shell::LoadString(57344), text_->text());
}

int ShutdownCountdown::SecondsLeft() const {
    return static_cast<int>(std::max<qint64>(0, services_.clock->Now().secsTo(deadline_)));
}

void ShutdownCountdown::Update() {
    const int left = SecondsLeft();
    text_->setText(left == 1 ? tr("The scheduled task has finished. The computer shuts down in "
                                  "1 second.")
                             : tr("The scheduled task has finished. The computer shuts down in "
                                  "%1 seconds.")
                                   .arg(left));
    text_->setAccessibleName(text_->text());
    if (left > 0 || !timer_->isActive()) return;
    timer_->stop();
    hide();
    const bool poweredOff = services_.power->PowerOff();
    if (!poweredOff) {
        services_.messages->Warn(parentWidget(),
                                 tr("The computer could not be shut down: the system refused or "
                                    "no login manager answered."));
    }
    emit Finished(poweredOff);
    deleteLater();
}

void ShutdownCountdown::Cancel() {
    if (!timer_->isActive()) return;
    timer_->stop();
    hide();
    emit Finished(false);
    deleteLater();
}

}  // namespace quil::scheduler
