#include "MusicBridge/events/ObjectSpecifier.hpp"
#include "Platform/CurrentSongFavorites.hpp"
#include "Platform/MprisArtwork.hpp"
#include "Platform/MprisIdentity.hpp"
#include "Platform/MprisMetadata.hpp"
#include "Platform/MprisPlayerRoster.hpp"
#include "Platform/TrackEvents.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>
#include <vector>

// The parts of the Linux music source that need no bus: metadata, identities and artwork; the choice of
// player; the favourites of players that rate the current song; the tracks the events address. The whole
// source is tested against players in MusicSourceTests.
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
         << metadata->url.value_or("-") << "|"
         << (metadata->userRating ? std::to_string(*metadata->userRating) : "-");
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
    const MprisIdentity identity = MprisIdentity::of("mpv", track).value();
    // FNV-1a of "mpv\ntrackid\n/0", worked out by hand: a change here changes every shared identity.
    EXPECT_EQ(identity.persistentID, "EF5552E41CF79097");
    EXPECT_EQ(identity.databaseID, 1867862758);
    // Each row: whether the identity equals that of mpv's track "/0".
    const std::pair<std::optional<MprisIdentity>, bool> rows[] = {
        {MprisIdentity::of("mpv", withIds("/0", "file:///music/b.flac")), true}, // the id decides
        {MprisIdentity::of("vlc", track), false},
        {MprisIdentity::of("mpv", withIds({}, "file:///music/a.flac")), false},
        {MprisIdentity::ofKey("mpv", "/0"), false}, // a channel's key is tagged as such
    };
    for (const auto& [derived, same] : rows) {
        EXPECT_EQ(derived->persistentID == identity.persistentID, same) << derived->persistentID;
    }
    EXPECT_NE(MprisIdentity::of("mpv", withIds({}, "file:///music/b.flac"))->persistentID,
              MprisIdentity::of("mpv", withIds({}, "file:///music/c.flac"))->persistentID);
    EXPECT_EQ(MprisIdentity::of("mpv", MprisMetadata()), std::nullopt) << "nothing stable to derive from";
    // The player is the bus name without its instance.
    EXPECT_EQ(MprisIdentity::playerOf("org.mpris.MediaPlayer2.vlc.instance7389"), "vlc");
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
        {"file://" + directory + "/missing.jpg", false},
        {"file://" + write("empty.jpg", 0), false},
        {"file:///dev/zero", false},
        {"https://example.org/cover.jpg", false},
        {"file://otherhost" + write("remote.jpg", 10), false},
        {write("plain-path.jpg", 10), false},
        {"file:relative.jpg", false},
    };
    for (const auto& [artUrl, read] : rows) {
        EXPECT_EQ(MprisArtwork::readLocalFile(artUrl, 100).has_value(), read) << artUrl;
    }
}

const std::string a = "org.mpris.MediaPlayer2.a";
const std::string b = "org.mpris.MediaPlayer2.b";

TEST(MprisPlayerRoster, PlayingWinsElseTheLatestChangeFollowingOwners) {
    MprisPlayerRoster roster;
    // The chosen player, then those whose status is still to be read.
    const auto state = [&roster] {
        std::string text = roster.chosen() ? roster.chosen()->name : "<none>";
        for (const std::string& name : roster.unread()) {
            text += " unread " + name;
        }
        return text;
    };
    EXPECT_EQ(state(), "<none>");
    roster.appeared(a, ":1.1");
    roster.appeared(b, ":1.2");
    roster.statusChanged(":1.1", "Paused");
    EXPECT_EQ(state(), a + " unread " + b) << "a signal is a read";
    roster.statusRead(b, "Paused");
    // Each row: a state announced by an owner, and the player chosen afterwards.
    const std::tuple<const char*, const char*, const std::string&, const char*> steps[] = {
        {":1.9", "Playing", a, "a stranger's signal"},
        {":1.2", "Playing", b, "playing wins"},
        {":1.1", "Stopped", b, "a later change does not beat playing"},
        {":1.2", "Paused", b, "pausing is the latest change"},
        {":1.1", "Stopped", b, "announcing the same state is no change"},
        {":1.1", "Playing", a, "playing again"},
        {":1.2", "Playing", b, "of two playing, the one that started last"},
    };
    for (const auto& [owner, status, expected, why] : steps) {
        roster.statusChanged(owner, status);
        EXPECT_EQ(state(), expected) << why;
    }
    roster.statusRead(b, "Stopped");
    roster.appeared(b, ":1.2");
    EXPECT_EQ(state(), b) << "a late read does not undo a signal; listed and signalled: one appearance";
    roster.appeared(b, ":1.5");
    EXPECT_EQ(state(), a + " unread " + b);
    roster.statusRead(b, std::nullopt);
    EXPECT_EQ(state(), a) << "a new owner is read once, failed or not";

    // MPD reached directly and through its MPRIS bridge is one player: the direct one.
    roster.appeared("org.mpris.MediaPlayer2.mpd", ":1.7");
    roster.statusRead("org.mpris.MediaPlayer2.mpd", "Playing");
    roster.direct("mpd", "Paused");
    roster.vanished(a);
    roster.statusChanged(":1.5", "Paused");
    EXPECT_EQ(state(), b) << "the bridge's Playing does not count";
    roster.direct("mpd", "Playing");
    EXPECT_EQ(state(), "mpd");
    roster.direct("mpd", std::nullopt);
    EXPECT_EQ(state(), "org.mpris.MediaPlayer2.mpd") << "the bridge alone is a player";
}

