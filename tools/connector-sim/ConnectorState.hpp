#pragma once

#include "CompanionCore/ipc/JSONValue.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace kavrel {

// What the stand-in connector keeps across runs in "config.json" of its state directory.
// Whether it runs is not kept: every process starts stopped and waits for "start".
struct ConnectorState {
    std::string bridgeOrigin;
    std::string roonHost;
    bool appleMusicEnabled = false;
    bool roonEnabled = true;
    bool paired = false;
    bool roonAuthorized = false;

    JSONObject toJSON() const;
    // Throws std::runtime_error when a member is missing or of the wrong type.
    static ConnectorState fromJSON(const JSONValue& document);

    // None when the file does not exist; throws std::runtime_error when it cannot be read or parsed,
    // leaving the file untouched.
    static std::optional<ConnectorState> load(const std::filesystem::path& file);
    // Writes a temporary file beside the target, flushes it and renames it over the target, so a
    // crash leaves either the old or the new state, never a torn file. Throws std::system_error.
    void save(const std::filesystem::path& file) const;

    friend bool operator==(const ConnectorState&, const ConnectorState&) = default;
};

} // namespace kavrel
