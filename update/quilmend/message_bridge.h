#pragma once

// Lets worker threads post window messages to a Qt object: each message becomes a posted event
// handled on the object's own thread.

#include <QObject>
#include <functional>

#include "platform/window/window.h"

namespace quil::updater {

class MessageBridge final : public QObject, public WindowTarget {
public:
    using Handler = std::function<void(const Message&)>;
    MessageBridge(Handler handler, QObject* parent);
    ~MessageBridge() override;

    void Post(const Message& message) override;
    LRESULT Handle(const Message& message) override;

protected:
    void customEvent(QEvent* event) override;

private:
    Handler handler_;
};

}  // namespace quil::updater
