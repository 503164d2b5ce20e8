#include "platform/QtLoopTest.hpp"

#include <algorithm>
#include <thread>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

// Readable watchers, one cancelled from inside its own call among them, serve the launcher tests.
TEST_F(QtLoopTest, PostedTasksRunInOrderOnTheLoopThreadAndTimersUntilCancelled) {
    std::vector<int> order;
    bool allOnLoopThread = true;
    std::thread([&, loopThread = std::this_thread::get_id()] {
        for (int i = 0; i < 100; ++i) {
            loop.post([&, i, loopThread] {
                allOnLoopThread = allOnLoopThread && std::this_thread::get_id() == loopThread;
                order.push_back(i);
            });
        }
    }).join();
    bool cancelledRan = false;
    bool settled = false;
    loop.after(1ms, [&] { cancelledRan = true; }).cancel();
    int ticks = 0;
    Cancellable repeating, settle, selfCancelling;
    repeating = loop.every(2ms, [&] {
        if (++ticks == 3) {
            repeating.cancel();                                 // from inside its own firing
            settle = loop.after(20ms, [&] { settled = true; }); // room for more ticks, had it failed
        }
    });
    selfCancelling = loop.after(1ms, [&] { selfCancelling = Cancellable(); });
    ASSERT_TRUE(runUntil([&] { return settled && order.size() == 100; }));
    EXPECT_TRUE(allOnLoopThread);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(cancelledRan);
}

} // namespace
} // namespace kavrel
