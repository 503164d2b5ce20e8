#pragma once

#include <functional>

namespace kavrel {

// Owns the right to stop something scheduled or subscribed (a timer, a watcher, an observer).
// Destroying the handle cancels, so whatever it guards can never outlive its owner.
class Cancellable {
public:
    Cancellable() = default;
    explicit Cancellable(std::function<void()> cancel);
    Cancellable(Cancellable&& other) noexcept;
    Cancellable& operator=(Cancellable&& other) noexcept;
    Cancellable(const Cancellable&) = delete;
    Cancellable& operator=(const Cancellable&) = delete;
    ~Cancellable();

    // Idempotent; does nothing on an empty handle.
    void cancel();

private:
    std::function<void()> cancelAction;
};

} // namespace kavrel
