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

TEST_F(MprisArtworkTest, ReadsLocalFilesUpToTheLimit) {
    const auto cover = MprisArtwork::readLocalFile(url(write("cover.jpg", 100)), 100);
    ASSERT_TRUE(cover.has_value());
    EXPECT_EQ(cover->size(), 100u);
    EXPECT_EQ(MprisArtwork::readLocalFile(url(write("big.jpg", 101)), 100), std::nullopt);

    write("with space.jpg", 10);
    EXPECT_TRUE(MprisArtwork::readLocalFile(url((directory / "with%20space.jpg").string()), 100));
    EXPECT_TRUE(MprisArtwork::readLocalFile("file://localhost" + write("local.jpg", 10), 100));
    std::filesystem::create_symlink(directory / "cover.jpg", directory / "link.jpg");
    EXPECT_TRUE(MprisArtwork::readLocalFile(url((directory / "link.jpg").string()), 100));
}

TEST_F(MprisArtworkTest, RefusesAnythingButALocalRegularFile) {
    const std::string fifo = (directory / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string cases[] = {
        url(fifo), // would block a plain open
        url(directory.string()),
        url((directory / "missing.jpg").string()),
        url(write("empty.jpg", 0)),
        "file:///dev/zero",
        "https://example.org/cover.jpg",
        "file://otherhost" + write("remote.jpg", 10),
        write("plain-path.jpg", 10),
        "file:relative.jpg",
        "",
    };
    for (const auto& artUrl : cases) {
        EXPECT_EQ(MprisArtwork::readLocalFile(artUrl, 1024), std::nullopt) << artUrl;
    }
}

} // namespace
} // namespace kavrel
