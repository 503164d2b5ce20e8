#pragma once

#include <stdexcept>
#include <string>

namespace kavrel {

// A failure the bridge reports to its callers: domain "Kavrel.Music", code 1, and a machine code
// ("music_not_running", "track_unavailable", ...) as its description. Nothing else crosses the bridge.
class MusicBridgeError : public std::runtime_error {
public:
    static constexpr const char* domain = "Kavrel.Music";
    static constexpr int code = 1;

    explicit MusicBridgeError(const std::string& machineCode) : std::runtime_error(machineCode) {}

    std::string machineCode() const { return what(); }
};

} // namespace kavrel
