#pragma once

#include "CompanionCore/runtime/Cancellable.hpp"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace kavrel {

// Virtual time for test doubles of the loop and the queues: posted tasks in FIFO order and timers
// that fire only when the test advances the clock, in time order (ties in scheduling order).
class VirtualScheduler {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Task = std::function<void()>;

    VirtualScheduler();

    TimePoint now() const { return current; }
    // Thread-safe.
    void post(Task task);
    Cancellable schedule(std::chrono::milliseconds delay, std::chrono::milliseconds interval, Task task);
    // Runs the oldest posted task; false when there was none.
    bool runOnePosted();
    // Moves the clock to now + duration, firing each due timer at its own time; idle() runs after
    // each firing and once at the end, so that the work a timer posts happens before the next one.
    void advance(std::chrono::milliseconds duration, const std::function<void()>& idle);
    // Moves the clock without running anything: time spent while the loop's thread is blocked.
    void passTime(std::chrono::milliseconds duration) { current += duration; }
    std::size_t timerCount() const { return state->timers.size(); }

private:
    struct Timer {
        TimePoint due;
        std::uint64_t order;
        std::chrono::milliseconds interval;
        std::shared_ptr<Task> task;
    };
    struct State {
        std::mutex mutex;
        std::deque<Task> posted;
        std::map<std::uint64_t, Timer> timers;
        std::uint64_t next = 1;
    };

    TimePoint current;
    std::shared_ptr<State> state;
};

} // namespace kavrel
