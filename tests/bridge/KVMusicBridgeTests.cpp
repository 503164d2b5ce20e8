#include "bridge/BridgeHarness.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

namespace kavrel {
namespace {

using Kind = SimulatedMusicApp::Kind;

// A bridge on the simulated app with a virtual clock: the bridge's sleep advances it.
class BridgeTest : public ::testing::Test {
protected:
    BridgeTest() { makeBridge(); }

    void makeBridge(KVMusicBridge::ArtworkEncoder artwork = {}) {
        bridge = std::make_unique<KVMusicBridge>(
            KVMusicBridge::Ports{app, app.scriptingFactory(),
                                 [this] { return "REF-" + std::to_string(++references); },
                                 std::move(artwork)},
            KVMusicBridge::Timing{[this] { return now; }, [this] { return 1.7e12 + now * 1000; },
                                  [this](double seconds) {
                                      now += seconds;
                                      slept += seconds;
                                      onSleep();
                                  }});
    }

    // Adds the track, plays it and reads a snapshot; returns its track object.
    KVDictionary playAndRead(SimulatedMusicApp::Track added) {
        const auto id = added.itemID;
        app.addTrack(std::move(added));
        app.play(id);
        return trackOf(bridge->readSnapshot());
    }
    static KVDictionary trackOf(const KVDictionary& snapshot) {
        const KVValue* track = snapshot.find("track");
        return track != nullptr && track->dictionary() != nullptr ? *track->dictionary() : KVDictionary();
    }
    static KVValue at(const KVDictionary& object, std::string_view key) {
        const KVValue* value = object.find(key);
        return value != nullptr ? *value : KVValue("<absent>");
    }
    // The machine code a call fails with, or "" when it succeeds.
    template <typename Call> static std::string failureOf(Call call) {
        try {
            call();
        } catch (const MusicBridgeError& error) {
            return error.machineCode();
        }
        return "";
    }

    SimulatedMusicApp app;
    std::unique_ptr<KVMusicBridge> bridge;
    double now = 1000;
    double slept = 0;
    std::function<void()> onSleep = [] {
    };
    int references = 0;
    const KVMusicBridge::Admission always = [] {
        return true;
    };
    const KVMusicBridge::Admission throwing = []() -> bool {
        throw std::runtime_error("admission broke");
    };
    const std::string ref = "REF-1"; // the first track captured
};

TEST_F(BridgeTest, ConnectionAndScriptingFailuresAreTheirCodesAndNeverPrompt) {
    app.setRunning(false);
    EXPECT_EQ(failureOf([&] { bridge->readSnapshot(); }), "music_not_running");
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

// Tracks are captured, verified and reused while their identity holds; the others are shared read-only,
// and a stopped player shares none.
TEST_F(BridgeTest, SnapshotsCaptureTracksWhileTheirIdentityHoldsAndShareTheRestReadOnly) {
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
    // The playback-only read never captures, and never reads a favourite.
    const KVDictionary playback = trackOf(bridge->readPlaybackSnapshot());
    EXPECT_EQ(at(playback, "favoriteWritable"), KVValue(false));
    EXPECT_EQ(at(playback, "favorited"), KVValue(nullptr));
    app.setName(1, "Renamed");
    EXPECT_EQ(at(trackOf(bridge->readSnapshot()), "trackRef"), KVValue("REF-2"));

    // Shared tracks are captured through the current-track specifier.
    for (const auto kind : {Kind::stream, Kind::subscriptionTrack, Kind::userPlaylistTrack}) {
        EXPECT_EQ(at(playAndRead(simulatedTrack(10 + static_cast<int>(kind), kind)), "favoriteWritable"),
                  KVValue(true));
    }
    auto noPersistentID = simulatedTrack(2);
    noPersistentID.persistentID = "0123456789ABCDE"; // 15 characters
    const KVDictionary shared = playAndRead(noPersistentID);
    EXPECT_EQ(at(shared, "trackRef"), KVValue(""));
    EXPECT_EQ(at(shared, "favoriteWritable"), KVValue(false));
    EXPECT_EQ(at(shared, "favorited"), KVValue(nullptr));

    app.play(2, music::playerStateStopped);
    app.setPosition(30);
    const KVDictionary stopped = bridge->readSnapshot();
    EXPECT_EQ(at(stopped, "state"), KVValue("stopped"));
    EXPECT_EQ(at(stopped, "positionMs"), KVValue(0));
    EXPECT_EQ(at(stopped, "track"), KVValue(nullptr));
    EXPECT_EQ(at(stopped, "updatedAt"), KVValue(1.7e12 + 1000 * 1000));
}

TEST_F(BridgeTest, TextLimitsAndOddPositions) {
    // The lengths of name, artist and album, and the album shared (absent: no track shared).
    for (const auto& [name, artist, album, shared] :
         {std::tuple{1000, 1000, 1000, KVValue(std::string(1000, 'l'))},
          {1001, 5, 5, KVValue("<absent>")},
          {5, 1001, 5, KVValue("<absent>")},
          {5, 0, 5, KVValue("<absent>")},
          {5, 5, 1001, KVValue("")}}) {
        auto made = simulatedTrack(name + artist + album);
        made.name = std::string(name, 'n');
        made.artist = std::string(artist, 'a');
        made.album = std::string(album, 'l');
        EXPECT_EQ(at(playAndRead(made), "album"), shared) << name << ' ' << artist << ' ' << album;
    }
    for (const double position : {-4.0, std::numeric_limits<double>::infinity()}) {
        app.setPosition(position);
        EXPECT_EQ(at(bridge->readSnapshot(), "positionMs"), KVValue(0.0));
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
    for (int id = 1; id <= 129; ++id) {
        playAndRead(simulatedTrack(id));
    }
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef("REF-1"); }), "track_unavailable");
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef("REF-2"); }), "");
}

