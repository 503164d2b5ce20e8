#pragma once

#include "CompanionCore/ipc/JSONValue.hpp"

#include <optional>
#include <string_view>

namespace kavrel {

// The user's preferences: a few typed values under fixed keys. Values keep their JSON type, so a
// reader can tell a stored Boolean from a stored string. Main thread only.
class Preferences {
public:
    virtual ~Preferences() = default;

    // The stored value, or none when the key was never written.
    virtual std::optional<JSONValue> value(std::string_view key) const = 0;
    // Stores the value; a failure to persist it is reported by the implementation, never thrown.
    virtual void set(std::string_view key, JSONValue value) = 0;
};

} // namespace kavrel
