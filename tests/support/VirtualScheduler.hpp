#pragma once

#include "CompanionCore/runtime/Cancellable.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

namespace kavrel {

// Virtual time for test doubles of the loop and the queues: posted tasks in FIFO order and timers
// that fire only when the test advances the clock, in time order (ties in scheduling order).
class VirtualScheduler {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Task = std::function<void()>;

    TimePoint now() const { return current; }
    // Thread-safe: real children's exit reports may be posted from other threads.
    void post(Task task) {
        std::lock_guard lock(state->mutex);
        state->posted.push_back(std::move(task));
    }
    // A zero interval fires once.
    Cancellable schedule(std::chrono::milliseconds delay, std::chrono::milliseconds interval, Task task) {
        const auto id = state->next++;
        state->timers[id] = Timer{current + delay, id, interval, std::make_shared<Task>(std::move(task))};
        return Cancellable([weak = std::weak_ptr<State>(state), id] {
            if (auto shared = weak.lock()) {
                shared->timers.erase(id);
            }
        });
    }
    // Runs the oldest posted task; false when there was none.
    bool runOnePosted() {
        std::unique_lock lock(state->mutex);
        if (state->posted.empty()) {
            return false;
        }
        const Task task = std::move(state->posted.front());
        state->posted.pop_front();
        lock.unlock();
        task();
        return true;
    }
    // Moves the clock to now + duration, firing each due timer at its own time; idle() runs after
    // each firing and once at the end, so that the work a timer posts happens before the next one.
    void advance(std::chrono::milliseconds duration, const std::function<void()>& idle) {
        const auto target = current + duration;
        for (idle();; idle()) {
            auto& timers = state->timers;
            const auto earliest = std::min_element(timers.begin(), timers.end(), [](auto& a, auto& b) {
                return std::tie(a.second.due, a.second.order) < std::tie(b.second.due, b.second.order);
            });
            if (earliest == timers.end() || earliest->second.due > target) {
                break;
            }
            current = earliest->second.due;
            const auto task = earliest->second.task; // survives the timer's cancellation by itself
            if (earliest->second.interval.count() > 0) {
                earliest->second.due += earliest->second.interval;
                earliest->second.order = state->next++;
            } else {
                timers.erase(earliest);
            }
            (*task)();
        }
        current = target;
        idle();
    }
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

    // Far from the clock's epoch, so that "the distant past" is never confused with a real moment.
    TimePoint current = TimePoint{} + std::chrono::hours(24);
    std::shared_ptr<State> state = std::make_shared<State>();
};

} // namespace kavrel
