#pragma once

#include <stdexcept>

namespace kavrel {

// A login item change that could not be made. The text says what failed, for a log; the user sees
// the settings window's own sentence instead.
struct LoginItemError : std::runtime_error {
    using runtime_error::runtime_error;
};

// Whether the desktop starts the companion when the user logs in. Main thread only; the calls are
// synchronous.
class LoginItem {
public:
    virtual ~LoginItem() = default;

    // What the desktop will do at the next login, read afresh on every call.
    virtual bool isEnabled() const = 0;
    // Throws LoginItemError when the change could not be made; isEnabled() then tells the real state.
    virtual void setEnabled(bool enabled) = 0;
};

} // namespace kavrel
