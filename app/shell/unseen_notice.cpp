#include "app/shell/unseen_notice.h"

#include <QWidget>

#include "app/shell/services.h"

namespace quil::shell {

void NotifyUnseen(const QWidget* widget, const Services& services, const QString& summary,
                  const QString& body) {
    const QWidget* window = widget ? widget->window() : nullptr;
    if (window && window->isActiveWindow()) return;
    if (services.notifier) services.notifier->Notify(summary, body);
}

QString CountText(int count, const QString& one, const QString& many) {
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? one : many);
}

}  // namespace quil::shell
