#pragma once

// Window targets: what the engine and worker threads post messages to. A handle (HWND) names a
// target; a handle whose target is gone swallows messages, so a late message from a worker can
// never reach a destroyed window. The Qt program adapts its widgets to WindowTarget; tests and
// command-line tools use QueueWindow.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

#include "platform/com/types.h"

struct HWND__;
using HWND = HWND__*;

namespace quil {

struct Message {
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class WindowTarget {
public:
    WindowTarget();
    virtual ~WindowTarget();
    WindowTarget(const WindowTarget&) = delete;
    WindowTarget& operator=(const WindowTarget&) = delete;

    HWND handle() const { return handle_; }

    // Called from any thread; must not block. Delivery happens later, in order, on the target's
    // own thread.
    virtual void Post(const Message& message) = 0;
    // Called on the target's own thread; handles the message at once.
    virtual LRESULT Handle(const Message& message) = 0;

protected:
    // A subclass whose members Post or Handle use calls this first thing in its destructor, so
    // no thread can reach a half-destroyed object.
    void Detach();

private:
    HWND handle_;
};

// Returns false when the handle names no live target.
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Handles the message on the calling thread; 0 when the handle names no live target.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool IsWindow(HWND window);

// A target with its own queue, drained by whoever owns it.
class QueueWindow : public WindowTarget {
public:
    using Handler = std::function<LRESULT(const Message&)>;
    explicit QueueWindow(Handler handler = {});
    ~QueueWindow() override;

    void Post(const Message& message) override;
    LRESULT Handle(const Message& message) override;

    // Takes the next posted message, waiting at most `timeout`.
    std::optional<Message> Take(std::chrono::milliseconds timeout);
    // Handles every queued message; returns how many.
    int Drain();
    size_t Pending() const;

private:
    Handler handler_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Message> queue_;
};

}  // namespace quil
