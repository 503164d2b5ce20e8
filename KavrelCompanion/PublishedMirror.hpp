#pragma once

#include "CompanionCore/runtime/Cancellable.hpp"
#include "CompanionCore/runtime/Published.hpp"

#include <functional>
#include <utility>

namespace kavrel {

// Hands the current value and every later one to `apply`. Published values tell their observers
// before they change, so adapters keep what `apply` receives instead of reading the source back
// when they announce a change.
template <typename T> Cancellable mirror(const Published<T>& source, std::function<void(const T&)> apply) {
    apply(source.value());
    return source.observe(std::move(apply));
}

} // namespace kavrel
