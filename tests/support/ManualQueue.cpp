#include "support/ManualQueue.hpp"

#include <algorithm>
#include <utility>

namespace kavrel {

Cancellable ManualQueue::after(std::chrono::milliseconds delay, Task task) {
    return scheduler.schedule(delay, std::chrono::milliseconds::zero(), std::move(task));
}

Cancellable ManualQueue::every(std::chrono::milliseconds interval, Task task) {
    const auto step = std::max(interval, std::chrono::milliseconds(1)); // zero would never let time pass
    return scheduler.schedule(interval, step, std::move(task));
}

std::size_t ManualQueue::drain() {
    std::size_t ran = 0;
    while (scheduler.runOnePosted()) {
        ++ran;
    }
    return ran;
}

void ManualQueue::advance(std::chrono::milliseconds duration) {
    scheduler.advance(duration, [this] { drain(); });
}

} // namespace kavrel
