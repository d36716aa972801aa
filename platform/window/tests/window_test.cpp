#include "platform/window/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace quil {
namespace {

using namespace std::chrono_literals;

TEST(WindowTest, PostedMessagesArriveInOrderWithTheirParameters) {
    QueueWindow window;
    HWND handle = window.handle();
    ASSERT_TRUE(IsWindow(handle));
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(PostMessage(handle, 5148, i, -i));
    EXPECT_EQ(window.Pending(), 100u);
    for (int i = 0; i < 100; ++i) {
        auto message = window.Take(0ms);
        ASSERT_TRUE(message);
        EXPECT_EQ(message->window, handle);
        EXPECT_EQ(message->message, 5148u);
        EXPECT_EQ(message->wParam, static_cast<WPARAM>(i));
        EXPECT_EQ(message->lParam, -i);
    }
    EXPECT_FALSE(window.Take(0ms));
}

TEST(WindowTest, EachThreadsMessagesKeepTheirOrder) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 5000;
    QueueWindow window;
    std::vector<std::jthread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) PostMessage(window.handle(), 2139, t, i);
        });
    }
    std::vector<LPARAM> last(kThreads, -1);
    int received = 0;
    while (received < kThreads * kPerThread) {
        auto message = window.Take(10s);
        ASSERT_TRUE(message) << "after " << received;
        auto thread = static_cast<size_t>(message->wParam);
        ASSERT_LT(thread, last.size());
        EXPECT_EQ(message->lParam, last[thread] + 1);
        last[thread] = message->lParam;
        ++received;
    }
    EXPECT_EQ(window.Pending(), 0u);
}

TEST(WindowTest, TakeWakesWhenAnotherThreadPosts) {
    QueueWindow window;
    std::jthread poster([&] {
        std::this_thread::sleep_for(50ms);
        PostMessage(window.handle(), 6158, 0, 0);
    });
    auto message = window.Take(30s);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->message, 6158u);
}

TEST(WindowTest, SendMessageHandlesAtOnceAndDrainHandlesQueued) {
    std::vector<UINT> handled;
    QueueWindow window([&](const Message& message) -> LRESULT {
        handled.push_back(message.message);
        return static_cast<LRESULT>(message.wParam * 2);
    });
    PostMessage(window.handle(), 1, 0, 0);
    EXPECT_EQ(SendMessage(window.handle(), 2, 21, 0), 42);
    EXPECT_EQ(handled, std::vector<UINT>{2});
    PostMessage(window.handle(), 3, 0, 0);
    EXPECT_EQ(window.Drain(), 2);
    EXPECT_EQ(handled, (std::vector<UINT>{2, 1, 3}));
    EXPECT_EQ(window.Drain(), 0);
}

TEST(WindowTest, DeadHandleSwallowsMessages) {
    HWND dead;
    {
        QueueWindow window([](const Message&) -> LRESULT { return 1; });
        dead = window.handle();
    }
    EXPECT_FALSE(IsWindow(dead));
    EXPECT_FALSE(PostMessage(dead, 5150, 0, 0));
    EXPECT_EQ(SendMessage(dead, 5150, 0, 0), 0);
    EXPECT_FALSE(IsWindow(nullptr));
    EXPECT_FALSE(PostMessage(nullptr, 1, 0, 0));

    // A new window never takes the old handle, so a late message cannot reach it.
    std::set<HWND> seen{dead};
    for (int i = 0; i < 100; ++i) {
        QueueWindow next;
        EXPECT_TRUE(seen.insert(next.handle()).second);
    }
}

TEST(WindowTest, WorkersPostingWhileTheWindowDiesNeverCrash) {
    for (int round = 0; round < 20; ++round) {
        auto window = std::make_unique<QueueWindow>();
        HWND handle = window->handle();
        std::atomic<bool> go{false};
        std::atomic<int> refused{0};
        std::vector<std::jthread> workers;
        for (int t = 0; t < 3; ++t) {
            workers.emplace_back([&] {
                while (!go) std::this_thread::yield();
                for (int i = 0; i < 2000; ++i) {
                    if (!PostMessage(handle, 2137, i, 0)) ++refused;
                }
            });
        }
        go = true;
        std::this_thread::sleep_for(1ms);
        window.reset();
        workers.clear();
        EXPECT_FALSE(IsWindow(handle));
        EXPECT_FALSE(PostMessage(handle, 2137, 0, 0));
    }
}

// A message sent from another thread is handled on the window's own thread, while that thread
// takes its messages, and the sender gets the handler's result.
TEST(WindowTest, SendMessageFromAnotherThreadRunsOnTheWindowsThread) {
    std::thread::id handledOn;
    QueueWindow window([&](const Message& message) -> LRESULT {
        handledOn = std::this_thread::get_id();
        return static_cast<LRESULT>(message.wParam + 1);
    });
    std::atomic<LRESULT> answer{-1};
    std::jthread sender([&] {
        answer = SendMessage(window.handle(), 7, 41, 0);
        PostMessage(window.handle(), 8, 0, 0);
    });
    // The sent message is handled inside Take; the posted one that follows is returned.
    auto message = window.Take(30s);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->message, 8u);
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(handledOn, std::this_thread::get_id());
}

// Senders blocked on a window that is destroyed get 0 and never reach the dead object.
TEST(WindowTest, SendersToAWindowDestroyedMeanwhileGetZero) {
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> handled{0};
        auto window = std::make_unique<QueueWindow>([&](const Message&) -> LRESULT {
            ++handled;
            return 1;
        });
        HWND handle = window->handle();
        std::atomic<int> answered{0}, ones{0};
        std::vector<std::jthread> senders;
        for (int t = 0; t < 3; ++t) {
            senders.emplace_back([&] {
                for (int i = 0; i < 50; ++i) {
                    LRESULT result = SendMessage(handle, 2137, i, 0);
                    ones += result == 1 ? 1 : 0;
                    ++answered;
                }
            });
        }
        window->Take(1ms);
        window.reset();
        senders.clear();
        EXPECT_EQ(answered, 150);
        EXPECT_EQ(ones, handled);
    }
}

// A target that cannot run calls on its own thread refuses messages sent from other threads
// rather than run its handler on the sender's thread.
TEST(WindowTest, ATargetWithoutCallsRefusesSendsFromOtherThreads) {
    class Plain final : public WindowTarget {
    public:
        ~Plain() override { Detach(); }
        void Post(const Message&) override {}
        LRESULT Handle(const Message&) override {
            ++handled;
            return 5;
        }
        std::atomic<int> handled{0};
    } plain;
    EXPECT_EQ(SendMessage(plain.handle(), 1, 0, 0), 5);
    LRESULT fromOther = -1;
    std::jthread([&] { fromOther = SendMessage(plain.handle(), 1, 0, 0); }).join();
    EXPECT_EQ(fromOther, 0);
    EXPECT_EQ(plain.handled, 1);
}

}  // namespace
}  // namespace quil
