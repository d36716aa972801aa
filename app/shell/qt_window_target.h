#pragma once

// Adapts a Qt object to platform/window: messages posted to its handle from any thread arrive
// as Qt events and are handled on the UI thread, in order. Grabbers, workers and the skinned
// controls reach a widget only this way.

#include <QEvent>
#include <QObject>

#include <functional>

#include "platform/window/window.h"

namespace quil::shell {

class QtWindowTarget final : public QObject, public WindowTarget {
public:
    using Handler = std::function<LRESULT(const Message&)>;
    // The handler runs on the thread of `parent` (the UI thread).
    QtWindowTarget(QObject* parent, Handler handler);
    ~QtWindowTarget() override;

    void Post(const Message& message) override;
    LRESULT Handle(const Message& message) override;
    // Messages sent from other threads run here, on the UI thread, in order with posted ones.
    bool PostCall(std::function<void()> call) override;

    static QEvent::Type EventType();

protected:
    bool event(QEvent* event) override;

private:
    Handler handler_;
};

}  // namespace quil::shell
