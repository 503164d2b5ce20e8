#pragma once

#include <stdlib.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace kavrel {

// A fresh directory under /tmp, removed with everything in it at the end of the test.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern = "/tmp/kavrel-platform-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::system_error(errno, std::generic_category(), "mkdtemp");
        }
        root = pattern;
    }
    // Tests that take permissions away give them back themselves.
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    const std::filesystem::path& path() const noexcept { return root; }

private:
    std::filesystem::path root;
};

inline std::string contentsOf(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), {}};
}

// The permission bits, of a link itself rather than its target; 0 when there is nothing.
inline mode_t modeOf(const std::filesystem::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

inline std::size_t entryCount(const std::filesystem::path& directory) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(directory), {}));
}

} // namespace kavrel
