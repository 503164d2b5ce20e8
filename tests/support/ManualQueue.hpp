#pragma once

#include "CompanionCore/runtime/SerialQueue.hpp"
#include "support/ManualLoop.hpp"

namespace kavrel {

// A SerialQueue whose tasks run only when the test drains it, on the test's thread, with its own
// virtual clock for timers.
class ManualQueue final : public SerialQueue {
public:
    explicit ManualQueue(std::string label) : name(std::move(label)) {}

    const std::string& label() const override { return name; }
    void async(Task task) override { loop.post(std::move(task)); }
    Cancellable after(std::chrono::milliseconds delay, Task task) override {
        return loop.after(delay, std::move(task));
    }
    Cancellable every(std::chrono::milliseconds interval, Task task) override {
        return loop.every(interval, std::move(task));
    }

    // Runs queued tasks, those they queue included, until none is left; returns how many ran.
    std::size_t drain() { return loop.runUntilIdle(); }
    void advance(std::chrono::milliseconds duration) { loop.advance(duration); }

private:
    std::string name;
    ManualLoop loop;
};

} // namespace kavrel
