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

// A MainLoop run by the test on its own thread with a virtual clock. Readable descriptors are real:
// watched descriptors are polled (without waiting) whenever the loop runs.
class ManualLoop final : public MainLoop {
public:
    void post(Task task) override { scheduler.post(std::move(task)); }
    Cancellable after(std::chrono::milliseconds delay, Task task) override {
        return scheduler.schedule(delay, {}, std::move(task));
    }
    Cancellable every(std::chrono::milliseconds interval, Task task) override {
        return scheduler.schedule(interval, interval, std::move(task));
    }
    Cancellable watchReadable(int descriptor, Task task) override {
        const auto id = nextWatch++;
        (*watches)[id] = {descriptor, std::make_shared<Task>(std::move(task))};
        return Cancellable([weak = std::weak_ptr<Watches>(watches), id] {
            if (auto shared = weak.lock()) {
                shared->erase(id);
            }
        });
    }
    TimePoint now() const override { return scheduler.now(); }

    // Runs posted tasks and readable watchers until none is left; no time passes. A watcher that
    // never consumes what makes it readable would spin forever, hence the bound.
    void runUntilIdle() {
        for (int step = 0; step < 1'000'000; ++step) {
            if (!scheduler.runOnePosted() && !runOneReadable(0)) {
                return;
            }
        }
        throw std::logic_error("the loop never became idle");
    }
    // Advances the clock, running what falls due in time order, each followed by runUntilIdle().
    void advance(std::chrono::milliseconds duration) {
        scheduler.advance(duration, [this] { runUntilIdle(); });
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
    // Time that passes while the loop's thread is blocked: nothing runs.
    void passTime(std::chrono::milliseconds duration) { scheduler.passTime(duration); }
    std::size_t timerCount() const { return scheduler.timerCount(); }
    std::size_t watchCount() const { return watches->size(); }

private:
    using Watches = std::map<std::uint64_t, std::pair<int, std::shared_ptr<Task>>>;

    // Runs one readable watcher, waiting up to `timeout` ms for one; false when none is readable. A
    // watched descriptor that was closed is a fault of the code under test and throws.
    bool runOneReadable(int timeout) {
        std::vector<pollfd> descriptors;
        for (const auto& watch : *watches) {
            descriptors.push_back(pollfd{watch.second.first, POLLIN, 0});
        }
        if (::poll(descriptors.data(), descriptors.size(), timeout) <= 0) {
            return false;
        }
        auto descriptor = descriptors.begin();
        for (const auto& watch : *watches) {
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

    VirtualScheduler scheduler;
    std::shared_ptr<Watches> watches = std::make_shared<Watches>();
    std::uint64_t nextWatch = 1;
};

} // namespace kavrel
