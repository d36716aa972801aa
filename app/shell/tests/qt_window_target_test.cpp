// Messages sent to a widget's window target from worker threads are handled on the UI thread,
// and a sender waiting on a target that is destroyed gets 0 instead of reaching it.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "app/shell/qt_window_target.h"
#include "app/shell/testing/qt_application.h"

namespace quil::shell {
namespace {

using namespace std::chrono_literals;

// Processes events until `done` holds, at most 20 s.
template <class Done>
bool ProcessUntil(Done done) {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

TEST(QtWindowTarget, SendMessageFromAWorkerRunsOnTheUiThread) {
    testing::EnsureApplication();
    QObject owner;
    std::thread::id handledOn;
    QtWindowTarget target(&owner, [&](const Message& message) -> LRESULT {
        handledOn = std::this_thread::get_id();
        return static_cast<LRESULT>(message.wParam * 3);
    });
    std::atomic<LRESULT> answer{-1};
    std::thread worker([&] { answer = SendMessage(target.handle(), 5148, 14, 0); });
    EXPECT_TRUE(ProcessUntil([&] { return answer != -1; }));
    worker.join();
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(handledOn, std::this_thread::get_id());
}

// Whether the send was queued before the target went or came after, the sender gets 0 and the
// handler never runs on a dead target.
TEST(QtWindowTarget, SendersToATargetDestroyedFirstGetZero) {
    testing::EnsureApplication();
    QObject owner;
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> handled{0};
        auto target = std::make_unique<QtWindowTarget>(&owner, [&](const Message&) -> LRESULT {
            ++handled;
            return 1;
        });
        HWND handle = target->handle();
        std::atomic<LRESULT> answer{-1};
        std::thread worker([&] { answer = SendMessage(handle, 5148, 0, 0); });
        std::this_thread::yield();
        target.reset();
        worker.join();
        EXPECT_EQ(answer, 0);
        EXPECT_EQ(handled, 0);
    }
}

}  // namespace
}  // namespace quil::shell
