#include "CompanionCore/runtime/Published.hpp"
#include "CompanionCore/runtime/ThreadSerialQueue.hpp"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

// Destruction runs what is queued but drops the timers, so the results are all in once the queue is gone.
TEST(ThreadSerialQueue, RunsTasksInOrderOnItsNamedThreadAndTimersUntilCancelledOrDestroyed) {
    std::vector<int> order;
    std::set<std::thread::id> threads;
    char name[16] = {};
    std::atomic<int> ticks{0};
    std::atomic<bool> cancelledRan{false};
    std::promise<void> third;
    auto thirdTick = third.get_future();
    {
        ThreadSerialQueue queue("com.quartzfield.kavrel.ipc-write");
        // The worker is held until the timer is cancelled, so a slow test thread cannot let it fire first.
        std::promise<void> holding, cancelledInTime;
        auto held = holding.get_future();
        queue.async([&, release = cancelledInTime.get_future().share()] {
            pthread_getname_np(pthread_self(), name, sizeof name);
            holding.set_value();
            release.wait();
        });
        ASSERT_EQ(held.wait_for(30s), std::future_status::ready); // a limit against hanging, not a timing
        queue.after(1ms, [&] { cancelledRan = true; }).cancel();
        cancelledInTime.set_value();
        // Due after the cancelled one: by its third firing the cancelled one would have run.
        auto repeating = queue.every(1ms, [&] {
            if (++ticks == 3) {
                third.set_value();
            }
        });
        ASSERT_EQ(thirdTick.wait_for(30s), std::future_status::ready);
        repeating.cancel();
        auto pending = queue.after(1h, [&] { order.push_back(-1); });
        std::thread([&] {
            for (int i = 0; i < 500; ++i) {
                queue.async([&, i] {
                    order.push_back(i);
                    threads.insert(std::this_thread::get_id());
                });
            }
        }).join();
    }
    EXPECT_FALSE(cancelledRan);
    ASSERT_EQ(order.size(), 500u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_STREQ(name, "ipc-write");
}

TEST(Published, ObserversHearEverySetBeforeTheChangeAndMayCancelAnySubscriptionFromAnywhere) {
    auto text = std::make_unique<Published<std::string>>("old");
    std::vector<std::string> seen; // "<value at the time> <new value>"
    Cancellable second;
    Cancellable first = text->observe([&](const std::string& next) {
        seen.push_back(text->value() + " " + next);
        second.cancel(); // from inside another observer, before it is told
    });
    second = text->observe([&](const std::string& next) { seen.push_back("second " + next); });
    text->set("new");
    text->set("new");
    first.cancel();
    {
        const auto scoped = text->observe([&](const std::string& next) { seen.push_back("scoped " + next); });
        text->set("scoped");
    }
    text->set("last");
    EXPECT_EQ(seen, (std::vector<std::string>{"old new", "new new", "scoped scoped"}));
    second = text->observe([](const std::string&) {});
    text.reset();
    second.cancel(); // after the value is gone
}

} // namespace
} // namespace kavrel
