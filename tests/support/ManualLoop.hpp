#pragma once

#include "CompanionCore/runtime/MainLoop.hpp"
#include "support/VirtualScheduler.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace kavrel {

// A MainLoop run by the test on its own thread with a virtual clock. Readable descriptors are real:
// watched descriptors are polled (without waiting) whenever the loop runs.
class ManualLoop final : public MainLoop {
public:
    ManualLoop();

    void post(Task task) override;
    Cancellable after(std::chrono::milliseconds delay, Task task) override;
    Cancellable every(std::chrono::milliseconds interval, Task task) override;
    Cancellable watchReadable(int descriptor, Task task) override;
    TimePoint now() const override { return scheduler.now(); }

    // Runs posted tasks and readable watchers until none is left; no time passes.
    void runUntilIdle();
    // Advances the clock, running what falls due in time order, each followed by runUntilIdle().
    void advance(std::chrono::milliseconds duration);
    // For tests with real children: runs the loop, sleeping in poll() on the watched descriptors
    // between runs, until the condition holds. False when nothing made it hold for a long while,
    // which only keeps a broken peer from hanging the suite. No virtual time passes.
    bool runUntil(const std::function<bool()>& condition);
    // Time that passes while the loop's thread is blocked: nothing runs.
    void passTime(std::chrono::milliseconds duration) { scheduler.passTime(duration); }
    std::size_t timerCount() const { return scheduler.timerCount(); }
    std::size_t watchCount() const { return watches->size(); }

private:
    using Watches = std::map<std::uint64_t, std::pair<int, std::shared_ptr<Task>>>;

    // Runs one readable watcher; false when none is readable. A watched descriptor that was closed
    // is a fault of the code under test and throws.
    bool runOneReadable();

    VirtualScheduler scheduler;
    std::shared_ptr<Watches> watches;
    std::uint64_t nextWatch = 1;
};

} // namespace kavrel
