#include "update/quilmend/message_bridge.h"

#include <QCoreApplication>
#include <QEvent>

namespace quil::updater {

namespace {

const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class MessageEvent final : public QEvent {
public:
    explicit MessageEvent(const Message& message) : QEvent(kMessageEvent), message(message) {}
    Message message;
};

}  // namespace

MessageBridge::MessageBridge(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

MessageBridge::~MessageBridge() {
    Detach();
}

void MessageBridge::Post(const Message& message) {
    QCoreApplication::postEvent(this, new MessageEvent(message));
}

LRESULT MessageBridge::Handle(const Message& message) {
    if (handler_) handler_(message);
    return 0;
}

void MessageBridge::customEvent(QEvent* event) {
    if (event->type() == kMessageEvent) Handle(static_cast<MessageEvent*>(event)->message);
}

}  // namespace quil::updater
