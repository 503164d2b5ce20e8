#include "CompanionCore/runtime/Published.hpp"
#include "CompanionCore/runtime/ThreadSerialQueue.hpp"

#include <gtest/gtest.h>

#include <pthread.h>

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
    bool cancelledRan = false;
    int ticks = 0;
    std::promise<void> third;
    {
        ThreadSerialQueue queue("com.quartzfield.kavrel.ipc-write");
        Cancellable repeating;
        // On the worker, which alone runs timers: the first cannot fire before it is cancelled, and by the
        // third firing of the second, due later, it would have run.
        queue.async([&] {
            pthread_getname_np(pthread_self(), name, sizeof name);
            queue.after(0ms, [&] { cancelledRan = true; }).cancel();
            repeating = queue.every(1ms, [&] {
                if (++ticks == 3) {
                    third.set_value();
                }
            });
        });
        ASSERT_EQ(third.get_future().wait_for(30s), std::future_status::ready); // against hanging only
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
