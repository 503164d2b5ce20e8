#include "Platform/MprisIdentity.hpp"
#include "Platform/MprisMetadata.hpp"

#include <gtest/gtest.h>

#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

namespace kavrel {
namespace {

MprisMetadata decoded(const QVariantMap& map) {
    const auto metadata = MprisMetadata::decode(map);
    EXPECT_TRUE(metadata.has_value());
    return metadata.value_or(MprisMetadata{});
}

// Title, album, length, art and rating as players send them are read through the player double.
TEST(MprisMetadata, ReadsWhatPlayersSend) {
    const MprisMetadata full = decoded({
        {"xesam:artist", QStringList{"Miles Davis", "", "Bill Evans"}},
        {"mpris:length", qlonglong(337'500'000)},
        {"mpris:trackid", QVariant::fromValue(QDBusObjectPath("/org/example/Track/7"))},
        {"xesam:url", QStringLiteral("file:///music/blue.flac")},
    });
    EXPECT_EQ(full.artist, "Miles Davis, Bill Evans") << "an empty name adds no separator";
    EXPECT_DOUBLE_EQ(full.lengthSeconds, 337.5);
    EXPECT_EQ(full.trackID, "/org/example/Track/7");
    EXPECT_EQ(full.url, "file:///music/blue.flac");

    // Lenient where the meaning is clear: one artist as a string, a track id as a string, other
    // number types for the length.
    const MprisMetadata loose = decoded({{"xesam:artist", QStringLiteral("Solo")},
                                         {"mpris:trackid", QStringLiteral("/7")},
                                         {"mpris:length", 2'000'000u}});
    EXPECT_EQ(loose.artist, "Solo");
    EXPECT_EQ(loose.trackID, "/7");
    EXPECT_DOUBLE_EQ(loose.lengthSeconds, 2.0);
    EXPECT_EQ(decoded({{"mpris:length", 1.5e6}}).lengthSeconds, 1.5);
}

// No entries at all (no current track) goes through the player double.
TEST(MprisMetadata, AbsentAndMeaninglessValues) {
    EXPECT_EQ(MprisMetadata::decode(QVariant(QStringLiteral("not a map"))), std::nullopt);

    const MprisMetadata bare = decoded(
        {{"mpris:trackid", QVariant::fromValue(QDBusObjectPath("/org/mpris/MediaPlayer2/TrackList/NoTrack"))},
         {"mpris:length", QStringLiteral("300")},
         {"xesam:artist", 42},
         {"xesam:url", QString()},
         {"xesam:userRating", QStringLiteral("1.0")}});
    EXPECT_EQ(bare.title, "");
    EXPECT_EQ(bare.artist, "");
    EXPECT_EQ(bare.album, std::nullopt);
    EXPECT_EQ(bare.lengthSeconds, 0);
    EXPECT_EQ(bare.trackID, std::nullopt) << "the no-track path is no id";
    EXPECT_EQ(bare.url, std::nullopt);
    EXPECT_EQ(bare.userRating, std::nullopt) << "a rating as text";
    EXPECT_EQ(decoded({{"xesam:album", QString()}}).album, "") << "an empty album is still an album";
}

TEST(MprisIdentity, StableLibraryShapedIdentifiers) {
    MprisMetadata track;
    track.trackID = "/0";
    track.url = "file:///music/a.flac";
    const auto identity = MprisIdentity::of("mpv", track);
    ASSERT_TRUE(identity.has_value());
    // FNV-1a of "mpv\ntrackid\n/0", worked out by hand: a change here changes every shared identity.
    EXPECT_EQ(identity->persistentID, "EF5552E41CF79097");
    EXPECT_EQ(identity->databaseID, 1867862758);

    MprisMetadata other = track;
    other.url = "file:///music/b.flac";
    MprisMetadata byURL = other;
    byURL.trackID.reset();
    // Each row: whether the identity equals that of mpv's track "/0".
    const std::pair<std::optional<MprisIdentity>, bool> rows[] = {
        {MprisIdentity::of("mpv", other), true}, // the track id decides when there is one
        {MprisIdentity::of("vlc", track), false},
        {MprisIdentity::of("mpv", byURL), false},
        {MprisIdentity::ofKey("mpv", "/0"), false}, // a channel's key is tagged as such
    };
    for (const auto& [derived, same] : rows) {
        EXPECT_EQ(derived->persistentID == identity->persistentID, same) << derived->persistentID;
    }
    MprisMetadata otherURL = byURL;
    otherURL.url = "file:///music/c.flac";
    EXPECT_NE(MprisIdentity::of("mpv", byURL)->persistentID,
              MprisIdentity::of("mpv", otherURL)->persistentID);
    byURL.url.reset();
    EXPECT_EQ(MprisIdentity::of("mpv", byURL), std::nullopt) << "nothing stable to derive from";
}

TEST(MprisIdentity, PlayerIsTheBusNameWithoutItsInstance) {
    EXPECT_EQ(MprisIdentity::playerOf("org.mpris.MediaPlayer2.vlc.instance7389"), "vlc");
    EXPECT_EQ(MprisIdentity::playerOf("org.mpris.MediaPlayer2.spotify"), "spotify");
    EXPECT_EQ(MprisIdentity::playerOf("org.mpris.MediaPlayer2.firefox.instance_1_42"), "firefox");
}

} // namespace
} // namespace kavrel
