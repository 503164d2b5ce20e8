#pragma once

#include "CompanionCore/runtime/SerialQueue.hpp"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace kavrel {

// The production SerialQueue: one worker thread, named after the last component of its label.
// Destruction lets the running task and the tasks already queued finish, drops the timers, and
// joins the thread. Tasks must not throw.
class ThreadSerialQueue final : public SerialQueue {
public:
    explicit ThreadSerialQueue(std::string label);
    ~ThreadSerialQueue() override;
    ThreadSerialQueue(const ThreadSerialQueue&) = delete;
    ThreadSerialQueue& operator=(const ThreadSerialQueue&) = delete;

    const std::string& label() const override { return name; }
    void async(Task task) override;
    Cancellable after(std::chrono::milliseconds delay, Task task) override;
    Cancellable every(std::chrono::milliseconds interval, Task task) override;

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        Clock::time_point due;
        std::chrono::milliseconds interval; // zero for a one-shot timer
        std::shared_ptr<Task> task;
        bool queued = false;
    };
    // One FIFO entry: an async task, or the firing of a timer looked up when it runs.
    struct Item {
        Task task;
        std::uint64_t timer = 0;
    };
    // Shared with the cancel handles so that a handle outliving the queue stays harmless.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Item> items;
        std::map<std::uint64_t, Timer> timers;
        std::uint64_t nextTimer = 1;
        bool stopping = false;
    };

    Cancellable schedule(std::chrono::milliseconds delay, std::chrono::milliseconds interval, Task task);
    static void run(const std::shared_ptr<State>& state);
    static void queueDueTimers(State& state, Clock::time_point now);

    std::string name;
    std::shared_ptr<State> state;
    std::thread worker;
};

} // namespace kavrel
