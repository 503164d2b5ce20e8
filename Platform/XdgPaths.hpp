#pragma once

#include <filesystem>

namespace kavrel::XdgPaths {

// The user's configuration directory: $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
// Throws std::system_error when there is no home directory.
std::filesystem::path configHome();

} // namespace kavrel::XdgPaths
