#include "app/shell/qt_window_target.h"

#include <QCoreApplication>

namespace quil::shell {

namespace {

class WindowMessageEvent final : public QEvent {
public:
    explicit WindowMessageEvent(const Message& message)
        : QEvent(QtWindowTarget::EventType()), message(message) {}
    Message message;
};

}  // namespace

QtWindowTarget::QtWindowTarget(QObject* parent, Handler handler)
    : QObject(parent), handler_(std::move(handler)) {}

QtWindowTarget::~QtWindowTarget() {
    Detach();
}

QEvent::Type QtWindowTarget::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void QtWindowTarget::Post(const Message& message) {
    // postEvent is thread-safe; events still queued when this object dies are discarded by Qt.
    QCoreApplication::postEvent(this, new WindowMessageEvent(message));
}

LRESULT QtWindowTarget::Handle(const Message& message) {
    return handler_ ? handler_(message) : 0;
}

bool QtWindowTarget::event(QEvent* event) {
    if (event->type() != EventType()) return QObject::event(event);
    Handle(static_cast<WindowMessageEvent*>(event)->message);
    return true;
}

}  // namespace quil::shell
