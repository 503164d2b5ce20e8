#pragma once

#include "CompanionCore/ipc/JSONValue.hpp"

#include <ostream>

namespace kavrel {

// Failed expectations show JSON text instead of the value's bytes.
inline void PrintTo(const JSONValue& value, std::ostream* out) {
    try {
        *out << value.serialized();
    } catch (const JSONError&) {
        *out << "(a value without JSON text)";
    }
}

} // namespace kavrel
