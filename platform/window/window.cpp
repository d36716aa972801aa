#include "platform/window/window.h"

#include <atomic>
#include <memory>
#include <unordered_map>

namespace quil {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<HWND, WindowTarget*> targets;
    uintptr_t next = 0x1000;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable();
    return *table;
}

}  // namespace

WindowTarget::WindowTarget() {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    handle_ = reinterpret_cast<HWND>(table.next);
    table.next += 0x10;
    table.targets[handle_] = this;
}

WindowTarget::~WindowTarget() {
    Detach();
}

void WindowTarget::Detach() {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    table.targets.erase(handle_);
}

bool WindowTarget::PostCall(std::function<void()>) {
    return false;
}

namespace {

// The answer to a message sent across threads. The queued call owns one; when the call is
// dropped unrun (its target destroyed first) the sender is answered 0.
class Reply {
public:
    void Finish(LRESULT result) {
        std::lock_guard lock(mutex_);
        if (done_) return;
        result_ = result;
        done_ = true;
        finished_.notify_all();
    }
    LRESULT Wait() {
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [&] { return done_; });
        return result_;
    }

private:
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    LRESULT result_ = 0;
};

struct PendingReply {
    std::shared_ptr<Reply> reply = std::make_shared<Reply>();
    ~PendingReply() { reply->Finish(0); }
};

// Handles a message on the calling thread, which is the target's own.
LRESULT HandleHere(const Message& message) {
    WindowTarget* target = nullptr;
    {
        auto& table = Table();
        std::lock_guard lock(table.mutex);
        auto it = table.targets.find(message.window);
        if (it == table.targets.end()) return 0;
        target = it->second;
    }
    // Only this thread destroys the target, so it lives through the call.
    return target->Handle(message);
}

}  // namespace

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto& table = Table();
    // Held while posting, so a target cannot finish detaching halfway through a Post.
    std::lock_guard lock(table.mutex);
    auto it = table.targets.find(window);
    if (it == table.targets.end()) return false;
    it->second->Post({window, message, wParam, lParam});
    return true;
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Message sent{window, message, wParam, lParam};
    std::shared_ptr<Reply> reply;
    {
        auto& table = Table();
        // Held while queueing, so the target cannot finish detaching halfway through.
        std::lock_guard lock(table.mutex);
        auto it = table.targets.find(window);
        if (it == table.targets.end()) return 0;
        WindowTarget* target = it->second;
        if (target->OwnerThread() != std::this_thread::get_id()) {
            auto pending = std::make_shared<PendingReply>();
            reply = pending->reply;
            // The target is looked up again when the call runs: it may be gone by then.
            if (!target->PostCall([pending, sent] { pending->reply->Finish(HandleHere(sent)); }))
                return 0;
        }
    }
    return reply ? reply->Wait() : HandleHere(sent);
}

bool IsWindow(HWND window) {
    auto& table = Table();
    std::lock_guard lock(table.mutex);
    return table.targets.count(window) != 0;
}

QueueWindow::QueueWindow(Handler handler) : handler_(std::move(handler)) {}

QueueWindow::~QueueWindow() {
    Detach();
}

void QueueWindow::Post(const Message& message) {
    std::lock_guard lock(mutex_);
    queue_.push_back({message, {}});
    arrived_.notify_all();
}

bool QueueWindow::PostCall(std::function<void()> call) {
    std::lock_guard lock(mutex_);
    queue_.push_back({{}, std::move(call)});
    arrived_.notify_all();
    return true;
}

LRESULT QueueWindow::Handle(const Message& message) {
    return handler_ ? handler_(message) : 0;
}

std::optional<Message> QueueWindow::Take(std::chrono::milliseconds timeout) {
    SetOwnerThread(std::this_thread::get_id());
    auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    while (true) {
        if (!arrived_.wait_until(lock, deadline, [&] { return !queue_.empty(); }))
            return std::nullopt;
        Item item = std::move(queue_.front());
        queue_.pop_front();
        if (!item.call) return item.message;
        // A message sent from another thread is handled here and now; its sender waits.
        lock.unlock();
        item.call();
        item.call = nullptr;
        lock.lock();
    }
}

int QueueWindow::Drain() {
    SetOwnerThread(std::this_thread::get_id());
    int handled = 0;
    while (true) {
        Item item;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return handled;
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        if (item.call) {
            item.call();
        } else {
            Handle(item.message);
        }
        ++handled;
    }
}

size_t QueueWindow::Pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace quil
