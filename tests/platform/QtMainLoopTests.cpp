#include "Platform/QtMainLoop.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

// A QCoreApplication per test; exec() ends when the test quits it, or after a generous limit that
// only keeps a broken loop from hanging the suite.
class QtLoopTest : public ::testing::Test {
protected:
    void runUntilQuit() {
        QTimer::singleShot(30s, &application, [this] {
            timedOut = true;
            application.quit();
        });
        application.exec();
        ASSERT_FALSE(timedOut);
    }

    int argc = 1;
    char name[16] = "CompanionTests";
    char* argv[2] = {name, nullptr};
    QCoreApplication application{argc, argv};
    bool timedOut = false;
};

TEST_F(QtLoopTest, PostedTasksFromAnyThreadRunOnTheLoopThreadInOrder) {
    QtMainLoop loop;
    std::vector<int> order;
    const auto mainThread = std::this_thread::get_id();
    bool allOnMain = true;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) {
            loop.post([&, i] {
                allOnMain = allOnMain && std::this_thread::get_id() == mainThread;
                order.push_back(i);
                if (i == 99) {
                    application.quit();
                }
            });
        }
    });
    poster.join();
    runUntilQuit();
    EXPECT_TRUE(allOnMain);
    ASSERT_EQ(order.size(), 100u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST_F(QtLoopTest, TimersRepeatUntilCancelledAndCancelledOnesNeverRun) {
    QtMainLoop loop;
    bool cancelledRan = false;
    auto cancelled = loop.after(1ms, [&] { cancelledRan = true; });
    cancelled.cancel();
    int ticks = 0;
    Cancellable repeating;
    Cancellable quit;
    repeating = loop.every(2ms, [&] {
        if (++ticks == 3) {
            repeating.cancel(); // from inside its own firing
            // Room for further ticks, had the cancellation failed.
            quit = loop.after(20ms, [&] { application.quit(); });
        }
    });
    Cancellable selfCancelling;
    selfCancelling = loop.after(1ms, [&] { selfCancelling = Cancellable(); });
    runUntilQuit();
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(cancelledRan);
}

TEST_F(QtLoopTest, ReadableWatchersSeeDataAndEndOfFileAndMayCancelThemselves) {
    QtMainLoop loop;
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    std::string received;
    Cancellable watch;
    watch = loop.watchReadable(fds[0], [&] {
        char buffer[4];
        const auto count = ::read(fds[0], buffer, sizeof buffer);
        if (count > 0) {
            received.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0) {
            watch.cancel();
            application.quit();
        }
    });
    std::thread writer([&] {
        ASSERT_EQ(::write(fds[1], "hello, loop", 11), 11);
        ::close(fds[1]);
    });
    writer.join();
    runUntilQuit();
    EXPECT_EQ(received, "hello, loop");
    ::close(fds[0]);
}

} // namespace
} // namespace kavrel
