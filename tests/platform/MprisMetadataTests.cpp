#include "Platform/MprisArtwork.hpp"
#include "Platform/MprisIdentity.hpp"
#include "Platform/MprisMetadata.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kavrel {
namespace {

// Title|artist|album|length in seconds|track id|URL|rating, "-" for none; "none" for no track.
std::string decoded(const QVariant& map) {
    const auto metadata = MprisMetadata::decode(map);
    if (!metadata) {
        return "none";
    }
    std::ostringstream text;
    text << metadata->title << "|" << metadata->artist << "|" << metadata->album.value_or("-") << "|"
         << metadata->lengthSeconds << "|" << metadata->trackID.value_or("-") << "|"
         << metadata->url.value_or("-") << "|";
    text << (metadata->userRating ? std::to_string(*metadata->userRating) : "-");
    return text.str();
}

// What players send is read through the player double; here the shapes and types that differ: read
// where the meaning is clear, ignored otherwise.
TEST(MprisMetadata, ReadsWhatPlayersSendAndIgnoresWhatMeansNothing) {
    const std::pair<QVariant, std::string> rows[] = {
        {QVariantMap{{"xesam:artist", QStringList{"Miles Davis", "", "Bill Evans"}},
                     {"xesam:url", "file:///music/blue.flac"}},
         "|Miles Davis, Bill Evans|-|0|-|file:///music/blue.flac|-"},
        // One artist as a string, a track id as a string, other number types for the length.
        {QVariantMap{{"xesam:artist", "Solo"}, {"mpris:trackid", "/7"}, {"mpris:length", 2'000'000u}},
         "|Solo|-|2|/7|-|-"},
        {QVariantMap{{"mpris:length", 1.5e6}, {"xesam:album", QString()}}, "|||1.5|-|-|-"},
        {QVariantMap{{"mpris:trackid",
                      QVariant::fromValue(QDBusObjectPath("/org/mpris/MediaPlayer2/TrackList/NoTrack"))},
                     {"mpris:length", "300"},
                     {"xesam:artist", 42},
                     {"xesam:url", QString()},
                     {"xesam:userRating", "1.0"}},
         "||-|0|-|-|-"},
        {QVariant("not a map"), "none"},
    };
    for (const auto& [map, expected] : rows) {
        EXPECT_EQ(decoded(map), expected);
    }
}

// A track with this id and URL.
MprisMetadata withIds(std::optional<std::string> id, std::optional<std::string> url) {
    MprisMetadata metadata;
    metadata.trackID = std::move(id);
    metadata.url = std::move(url);
    return metadata;
}

TEST(MprisIdentity, StableLibraryShapedIdentifiers) {
    const MprisMetadata track = withIds("/0", "file:///music/a.flac");
    const auto identity = MprisIdentity::of("mpv", track);
    ASSERT_TRUE(identity.has_value());
    // FNV-1a of "mpv\ntrackid\n/0", worked out by hand: a change here changes every shared identity.
    EXPECT_EQ(identity->persistentID, "EF5552E41CF79097");
    EXPECT_EQ(identity->databaseID, 1867862758);
    // Each row: whether the identity equals that of mpv's track "/0".
    const std::pair<std::optional<MprisIdentity>, bool> rows[] = {
        {MprisIdentity::of("mpv", withIds("/0", "file:///music/b.flac")), true}, // the id decides
        {MprisIdentity::of("vlc", track), false},
        {MprisIdentity::of("mpv", withIds({}, "file:///music/a.flac")), false},
        {MprisIdentity::ofKey("mpv", "/0"), false}, // a channel's key is tagged as such
    };
    for (const auto& [derived, same] : rows) {
        EXPECT_EQ(derived->persistentID == identity->persistentID, same) << derived->persistentID;
    }
    EXPECT_NE(MprisIdentity::of("mpv", withIds({}, "file:///music/b.flac"))->persistentID,
              MprisIdentity::of("mpv", withIds({}, "file:///music/c.flac"))->persistentID);
    EXPECT_EQ(MprisIdentity::of("mpv", MprisMetadata()), std::nullopt) << "nothing stable to derive from";
    // The player is the bus name without its instance.
    for (const char* name : {"org.mpris.MediaPlayer2.vlc", "org.mpris.MediaPlayer2.vlc.instance7389"}) {
        EXPECT_EQ(MprisIdentity::playerOf(name), "vlc");
    }
}

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
