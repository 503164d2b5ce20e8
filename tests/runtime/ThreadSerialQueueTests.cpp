#include "CompanionCore/runtime/ThreadSerialQueue.hpp"
#include "CompanionCore/runtime/UUID.hpp"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

// Waits for an event from the queue's thread; the limit only keeps a broken queue from hanging
// the suite, it is not a timing expectation.
class Signal {
public:
    void notify() {
        {
            std::lock_guard lock(mutex);
            ++count;
        }
        changed.notify_all();
    }
    bool waitFor(int expected) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 30s, [&] { return count >= expected; });
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
};

TEST(ThreadSerialQueue, RunsTasksOneAtATimeInOrderOnItsOwnNamedThread) {
    std::vector<int> order;
    std::set<std::thread::id> threads;
    char name[16] = {};
    Signal done;
    {
        ThreadSerialQueue queue("com.quartzfield.kavrel.ipc-write");
        EXPECT_EQ(queue.label(), "com.quartzfield.kavrel.ipc-write");
        std::thread producer([&] {
            for (int i = 0; i < 500; ++i) {
                queue.async([&, i] {
                    order.push_back(i);
                    threads.insert(std::this_thread::get_id());
                });
            }
        });
        producer.join();
        queue.async([&] {
            pthread_getname_np(pthread_self(), name, sizeof name);
            done.notify();
        });
        ASSERT_TRUE(done.waitFor(1));
    }
    std::vector<int> expected(500);
    for (int i = 0; i < 500; ++i) {
        expected[i] = i;
    }
    EXPECT_EQ(order, expected);
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), std::this_thread::get_id());
    EXPECT_STREQ(name, "ipc-write");
}

TEST(ThreadSerialQueue, DestructionFinishesQueuedTasksAndDropsTimers) {
    std::atomic<int> ran{0};
    std::atomic<bool> timerRan{false};
    {
        ThreadSerialQueue queue("com.quartzfield.kavrel.music");
        auto timer = queue.after(1h, [&] { timerRan = true; });
        for (int i = 0; i < 100; ++i) {
            queue.async([&] { ++ran; });
        }
    }
    EXPECT_EQ(ran, 100);
    EXPECT_FALSE(timerRan);
}

TEST(ThreadSerialQueue, TimersFireUntilCancelledAndACancelledOneNeverStarts) {
    ThreadSerialQueue queue("com.quartzfield.kavrel.artwork");
    Signal ticks;
    std::atomic<bool> cancelledRan{false};
    auto cancelled = queue.after(1ms, [&] { cancelledRan = true; });
    cancelled.cancel();
    auto repeating = queue.every(1ms, [&] { ticks.notify(); });
    // The repeating timer was due after the cancelled one, so by its third firing the cancelled
    // one would have run.
    ASSERT_TRUE(ticks.waitFor(3));
    repeating.cancel();
    EXPECT_FALSE(cancelledRan);

    Signal once;
    auto single = queue.after(1ms, [&] { once.notify(); });
    ASSERT_TRUE(once.waitFor(1));
}

TEST(UUID, IsCanonicalUpperCaseAndFresh) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i) {
        const auto text = makeUUIDString();
        ASSERT_EQ(text.size(), 36u);
        for (std::size_t at : {8u, 13u, 18u, 23u}) {
            EXPECT_EQ(text[at], '-');
        }
        EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF-"), std::string::npos) << text;
        EXPECT_EQ(text[14], '4'); // a random UUID
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 1000u);
}

} // namespace
} // namespace kavrel
