#include "support/ManualLoop.hpp"

#include <poll.h>

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

namespace kavrel {

namespace {
// A watcher that never consumes what makes it readable would spin forever.
constexpr int maxStepsUntilIdle = 1'000'000;
// Slices of the wait in runUntil(): short, because work posted by other threads wakes no poll().
constexpr int pollSliceMilliseconds = 5;
constexpr int maxPollSlices = 60'000 / pollSliceMilliseconds;
} // namespace

ManualLoop::ManualLoop() : watches(std::make_shared<Watches>()) {}

void ManualLoop::post(Task task) {
    scheduler.post(std::move(task));
}

Cancellable ManualLoop::after(std::chrono::milliseconds delay, Task task) {
    return scheduler.schedule(delay, std::chrono::milliseconds::zero(), std::move(task));
}

Cancellable ManualLoop::every(std::chrono::milliseconds interval, Task task) {
    const auto step = std::max(interval, std::chrono::milliseconds(1)); // zero would never let time pass
    return scheduler.schedule(interval, step, std::move(task));
}

Cancellable ManualLoop::watchReadable(int descriptor, Task task) {
    const auto id = nextWatch++;
    watches->emplace(id, std::make_pair(descriptor, std::make_shared<Task>(std::move(task))));
    return Cancellable([weak = std::weak_ptr<Watches>(watches), id] {
        if (auto shared = weak.lock()) {
            shared->erase(id);
        }
    });
}

bool ManualLoop::runOneReadable() {
    std::vector<pollfd> descriptors;
    std::vector<std::uint64_t> ids;
    for (const auto& [id, watch] : *watches) {
        descriptors.push_back(pollfd{watch.first, POLLIN, 0});
        ids.push_back(id);
    }
    if (descriptors.empty() || ::poll(descriptors.data(), descriptors.size(), 0) <= 0) {
        return false;
    }
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
        if ((descriptors[i].revents & POLLNVAL) != 0) {
            throw std::logic_error("a watched descriptor was closed while still watched");
        }
        const auto found = watches->find(ids[i]);
        if (descriptors[i].revents != 0 && found != watches->end()) {
            const auto task = found->second.second;
            (*task)();
            return true;
        }
    }
    return false;
}

void ManualLoop::runUntilIdle() {
    for (int step = 0; step < maxStepsUntilIdle; ++step) {
        if (!scheduler.runOnePosted() && !runOneReadable()) {
            return;
        }
    }
    throw std::logic_error("the loop never became idle");
}

bool ManualLoop::runUntil(const std::function<bool()>& condition) {
    for (int slice = 0; slice < maxPollSlices; ++slice) {
        runUntilIdle();
        if (condition()) {
            return true;
        }
        std::vector<pollfd> descriptors;
        for (const auto& [id, watch] : *watches) {
            descriptors.push_back(pollfd{watch.first, POLLIN, 0});
        }
        ::poll(descriptors.data(), descriptors.size(), pollSliceMilliseconds);
    }
    return false;
}

void ManualLoop::advance(std::chrono::milliseconds duration) {
    scheduler.advance(duration, [this] { runUntilIdle(); });
}

} // namespace kavrel
