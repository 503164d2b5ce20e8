#include "Platform/MprisArtwork.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kavrel {
namespace {

// What is read is seen whole through the player double; here, which files are read at all.
TEST(MprisArtwork, ReadsOnlyLocalRegularFilesUpToTheLimit) {
    const ScratchDirectory scratch;
    const std::string directory = scratch.path().string();
    const auto write = [&](const std::string& name, std::size_t size) {
        std::ofstream(directory + "/" + name, std::ios::binary) << std::string(size, 'x');
        return directory + "/" + name;
    };
    ASSERT_EQ(::mkfifo((directory + "/fifo").c_str(), 0600), 0);
    write("with space.jpg", 10);
    std::filesystem::create_symlink(write("cover.jpg", 100), directory + "/link.jpg");
    const std::pair<std::string, bool> rows[] = {
        {"file://" + write("at-limit.jpg", 100), true},
        {"file://" + write("big.jpg", 101), false},
        {"file://" + directory + "/with%20space.jpg", true},
        {"file://localhost" + write("local.jpg", 10), true},
        {"file://" + directory + "/link.jpg", true},
        {"file://" + directory + "/fifo", false}, // would block a plain open
        {"file://" + directory, false},
        {"file://" + directory + "/missing.jpg", false},
        {"file://" + write("empty.jpg", 0), false},
        {"file:///dev/zero", false},
        {"https://example.org/cover.jpg", false},
        {"file://otherhost" + write("remote.jpg", 10), false},
        {write("plain-path.jpg", 10), false},
        {"file:relative.jpg", false},
        {"", false},
    };
    for (const auto& [artUrl, read] : rows) {
        EXPECT_EQ(MprisArtwork::readLocalFile(artUrl, 100).has_value(), read) << artUrl;
    }
}

} // namespace
} // namespace kavrel
