#pragma once

#include <string>

namespace kavrel {

// What the running build and system say about themselves, for the diagnostics header and the about
// panel. Each text is "unknown" when the build or the system does not tell.
struct BuildInfo {
    std::string shortVersion = "unknown";
    std::string build = "unknown";
    std::string osVersion = "unknown";
};

} // namespace kavrel
