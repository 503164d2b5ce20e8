#pragma once

#include <stdexcept>

namespace kavrel {

// A failure of the JSON reader or writer: text that is not acceptable JSON, or a value that cannot be
// written.
struct JSONError : std::runtime_error {
    using runtime_error::runtime_error;
};

} // namespace kavrel
