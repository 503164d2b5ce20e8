#pragma once

#include "CompanionCore/runtime/Cancellable.hpp"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace kavrel {

// An observable value. Observers are told on every set(), before the value changes, and receive
// the new value; value() still answers the old one while they run. Main thread only.
template <typename T> class Published {
public:
    using Observer = std::function<void(const T& newValue)>;

    explicit Published(T initial) : current(std::move(initial)), observers(std::make_shared<Registry>()) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& value() const { return current; }

    void set(T newValue) {
        notify(newValue);
        current = std::move(newValue);
    }

    // Observers may cancel any subscription, their own included, or subscribe while being told.
    Cancellable observe(Observer observer) const {
        const auto id = observers->next++;
        observers->entries.emplace(id, std::move(observer));
        return Cancellable([weak = std::weak_ptr<Registry>(observers), id] {
            if (auto registry = weak.lock()) {
                registry->entries.erase(id);
            }
        });
    }

private:
    struct Registry {
        std::map<std::uint64_t, Observer> entries;
        std::uint64_t next = 1;
    };

    void notify(const T& newValue) const {
        std::vector<std::uint64_t> ids;
        ids.reserve(observers->entries.size());
        for (const auto& entry : observers->entries) {
            ids.push_back(entry.first);
        }
        for (const auto id : ids) {
            const auto found = observers->entries.find(id);
            if (found != observers->entries.end()) {
                const Observer observer = found->second; // survives its own cancellation
                observer(newValue);
            }
        }
    }

    T current;
    std::shared_ptr<Registry> observers;
};

} // namespace kavrel
