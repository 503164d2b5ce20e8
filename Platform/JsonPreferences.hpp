#pragma once

#include "CompanionCore/model/Logger.hpp"
#include "CompanionCore/model/Preferences.hpp"

#include <cstddef>
#include <filesystem>

namespace kavrel {

// Preferences in a JSON file holding one object whose members are the stored values, with their JSON
// types. The file is read once, at construction; every set() rewrites it atomically, so a crash or a
// full disk leaves the previous file whole.
//
// A file that cannot be read or is not a JSON object is never overwritten: it is renamed aside to
// "<name>.corrupt-<UTC time>" (with "-<n>" added while that name is taken) and the defaults are used.
// When even the rename fails, the file stays where it is and nothing is saved during this run.
// Every such problem, and every failed write, is reported through the logger as a warning under the
// category "preferences"; a failed write keeps the new value in memory for the rest of the run.
class JsonPreferences final : public Preferences {
public:
    // Larger files are not read: far beyond a handful of settings.
    static constexpr std::size_t maxFileBytes = 1 << 20;
    static constexpr const char* logCategory = "preferences";

    // $XDG_CONFIG_HOME/KavrelCompanion/preferences.json. Throws std::system_error without a home.
    static std::filesystem::path defaultFile();

    // Creates the file's directory with mode 0700 when it is absent, then reads the file.
    JsonPreferences(std::filesystem::path file, Logger& logger);

    std::optional<JSONValue> value(std::string_view key) const override;
    void set(std::string_view key, JSONValue value) override;

private:
    void load();
    // Renames the unusable file aside, or, failing that, stops all writes to it.
    void setAside(const std::string& reason);
    void report(const std::string& message);

    std::filesystem::path file;
    Logger& logger;
    JSONObject values;
    // False while an unusable file that could not be moved aside still sits at `file`.
    bool writable = true;
};

} // namespace kavrel