// A player that rates only its current song, as Quod Libet does; rating it may move on to the next.
struct FakeRater final : CurrentSongRater {
    Song song;
    std::string keyAfterRating;
    std::string rated;

    Song current() override { return song; }
    OSStatus rate(double rating) override {
        rated = " rated " + std::to_string(rating);
        song = {status::noErr, keyAfterRating, rating};
        return status::noErr;
    }
    double unrated() const override { return 0.5; }
};

// A song is there only while it is the current one: checked right before rating it and right after.
TEST(CurrentSongFavorites, ReadsAndWritesTheTopOfTheCurrentSongOnly) {
    auto owned = std::make_unique<FakeRater>();
    FakeRater& rater = *owned;
    CurrentSongFavorites favorites(std::move(owned));
    // Each row: the player's answer, its current song and rating, the song current once rated, and the
    // favourite asked for song "a"; then the statuses of locating, reading and writing it, whether it
    // read as favourite, and the rating sent. -1728 is "no such object".
    const std::tuple<OSStatus, const char*, std::optional<double>, const char*, bool, std::string> rows[] = {
        {status::noErr, "a", 1.0, "a", false, "0 0 0 true rated 0.500000"},
        {status::noErr, "a", 0.99, "a", false, "0 0 0 true rated 0.500000"},
        {status::noErr, "a", 0.98, "a", false, "0 0 0 false"}, // only the top is lowered
        {status::noErr, "a", std::nullopt, "a", false, "0 -1728 0 false"},
        {status::noErr, "b", 1.0, "b", true, "-1728 -1728 -1728 false"},
        {status::noErr, "a", 0.5, "b", true, "0 0 -1728 false rated 1.000000"}, // changed during the call
        {status::procNotFound, "", 0, "", true, "-600 -600 -600 false"},
    };
    for (const auto& [player, current, rating, after, desired, expected] : rows) {
        rater.song = {player, current, rating};
        rater.keyAfterRating = after;
        rater.rated.clear();
        const OSStatus located = favorites.locate("a");
        const FavoriteChannel::Read read = favorites.read("a");
        const OSStatus written = favorites.write("a", desired);
        EXPECT_EQ(std::to_string(located) + " " + std::to_string(read.status) + " " +
                      std::to_string(written) + (read.favorite ? " true" : " false") + rater.rated,
                  expected)
            << current << " " << rating.value_or(-1);
    }
}

struct PresentChannel final : FavoriteChannel {
    OSStatus locate(const std::string&) override { return status::noErr; }
    Read read(const std::string&) override { return {}; }
    OSStatus write(const std::string&, bool) override { return status::noErr; }
};

SharedTrack writable(int number) {
    static const auto channel = std::make_shared<PresentChannel>();
    const std::string key = "song" + std::to_string(number);
    return {MprisIdentity::ofKey("player", key), key, channel, std::nullopt};
}

// The error number of the library lookup of song `number` by its unique ID; 0 when it is found.
std::int32_t lookUp(TrackEvents& events, int number) {
    const auto id = MprisIdentity::ofKey("player", "song" + std::to_string(number)).databaseID;
    const AEDesc library = createObjSpecifier(music::classLibraryPlaylist, AEDesc(), ae::formAbsolutePosition,
                                              AEDesc::makeLong(1));
    AppleEvent event{ae::eventClassCore, ae::eventGetData, AEDesc()};
    event.parameters.putParam(ae::keyDirectObject,
                              createObjSpecifier(music::classTrack, library, ae::formUniqueID,
                                                 AEDesc::makeLong(static_cast<std::int32_t>(id))));
    const AEDesc reply = events.answer(event);
    const AEDesc* error = reply.param(ae::keyErrorNumber);
    return error != nullptr ? error->fixedValue<std::int32_t>().value_or(1) : 0;
}

TEST(TrackEvents, RemembersTheLast256WritableTracksSeen) {
    TrackEvents events;
    for (int number = 0; number < 256; ++number) {
        events.setCurrent(writable(number));
    }
    events.setCurrent(writable(0)); // seen again: the most recent
    events.setCurrent(writable(256));
    events.setCurrent(std::nullopt);
    // Only song 1, the least recently seen, went.
    EXPECT_EQ(std::vector({lookUp(events, 0), lookUp(events, 1), lookUp(events, 2)}),
              std::vector({0, status::errAENoSuchObject, 0}));
}

} // namespace
} // namespace kavrel
