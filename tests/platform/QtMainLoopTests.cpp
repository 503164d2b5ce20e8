#include "platform/QtLoopTest.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

TEST_F(QtLoopTest, PostedTasksFromAnyThreadRunOnTheLoopThreadInOrder) {
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
    ASSERT_TRUE(runUntil([&] { return order.size() == 100; }));
    EXPECT_TRUE(allOnLoopThread);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST_F(QtLoopTest, TimersRepeatUntilCancelledAndCancelledOnesNeverRun) {
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
    ASSERT_TRUE(runUntil([&] { return settled; }));
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(cancelledRan);
}

TEST_F(QtLoopTest, ReadableWatchersSeeDataAndEndOfFileAndMayCancelThemselves) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    std::string received;
    ssize_t count = -1;
    Cancellable watch;
    watch = loop.watchReadable(fds[0], [&] {
        char buffer[4];
        count = ::read(fds[0], buffer, sizeof buffer);
        received.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
        if (count == 0) {
            watch.cancel();
        }
    });
    std::thread([&] { (void)!::write(fds[1], "hello, loop", 11), ::close(fds[1]); }).join();
    ASSERT_TRUE(runUntil([&] { return count == 0; }));
    EXPECT_EQ(received, "hello, loop");
    ::close(fds[0]);
}

} // namespace
} // namespace kavrel
