#include "CompanionCore/runtime/PlaceWording.hpp"

namespace kavrel::PlaceWording {

std::string privateDirectoryAccess(const std::filesystem::path& directory,
                                   const std::filesystem::path& home) {
    const auto inHome = directory.lexically_normal().lexically_relative(home.lexically_normal());
    std::string shown = directory.string();
    if (!home.empty() && !inHome.empty() && *inHome.begin() != "..") {
        shown = inHome == "." ? "~" : "~/" + inHome.string();
    }
    return "Check access to " + shown + ". The companion will not use an insecure state directory.";
}

} // namespace kavrel::PlaceWording
