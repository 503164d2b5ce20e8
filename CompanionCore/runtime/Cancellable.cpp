#include "CompanionCore/runtime/Cancellable.hpp"

#include <utility>

namespace kavrel {

Cancellable::Cancellable(std::function<void()> cancel) : cancelAction(std::move(cancel)) {}

Cancellable::Cancellable(Cancellable&& other) noexcept
    : cancelAction(std::exchange(other.cancelAction, {})) {}

Cancellable& Cancellable::operator=(Cancellable&& other) noexcept {
    if (this != &other) {
        cancel();
        cancelAction = std::exchange(other.cancelAction, {});
    }
    return *this;
}

Cancellable::~Cancellable() {
    cancel();
}

void Cancellable::cancel() {
    // Taken out first: the action may destroy objects that in turn hold this handle.
    if (auto action = std::exchange(cancelAction, {})) {
        action();
    }
}

} // namespace kavrel
