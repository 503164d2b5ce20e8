#pragma once

#include "CompanionCore/runtime/Cancellable.hpp"

#include <chrono>
#include <functional>
#include <string>

namespace kavrel {

// Work that must leave the main thread but keep its order: one task at a time, first in, first out.
// Every member is thread-safe, cancelling included.
class SerialQueue {
public:
    using Task = std::function<void()>;

    virtual ~SerialQueue() = default;

    virtual const std::string& label() const = 0;
    virtual void async(Task task) = 0;
    // After cancel() returns the task does not start (one already running finishes).
    virtual Cancellable after(std::chrono::milliseconds delay, Task task) = 0;
    // Repeats every interval until cancelled; a firing that finds the previous one still queued is
    // dropped rather than piled up.
    virtual Cancellable every(std::chrono::milliseconds interval, Task task) = 0;
};

} // namespace kavrel
