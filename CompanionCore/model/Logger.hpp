#pragma once

#include <string_view>

namespace kavrel {

// Diagnostic log lines of the companion (the systemd journal in production, under the subsystem
// "com.quartzfield.kavrel.companion"). Messages are public: never pass secrets or track data.
class Logger {
public:
    // What the entry means for the user: an outcome worth keeping, a problem the companion worked
    // around, or one that stopped it.
    enum class Level { information, warning, error };

    virtual ~Logger() = default;

    virtual void log(Level level, std::string_view category, std::string_view message) = 0;

    void info(std::string_view category, std::string_view message) {
        log(Level::information, category, message);
    }
    void warning(std::string_view category, std::string_view message) {
        log(Level::warning, category, message);
    }
    void error(std::string_view category, std::string_view message) { log(Level::error, category, message); }
};

} // namespace kavrel
