#pragma once

// Window targets: what the engine and worker threads post messages to. A handle (HWND) names a
// target; a handle whose target is gone swallows messages, so a late message from a worker can
// never reach a destroyed window. The Qt program adapts its widgets to WindowTarget; tests and
// command-line tools use QueueWindow.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

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
    // Called from any thread; must not block. Runs `call` later, in order with posted messages,
    // on the target's own thread. A target that cannot returns false, and SendMessage from
    // other threads is then refused.
    virtual bool PostCall(std::function<void()> call);

    // The thread that handles the target's messages: the one that created it, unless the
    // target says otherwise.
    std::thread::id OwnerThread() const { return owner_.load(); }

protected:
    // A subclass whose members Post or Handle use calls this first thing in its destructor, so
    // no thread can reach a half-destroyed object.
    void Detach();
    void SetOwnerThread(std::thread::id owner) { owner_.store(owner); }

private:
    HWND handle_;
    std::atomic<std::thread::id> owner_{std::this_thread::get_id()};
};

// Returns false when the handle names no live target.
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Handles the message on the target's own thread and returns its result: at once when called
// there, else by a call queued to that thread, waiting for it. 0 when the handle names no
// live target, when the target cannot take calls from other threads, or when it is destroyed
// before the message is handled.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool IsWindow(HWND window);

// A target with its own queue, drained by whoever owns it; the thread that last takes or
// drains is its own thread, and messages sent from other threads are handled there while it
// takes or drains.
class QueueWindow : public WindowTarget {
public:
    using Handler = std::function<LRESULT(const Message&)>;
    explicit QueueWindow(Handler handler = {});
    ~QueueWindow() override;

    void Post(const Message& message) override;
    LRESULT Handle(const Message& message) override;
    bool PostCall(std::function<void()> call) override;

    // Takes the next posted message, waiting at most `timeout`.
    std::optional<Message> Take(std::chrono::milliseconds timeout);
    // Handles every queued message; returns how many.
    int Drain();
    // Posted messages and calls not yet handled.
    size_t Pending() const;

private:
    struct Item {
        Message message;
        std::function<void()> call;  // a message sent from another thread
    };
    Handler handler_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Item> queue_;
};

}  // namespace quil
