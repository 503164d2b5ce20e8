#include "Platform/XdgPaths.hpp"

#include "CompanionCore/storage/PrivateStorage.hpp"

#include <cstdlib>

namespace kavrel::XdgPaths {

std::filesystem::path configHome() {
    // A relative value is invalid and must be ignored.
    if (const char* configured = std::getenv("XDG_CONFIG_HOME");
        configured != nullptr && configured[0] == '/') {
        return configured;
    }
    return PrivateStorage::homeDirectory() / ".config";
}

} // namespace kavrel::XdgPaths
