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

class MprisArtworkTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, std::size_t size) {
        const auto path = directory / name;
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
        return path.string();
    }

    static std::string url(const std::string& path) { return "file://" + path; }

    const ScratchDirectory scratch;
    const std::filesystem::path& directory = scratch.path();
};

// What is read is seen whole through the player double; here, which files are read at all.
TEST_F(MprisArtworkTest, ReadsOnlyLocalRegularFilesUpToTheLimit) {
    const std::string fifo = (directory / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    write("with space.jpg", 10);
    std::filesystem::create_symlink(write("cover.jpg", 100), directory / "link.jpg");
    const std::pair<std::string, bool> rows[] = {
        {url(write("at-limit.jpg", 100)), true},
        {url(write("big.jpg", 101)), false},
        {url((directory / "with%20space.jpg").string()), true},
        {"file://localhost" + write("local.jpg", 10), true},
        {url((directory / "link.jpg").string()), true},
        {url(fifo), false}, // would block a plain open
        {url(directory.string()), false},
        {url((directory / "missing.jpg").string()), false},
        {url(write("empty.jpg", 0)), false},
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
