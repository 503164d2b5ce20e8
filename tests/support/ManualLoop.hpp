#pragma once

#include "CompanionCore/runtime/Cancellable.hpp"
#include "CompanionCore/runtime/MainLoop.hpp"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <tuple>
#include <vector>

namespace kavrel {

// A MainLoop run by the test on its own thread with a virtual clock: posted tasks run in FIFO order and
// timers fire only when the test advances the clock, in time order (ties in scheduling order).
// Readable descriptors are real: watched descriptors are polled (without waiting) whenever it runs.
class ManualLoop final : public MainLoop {
public:
    // Thread-safe: real children's exit reports may be posted from other threads.
    void post(Task task) override {
        std::lock_guard lock(state->mutex);
        state->posted.push_back(std::move(task));
    }
    Cancellable after(std::chrono::milliseconds delay, Task task) override {
        return schedule(delay, {}, std::move(task));
    }
    Cancellable every(std::chrono::milliseconds interval, Task task) override {
        return schedule(interval, interval, std::move(task));
    }
    Cancellable watchReadable(int descriptor, Task task) override {
        const auto id = state->next++;
        state->watches[id] = {descriptor, std::make_shared<Task>(std::move(task))};
        return Cancellable([weak = std::weak_ptr<State>(state), id] {
            if (auto shared = weak.lock()) {
                shared->watches.erase(id);
            }
        });
    }
    TimePoint now() const override { return current; }

    // Runs posted tasks and readable watchers until none is left and returns how many ran; no time
    // passes. A watcher that never consumes what makes it readable would spin forever, hence the bound.
    std::size_t runUntilIdle() {
        for (std::size_t step = 0; step < 1'000'000; ++step) {
            if (!runOnePosted() && !runOneReadable(0)) {
                return step;
            }
        }
        throw std::logic_error("the loop never became idle");
    }
    // Moves the clock to now + duration, firing each due timer at its own time; runUntilIdle() runs
    // after each firing and once at the end, so that the work a timer posts happens before the next one.
    void advance(std::chrono::milliseconds duration) {
        const auto target = current + duration;
        for (runUntilIdle();; runUntilIdle()) {
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
        runUntilIdle();
    }
    // For tests with real children: runs the loop, sleeping in poll() on the watched descriptors
    // between runs, until the condition holds. False when nothing made it hold for a minute, which
    // only keeps a broken peer from hanging the suite. No virtual time passes. The slices are short
    // because work posted by other threads wakes no poll().
    bool runUntil(const std::function<bool()>& condition) {
        for (int slice = 0; slice < 12'000; ++slice) {
            runUntilIdle();
            if (condition()) {
                return true;
            }
            runOneReadable(5);
        }
        return false;
    }
    std::size_t timerCount() const { return state->timers.size(); }
    std::size_t watchCount() const { return state->watches.size(); }

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
        std::map<std::uint64_t, std::pair<int, std::shared_ptr<Task>>> watches;
        std::uint64_t next = 1;
    };

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
    // Runs one readable watcher, waiting up to `timeout` ms for one; false when none is readable. A
    // watched descriptor that was closed is a fault of the code under test and throws.
    bool runOneReadable(int timeout) {
        std::vector<pollfd> descriptors;
        for (const auto& watch : state->watches) {
            descriptors.push_back(pollfd{watch.second.first, POLLIN, 0});
        }
        if (::poll(descriptors.data(), descriptors.size(), timeout) <= 0) {
            return false;
        }
        auto descriptor = descriptors.begin();
        for (const auto& watch : state->watches) {
            if ((descriptor->revents & POLLNVAL) != 0) {
                throw std::logic_error("a watched descriptor was closed while still watched");
            }
            if ((descriptor++)->revents != 0) {
                const auto task = watch.second.second; // survives the watch's cancellation by itself
                (*task)();
                return true;
            }
        }
        return false;
    }

    // Far from the clock's epoch, so that "the distant past" is never confused with a real moment.
    TimePoint current = TimePoint{} + std::chrono::hours(24);
    std::shared_ptr<State> state = std::make_shared<State>();
};

} // namespace kavrel
