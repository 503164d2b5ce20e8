#include "platform/ScratchDirectory.hpp"

#include <algorithm>
#include <stdlib.h>
#include <system_error>

namespace kavrel {

ScratchDirectory::ScratchDirectory() {
    std::string pattern = "/tmp/kavrel-platform-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    root = pattern;
}

ScratchDirectory::~ScratchDirectory() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (const auto& entry : fs::recursive_directory_iterator(root, ignored)) {
        if (entry.is_directory(ignored)) {
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
    }
    fs::remove_all(root, ignored);
}

std::vector<std::string> ScratchDirectory::entries(const std::filesystem::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace kavrel
