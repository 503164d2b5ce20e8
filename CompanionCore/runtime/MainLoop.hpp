#pragma once

#include "CompanionCore/runtime/Cancellable.hpp"

#include <chrono>
#include <functional>

namespace kavrel {

// The thread that owns all state of the supervisor, the model and the interface. Everything but
// post() is called on that thread; every task runs on it.
class MainLoop {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Task = std::function<void()>;

    virtual ~MainLoop() = default;

    // Thread-safe. Tasks posted from one thread run in the order they were posted.
    virtual void post(Task task) = 0;
    // Runs the task once after the delay, unless cancelled first.
    virtual Cancellable after(std::chrono::milliseconds delay, Task task) = 0;
    // Runs the task every interval, the first time one interval from now, until cancelled.
    virtual Cancellable every(std::chrono::milliseconds interval, Task task) = 0;
    // Runs the task whenever the descriptor is readable (end of file and hang-up included) until
    // cancelled. The descriptor must stay open while watched; the task may cancel its own watch.
    virtual Cancellable watchReadable(int descriptor, Task task) = 0;
    virtual TimePoint now() const = 0;
};

} // namespace kavrel
