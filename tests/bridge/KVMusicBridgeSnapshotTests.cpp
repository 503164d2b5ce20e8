#include "bridge/BridgeHarness.hpp"

namespace kavrel {
namespace {

using Kind = SimulatedMusicApp::Kind;

TEST_F(BridgeTest, ConnectionFailuresAreTheirCodesAndNeverPrompt) {
    app.setRunning(false);
    EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "music_not_running");
    EXPECT_EQ(bridge->lastPermissionStatus(), std::nullopt);
    EXPECT_EQ(diagnostic("stage"), "connection_failed");
    EXPECT_EQ(app.eventsSent(), 0);

    app.setRunning(true);
    app.setPermission(status::errAEEventWouldRequireUserConsent, true);
    EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "automation_required");
    EXPECT_EQ(diagnostic("automationStatus"), "-1744");
    EXPECT_EQ(app.permissionPrompts(), 0);
    bridge->requestPermission();
    EXPECT_EQ(app.permissionPrompts(), 1);
    EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "");

    app.setPermission(status::errAEEventNotPermitted);
    EXPECT_EQ(failureOf([&] { bridge->requestPermission(); }), "automation_denied");
}

TEST_F(BridgeTest, ScriptingFailuresMapToTheirCodes) {
    app.addTrack(track(1));
    app.play(1);
    const std::pair<OSStatus, const char*> cases[] = {{status::errAETimeout, "music_timeout"},
                                                      {status::errAEEventNotPermitted, "automation_denied"},
                                                      {status::errAENoSuchObject, "music_unavailable"}};
    for (const auto& [failure, expected] : cases) {
        app.failEverything(failure);
        EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), expected);
    }
}

TEST_F(BridgeTest, StoppedPlayerGivesTheBaseSnapshot) {
    app.addTrack(track(1));
    app.play(1, music::playerStateStopped);
    app.setPosition(30);
    const KVDictionary snapshot = bridge->readSnapshot();
    EXPECT_EQ(text(snapshot, "provider"), "applemusic");
    EXPECT_EQ(text(snapshot, "state"), "stopped");
    EXPECT_EQ(*snapshot.find("positionMs"), KVValue(0));
    EXPECT_TRUE(snapshot.find("track")->isNull());
    EXPECT_EQ(*snapshot.find("updatedAt"), KVValue(1.7e12 + 1000 * 1000));
    EXPECT_EQ(diagnostic("stage"), "stopped");
}

TEST_F(BridgeTest, LibraryFileTrackIsCapturedVerifiedAndReused) {
    auto added = track(1);
    added.favorited = true;
    app.setPosition(12.5);
    const KVDictionary first = playAndRead(added);
    EXPECT_EQ(text(first, "trackRef"), "REF-1");
    EXPECT_EQ(*first.find("favoriteWritable"), KVValue(true));
    EXPECT_EQ(*first.find("favorited"), KVValue(true));
    EXPECT_EQ(diagnostic("stage"), "ready");
    EXPECT_EQ(diagnostic("libraryReferenceAccepted"), "true");
    EXPECT_EQ(diagnostic("resolvedIdentityMatches"), "true");
    EXPECT_EQ(*bridge->readSnapshot().find("positionMs"), KVValue(12500.0));

    // Same identity: the same capture; a changed name: a new one.
    EXPECT_EQ(text(trackOf(bridge->readSnapshot()), "trackRef"), "REF-1");
    EXPECT_EQ(diagnostic("cachedReference"), "true");
    app.setName(1, "Renamed");
    EXPECT_EQ(text(trackOf(bridge->readSnapshot()), "trackRef"), "REF-2");
}

TEST_F(BridgeTest, SharedTracksAreCapturedThroughTheCurrentTrackSpecifier) {
    for (const auto kind : {Kind::stream, Kind::subscriptionTrack, Kind::userPlaylistTrack}) {
        const auto id = 10 + static_cast<int>(kind);
        const KVDictionary shared = playAndRead(track(id, kind));
        EXPECT_EQ(*shared.find("favoriteWritable"), KVValue(true)) << id;
        EXPECT_EQ(diagnostic("libraryReferenceAccepted"), "false");
        EXPECT_EQ(diagnostic("currentReferenceError"), "0");
    }
}