// A write is confirmed only by a read that shows the value 5 s after it; reading gives up after 10 s
// or 21 reads with 0.5 s pauses, whichever comes first. The clock runs at the given seconds per pause.
TEST_F(BridgeTest, AWriteIsConfirmedByAValueHeldFiveSecondsWithinTenSecondsAndTwentyOneReads) {
    playAndRead(simulatedTrack(1));
    for (const auto& [label, secondsPerPause, revertAfterReads, failure, paused] :
         std::vector<std::tuple<const char*, double, std::optional<int>, std::string, double>>{
             {"held", 0.5, std::nullopt, "", 5.0},
             {"flips back", 0.5, 2, "native_write_uncertain", 10.0},
             {"21 reads", 0.25, 2, "native_write_uncertain", 10.0},
             {"10 s", 1.0, 2, "native_write_uncertain", 5.5}}) {
        app.setFavorite(1, false);
        app.revertWritesAfterReads(revertAfterReads);
        onSleep = [&, extra = secondsPerPause - 0.5] {
            now += extra;
        };
        now += 10; // past any settling
        slept = 0;
        EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, always); }), failure) << label;
        EXPECT_DOUBLE_EQ(slept, paused) << label;
        EXPECT_EQ(app.favorite(1), failure.empty()) << label;
    }
}

// Reads and writes address the captured track, not the current one, and only while its identity holds.
// A write leaves its track settling for 5 s: the next command waits on the track's gate, asking its
// admission at least every 0.1 s, and sends nothing once expired or changed. A write that cannot be
// confirmed is uncertain.
TEST_F(BridgeTest, CommandsActOnTheCapturedTrackWhileItsIdentityHoldsAndWaitOnItsGate) {
    playAndRead(simulatedTrack(1));
    app.addTrack(simulatedTrack(2));
    app.play(2);
    app.setFavorite(1, true);
    EXPECT_TRUE(bridge->favoriteForTrackRef(ref));
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef("never-issued"); }), "track_unavailable");
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(ref, [] { return false; }); }),
              "native_command_expired");
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(ref, throwing); }), "track_unavailable");
    app.setPersistentID(1, "0000000000000000");
    EXPECT_EQ(failureOf([&] { bridge->favoriteForTrackRef(ref); }), "track_unavailable");
    app.setPersistentID(1, simulatedTrack(1).persistentID);

    app.failWrites(-10003);
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, always); }), "native_write_uncertain");
    app.failWrites(std::nullopt);
    const double writtenAt = now;
    double longestGap = 0, lastAsked = now;
    EXPECT_TRUE(bridge->favoriteForTrackRef(ref, [&] {
        longestGap = std::max(longestGap, now - lastAsked);
        lastAsked = now;
        return true;
    }));
    EXPECT_DOUBLE_EQ(now - writtenAt, 5.0);
    EXPECT_LE(longestGap, 0.1 + 1e-9);

    const double confirming = now + 3; // ends before the write is confirmed, 2 s before it settled
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, [&] { return now < confirming; }); }),
              "native_write_uncertain");
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, throwing); }), "native_write_uncertain");
    const double waiting = now + 1;
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(false, ref, [&] { return now < waiting; }); }),
              "native_command_expired");
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, [] { return false; }); }),
              "native_command_expired");
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, {}); }), "native_command_expired");
    EXPECT_EQ(app.favoriteWrites(), 2);

    // The identity changes once the write has been sent, then while the next command waits on the gate.
    onSleep = [&] {
        app.setPersistentID(1, "FFFFFFFFFFFFFFFF");
    };
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(true, ref, always); }), "native_write_uncertain");
    app.setPersistentID(1, simulatedTrack(1).persistentID);
    EXPECT_EQ(failureOf([&] { bridge->setFavorite(false, ref, always); }), "track_unavailable");
    EXPECT_EQ(app.favoriteWrites(), 3);
}

} // namespace
} // namespace kavrel
