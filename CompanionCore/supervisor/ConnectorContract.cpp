#include "CompanionCore/supervisor/ConnectorContract.hpp"

namespace kavrel::ConnectorContract {

std::vector<std::string> arguments(const std::filesystem::path& stateDirectory) {
    return {configDirectoryFlag, stateDirectory.string(), desktopMode};
}

std::vector<std::string> environment(const std::filesystem::path& homeDirectory) {
    return {"HOME=" + homeDirectory.string(), std::string("PATH=") + searchPath,
            std::string("LANG=") + locale};
}

} // namespace kavrel::ConnectorContract