TEST_F(BridgeTest, TracksThatCannotBeCapturedAreSharedReadOnly) {
    auto noPersistentID = track(1);
    noPersistentID.persistentID = "SHORT";
    const KVDictionary shared = playAndRead(noPersistentID);
    EXPECT_EQ(text(shared, "trackRef"), "");
    EXPECT_EQ(*shared.find("favoriteWritable"), KVValue(false));
    EXPECT_TRUE(shared.find("favorited")->isNull());
    EXPECT_EQ(diagnostic("stage"), "reference_unavailable");
    EXPECT_EQ(diagnostic("libraryLookupAttempted"), "false");

    // The playback-only read never captures, and never reads a favourite.
    app.addTrack(track(2));
    app.play(2);
    const KVDictionary playback = trackOf(bridge->readPlaybackSnapshot());
    EXPECT_EQ(*playback.find("favoriteWritable"), KVValue(false));
    EXPECT_TRUE(playback.find("favorited")->isNull());
}

TEST_F(BridgeTest, UnsharableTracksLeaveTheTrackNull) {
    auto radio = track(1, Kind::stream);
    radio.artist = "";
    app.addTrack(radio);
    app.play(1);
    app.setPosition(-4);
    const KVDictionary snapshot = bridge->readSnapshot();
    EXPECT_EQ(text(snapshot, "state"), "playing");
    EXPECT_TRUE(snapshot.find("track")->isNull());
    EXPECT_EQ(diagnostic("stage"), "reading_playback");

    auto longName = track(2);
    longName.name = std::string(1001, 'n');
    EXPECT_TRUE(playAndRead(longName).empty());
    auto longestName = track(3);
    longestName.name = std::string(1000, 'n');
    longestName.album = std::string(1001, 'a');
    app.setPosition(std::numeric_limits<double>::infinity());
    const KVDictionary kept = playAndRead(longestName);
    EXPECT_EQ(text(kept, "album"), "");
    EXPECT_EQ(*bridge->readSnapshot().find("positionMs"), KVValue(0.0));
}

TEST_F(BridgeTest, DiagnosticsNeverHoldNamesOrIdentifiers) {
    playAndRead(track(1, Kind::userPlaylistTrack));
    const auto& diagnostics = bridge->favoriteDiagnostics();
    for (const auto& [key, value] : diagnostics) {
        if (value.string() != nullptr) {
            EXPECT_TRUE(*value.string() == "ready") << key;
        }
        if (value.number() != nullptr) {
            EXPECT_NE(*value.number(), 1.0) << key;    // the item id
            EXPECT_NE(*value.number(), 1001.0) << key; // the database id
        }
    }
    EXPECT_EQ(diagnostics.begin()->first, "stage");
}

TEST_F(BridgeTest, ArtworkIsEncodedOncePerTrackAndDroppedWhenTheTrackChanges) {
    int encodings = 0;
    makeBridge([&](const std::vector<std::uint8_t>& raw) -> std::optional<std::string> {
        ++encodings;
        return raw.size() == 3 ? std::optional<std::string>("QUJD") : std::nullopt;
    });
    auto covered = track(1);
    covered.artwork = std::vector<std::uint8_t>{1, 2, 3};
    app.addTrack(covered);
    app.play(1);
    EXPECT_TRUE(bridge->readArtworkSnapshot().empty()); // nothing read yet
    bridge->readPlaybackSnapshot();
    EXPECT_EQ(text(trackOf(bridge->readArtworkSnapshot()), "artworkBase64"), "QUJD");
    EXPECT_EQ(text(trackOf(bridge->readPlaybackSnapshot()), "artworkBase64"), "QUJD");
    EXPECT_EQ(text(trackOf(bridge->readArtworkSnapshot()), "artworkBase64"), "QUJD");
    EXPECT_EQ(encodings, 1);

    auto oversized = track(2);
    oversized.artwork = std::vector<std::uint8_t>(KVMusicBridge::maxArtworkBytes + 1);
    app.addTrack(oversized);
    app.play(2);
    EXPECT_FALSE(trackOf(bridge->readPlaybackSnapshot()).contains("artworkBase64"));
    EXPECT_TRUE(bridge->readArtworkSnapshot().empty());
    EXPECT_EQ(encodings, 1); // refused before decoding
}

TEST_F(BridgeTest, TheOldestOfOneHundredTwentyNineCapturesIsEvicted) {
    const std::string first = text(playAndRead(track(1)), "trackRef");
    for (int id = 2; id <= 129; ++id) {
        playAndRead(track(id));
    }
    app.play(1);
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(first); }), "track_unavailable");
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef("REF-2"); }), "");
}

} // namespace
} // namespace kavrel
