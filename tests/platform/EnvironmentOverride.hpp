#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace kavrel {

// Sets an environment variable for the life of the object, then restores what was there.
class EnvironmentOverride {
public:
    EnvironmentOverride(const char* name, const std::string& value) : name(name) {
        if (const char* previous = std::getenv(name)) {
            saved = previous;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvironmentOverride() { saved ? ::setenv(name, saved->c_str(), 1) : ::unsetenv(name); }

private:
    const char* name;
    std::optional<std::string> saved;
};

} // namespace kavrel
