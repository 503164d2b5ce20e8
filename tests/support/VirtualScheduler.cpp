#include "support/VirtualScheduler.hpp"

#include <utility>

namespace kavrel {

// Far from the clock's epoch, so that "the distant past" is never confused with a real moment.
VirtualScheduler::VirtualScheduler()
    : current(TimePoint{} + std::chrono::hours(24)), state(std::make_shared<State>()) {}

void VirtualScheduler::post(Task task) {
    std::lock_guard lock(state->mutex);
    state->posted.push_back(std::move(task));
}

Cancellable VirtualScheduler::schedule(std::chrono::milliseconds delay, std::chrono::milliseconds interval,
                                       Task task) {
    const auto id = state->next++;
    state->timers.emplace(id, Timer{current + delay, id, interval, std::make_shared<Task>(std::move(task))});
    return Cancellable([weak = std::weak_ptr<State>(state), id] {
        if (auto shared = weak.lock()) {
            shared->timers.erase(id);
        }
    });
}

bool VirtualScheduler::runOnePosted() {
    Task task;
    {
        std::lock_guard lock(state->mutex);
        if (state->posted.empty()) {
            return false;
        }
        task = std::move(state->posted.front());
        state->posted.pop_front();
    }
    task();
    return true;
}

void VirtualScheduler::advance(std::chrono::milliseconds duration, const std::function<void()>& idle) {
    const auto target = current + duration;
    idle();
    for (;;) {
        auto earliest = state->timers.end();
        for (auto it = state->timers.begin(); it != state->timers.end(); ++it) {
            if (it->second.due <= target &&
                (earliest == state->timers.end() || it->second.due < earliest->second.due ||
                 (it->second.due == earliest->second.due && it->second.order < earliest->second.order))) {
                earliest = it;
            }
        }
        if (earliest == state->timers.end()) {
            break;
        }
        current = earliest->second.due;
        const auto task = earliest->second.task; // survives the timer's cancellation by itself
        if (earliest->second.interval.count() > 0) {
            earliest->second.due += earliest->second.interval;
            earliest->second.order = state->next++;
        } else {
            state->timers.erase(earliest);
        }
        (*task)();
        idle();
    }
    current = target;
    idle();
}

} // namespace kavrel
