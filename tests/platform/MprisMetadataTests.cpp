#include "Platform/MprisIdentity.hpp"
#include "Platform/MprisMetadata.hpp"

#include <gtest/gtest.h>

#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

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

} // namespace
} // namespace kavrel
