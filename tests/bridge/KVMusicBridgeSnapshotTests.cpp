#include "bridge/BridgeHarness.hpp"

#include <limits>

namespace kavrel {
namespace {

using Kind = SimulatedMusicApp::Kind;

TEST_F(BridgeTest, ConnectionAndScriptingFailuresAreTheirCodesAndNeverPrompt) {
    app.setRunning(false);
    EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "music_not_running");
    EXPECT_EQ(bridge->lastPermissionStatus(), std::nullopt);

    app.setRunning(true);
    app.setPermission(status::errAEEventWouldRequireUserConsent, true);
    EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "automation_required");
    EXPECT_EQ(app.permissionPrompts(), 0);
    bridge->requestPermission();
    EXPECT_EQ(app.permissionPrompts(), 1);
    EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "");
    app.setPermission(status::errAEEventNotPermitted);
    EXPECT_EQ(failureOf([&] { bridge->requestPermission(); }), "automation_denied");

    app.setPermission(0);
    app.addTrack(simulatedTrack(1));
    app.play(1);
    for (const auto& [failure, expected] :
         {std::pair{-1712, "music_timeout"}, {-1743, "automation_denied"}, {-1728, "music_unavailable"}}) {
        app.failEverything(failure);
        EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), expected);
    }
}

TEST_F(BridgeTest, StoppedPlayerGivesTheBaseSnapshot) {
    app.addTrack(simulatedTrack(1));
    app.play(1, music::playerStateStopped);
    app.setPosition(30);
    const KVDictionary snapshot = bridge->readSnapshot();
    EXPECT_EQ(at(snapshot, "state"), KVValue("stopped"));
    EXPECT_EQ(at(snapshot, "positionMs"), KVValue(0));
    EXPECT_EQ(at(snapshot, "track"), KVValue(nullptr));
    EXPECT_EQ(at(snapshot, "updatedAt"), KVValue(1.7e12 + 1000 * 1000));
}

TEST_F(BridgeTest, TracksAreCapturedVerifiedAndReusedWhileTheirIdentityHolds) {
    auto added = simulatedTrack(1);
    added.favorited = true;
    app.setPosition(12.5);
    const KVDictionary first = playAndRead(added);
    EXPECT_EQ(at(first, "trackRef"), KVValue("REF-1"));
    EXPECT_EQ(at(first, "favoriteWritable"), KVValue(true));
    EXPECT_EQ(at(first, "favorited"), KVValue(true));
    const KVDictionary again = bridge->readSnapshot();
    EXPECT_EQ(at(again, "positionMs"), KVValue(12500.0));
    EXPECT_EQ(at(trackOf(again), "trackRef"), KVValue("REF-1")); // the same identity: the same capture
    app.setName(1, "Renamed");
    EXPECT_EQ(at(trackOf(bridge->readSnapshot()), "trackRef"), KVValue("REF-2"));

    // Shared tracks are captured through the current-track specifier.
    for (const auto kind : {Kind::stream, Kind::subscriptionTrack, Kind::userPlaylistTrack}) {
        EXPECT_EQ(at(playAndRead(simulatedTrack(10 + static_cast<int>(kind), kind)), "favoriteWritable"),
                  KVValue(true));
    }
}

TEST_F(BridgeTest, TracksThatCannotBeCapturedAreSharedReadOnly) {
    auto noPersistentID = simulatedTrack(1);
    noPersistentID.persistentID = "0123456789ABCDE"; // 15 characters
    const KVDictionary shared = playAndRead(noPersistentID);
    EXPECT_EQ(at(shared, "trackRef"), KVValue(""));
    EXPECT_EQ(at(shared, "favoriteWritable"), KVValue(false));
    EXPECT_EQ(at(shared, "favorited"), KVValue(nullptr));

    // The playback-only read never captures, and never reads a favourite.
    app.addTrack(simulatedTrack(2));
    app.play(2);
    const KVDictionary playback = trackOf(bridge->readPlaybackSnapshot());
    EXPECT_EQ(at(playback, "favoriteWritable"), KVValue(false));
    EXPECT_EQ(at(playback, "favorited"), KVValue(nullptr));
}

TEST_F(BridgeTest, TextLimitsAndOddPositions) {
    auto radio = simulatedTrack(1, Kind::stream);
    radio.artist = "";
    EXPECT_TRUE(playAndRead(radio).empty());

    struct Row {
        std::size_t name, artist, album;
        double position;
        bool shared;
        std::size_t albumKept;
    };
    int id = 2;
    for (const auto& row :
         {Row{1000, 1000, 1000, -4, true, 1000}, Row{1001, 5, 5, 1, false, 0}, Row{5, 1001, 5, 1, false, 0},
          Row{5, 5, 1001, std::numeric_limits<double>::infinity(), true, 0}}) {
        auto made = simulatedTrack(id++);
        made.name = std::string(row.name, 'n');
        made.artist = std::string(row.artist, 'a');
        made.album = std::string(row.album, 'l');
        app.setPosition(row.position);
        const KVDictionary track = playAndRead(made);
        ASSERT_EQ(!track.empty(), row.shared) << row.name << ' ' << row.artist;
        if (row.shared) {
            EXPECT_EQ(at(track, "album"), KVValue(std::string(row.albumKept, 'l')));
            EXPECT_EQ(at(bridge->readSnapshot(), "positionMs"), KVValue(0.0));
        }
    }
}

TEST_F(BridgeTest, ArtworkIsEncodedOncePerTrackUpToEightMebibytesAndDroppedWhenTheTrackChanges) {
    int encodings = 0;
    makeBridge([&](const std::vector<std::uint8_t>& raw) -> std::optional<std::string> {
        ++encodings;
        return raw.size() == 3 ? "QUJD" : "big";
    });
    auto covered = simulatedTrack(1);
    covered.artwork = std::vector<std::uint8_t>{1, 2, 3};
    app.addTrack(covered);
    app.play(1);
    EXPECT_TRUE(bridge->readArtworkSnapshot().empty()); // nothing read yet
    bridge->readPlaybackSnapshot();
    EXPECT_EQ(at(trackOf(bridge->readArtworkSnapshot()), "artworkBase64"), KVValue("QUJD"));
    EXPECT_EQ(at(trackOf(bridge->readPlaybackSnapshot()), "artworkBase64"), KVValue("QUJD"));
    EXPECT_EQ(at(trackOf(bridge->readArtworkSnapshot()), "artworkBase64"), KVValue("QUJD"));
    EXPECT_EQ(encodings, 1);

    for (const auto& [size, artwork] : {std::pair{8'388'609, "<absent>"}, {8'388'608, "big"}}) {
        auto large = simulatedTrack(size);
        large.artwork = std::vector<std::uint8_t>(size);
        playAndRead(large);
        EXPECT_FALSE(trackOf(bridge->readPlaybackSnapshot()).contains("artworkBase64"));
        EXPECT_EQ(at(trackOf(bridge->readArtworkSnapshot()), "artworkBase64"), KVValue(artwork));
    }
    EXPECT_EQ(encodings, 2); // the oversized one was refused before decoding
}

TEST_F(BridgeTest, TheOldestOfOneHundredTwentyNineCapturesIsEvicted) {
    const std::string first = *at(playAndRead(simulatedTrack(1)), "trackRef").string();
    for (int id = 2; id <= 129; ++id) {
        playAndRead(simulatedTrack(id));
    }
    app.play(1);
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(first); }), "track_unavailable");
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef("REF-2"); }), "");
}

} // namespace
} // namespace kavrel
