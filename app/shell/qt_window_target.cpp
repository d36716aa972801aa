#include "app/shell/qt_window_target.h"

#include <QCoreApplication>

namespace quil::shell {

namespace {

class WindowMessageEvent final : public QEvent {
public:
    explicit WindowMessageEvent(const Message& message)
        : QEvent(QtWindowTarget::EventType()), message(message) {}
    Message message;
    // A message sent from another thread; dropped unrun when the target dies first, which
    // answers its sender 0.
    std::function<void()> call;
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

bool QtWindowTarget::PostCall(std::function<void()> call) {
    auto* event = new WindowMessageEvent(Message{});
    event->call = std::move(call);
    QCoreApplication::postEvent(this, event);
    return true;
}

LRESULT QtWindowTarget::Handle(const Message& message) {
    return handler_ ? handler_(message) : 0;
}

bool QtWindowTarget::event(QEvent* event) {
    if (event->type() != EventType()) return QObject::event(event);
    auto* message = static_cast<WindowMessageEvent*>(event);
    if (message->call) {
        message->call();
    } else {
        Handle(message->message);
    }
    return true;
}

}  // namespace quil::shell
