#include "platform/window/window.h"

#include <atomic>
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
    WindowTarget* target = nullptr;
    {
        auto& table = Table();
        std::lock_guard lock(table.mutex);
        auto it = table.targets.find(window);
        if (it == table.targets.end()) return 0;
        target = it->second;
    }
    return target->Handle({window, message, wParam, lParam});
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
    queue_.push_back(message);
    arrived_.notify_all();
}

LRESULT QueueWindow::Handle(const Message& message) {
    return handler_ ? handler_(message) : 0;
}

std::optional<Message> QueueWindow::Take(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [&] { return !queue_.empty(); })) return std::nullopt;
    Message message = queue_.front();
    queue_.pop_front();
    return message;
}

int QueueWindow::Drain() {
    int handled = 0;
    while (true) {
        Message message;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return handled;
            message = queue_.front();
            queue_.pop_front();
        }
        Handle(message);
        ++handled;
    }
}

size_t QueueWindow::Pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace quil
