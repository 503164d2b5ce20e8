#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kavrel {

// A fresh directory under /tmp, removed with everything in it at the end of the test.
class ScratchDirectory {
public:
    ScratchDirectory();
    // Gives back permissions that a test took away, so that everything can be removed.
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& path() const noexcept { return root; }

    // Names of the entries directly inside `directory`, sorted.
    static std::vector<std::string> entries(const std::filesystem::path& directory);

private:
    std::filesystem::path root;
};

} // namespace kavrel
