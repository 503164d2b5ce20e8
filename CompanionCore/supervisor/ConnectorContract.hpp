#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kavrel {

// What the connector executable is given at start. Kept in one place so the launcher and the
// stand-in connector cannot drift apart.
namespace ConnectorContract {

inline constexpr const char* configDirectoryFlag = "-config-dir";
inline constexpr const char* desktopMode = "desktop";
inline constexpr const char* searchPath = "/usr/bin:/bin";
inline constexpr const char* locale = "en_US.UTF-8";
// The connector's own state file; its presence means connector state exists.
inline constexpr const char* configFileName = "config.json";

// Exactly: "-config-dir", the private state directory, "desktop".
std::vector<std::string> arguments(const std::filesystem::path& stateDirectory);

// Exactly three variables, in this order: HOME, PATH, LANG.
std::vector<std::string> environment(const std::filesystem::path& homeDirectory);

} // namespace ConnectorContract
} // namespace kavrel
