#include "CompanionCore/runtime/ThreadSerialQueue.hpp"

#include <pthread.h>

#include <algorithm>
#include <utility>

namespace kavrel {

namespace {

// Thread names hold 15 bytes: "com.quartzfield.kavrel.ipc-write" is shown as "ipc-write".
std::string threadName(const std::string& label) {
    const auto dot = label.rfind('.');
    std::string name = dot == std::string::npos ? label : label.substr(dot + 1);
    return name.substr(0, 15);
}

} // namespace

ThreadSerialQueue::ThreadSerialQueue(std::string label)
    : name(std::move(label)), state(std::make_shared<State>()) {
    worker = std::thread([state = state] { run(state); });
    pthread_setname_np(worker.native_handle(), threadName(name).c_str());
}

ThreadSerialQueue::~ThreadSerialQueue() {
    {
        std::lock_guard lock(state->mutex);
        state->stopping = true;
        state->timers.clear();
    }
    state->wake.notify_all();
    worker.join();
}

void ThreadSerialQueue::async(Task task) {
    {
        std::lock_guard lock(state->mutex);
        state->items.push_back(Item{std::move(task), 0});
    }
    state->wake.notify_all();
}

Cancellable ThreadSerialQueue::after(std::chrono::milliseconds delay, Task task) {
    return schedule(delay, std::chrono::milliseconds::zero(), std::move(task));
}

Cancellable ThreadSerialQueue::every(std::chrono::milliseconds interval, Task task) {
    // A zero interval would spin; one millisecond is the finest repeat offered.
    return schedule(interval, std::max(interval, std::chrono::milliseconds(1)), std::move(task));
}

Cancellable ThreadSerialQueue::schedule(std::chrono::milliseconds delay, std::chrono::milliseconds interval,
                                        Task task) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(state->mutex);
        if (state->stopping) {
            return {};
        }
        id = state->nextTimer++;
        state->timers.emplace(
            id, Timer{Clock::now() + delay, interval, std::make_shared<Task>(std::move(task)), false});
    }
    state->wake.notify_all();
    return Cancellable([weak = std::weak_ptr<State>(state), id] {
        if (auto shared = weak.lock()) {
            std::lock_guard lock(shared->mutex);
            shared->timers.erase(id);
        }
    });
}

void ThreadSerialQueue::queueDueTimers(State& state, Clock::time_point now) {
    for (auto& [id, timer] : state.timers) {
        if (!timer.queued && timer.due <= now) {
            timer.queued = true;
            state.items.push_back(Item{{}, id});
        }
    }
}

void ThreadSerialQueue::run(const std::shared_ptr<State>& state) {
    std::unique_lock lock(state->mutex);
    for (;;) {
        queueDueTimers(*state, Clock::now());
        if (state->items.empty()) {
            if (state->stopping) {
                return;
            }
            if (state->timers.empty()) {
                state->wake.wait(lock);
            } else {
                auto earliest = Clock::time_point::max();
                for (const auto& [id, timer] : state->timers) {
                    if (!timer.queued && timer.due < earliest) {
                        earliest = timer.due;
                    }
                }
                state->wake.wait_until(lock, earliest);
            }
            continue;
        }
        Item item = std::move(state->items.front());
        state->items.pop_front();
        std::shared_ptr<Task> timerTask;
        if (item.timer != 0) {
            const auto found = state->timers.find(item.timer);
            if (found == state->timers.end()) {
                continue; // cancelled after it was queued
            }
            timerTask = found->second.task;
            if (found->second.interval.count() == 0) {
                state->timers.erase(found);
            } else {
                found->second.queued = false;
                found->second.due = std::max(found->second.due + found->second.interval, Clock::now());
            }
        }
        lock.unlock();
        if (timerTask) {
            (*timerTask)();
        } else {
            item.task();
        }
        timerTask.reset();
        item.task = nullptr;
        lock.lock();
    }
}

} // namespace kavrel
