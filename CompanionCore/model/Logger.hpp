#pragma once

#include <string_view>

namespace kavrel {

// Diagnostic log lines of the companion (the systemd journal in production, under the subsystem
// "com.quartzfield.kavrel.companion"). Messages are public: never pass secrets or track data.
class Logger {
public:
    virtual ~Logger() = default;

    virtual void info(std::string_view category, std::string_view message) = 0;
};

} // namespace kavrel
