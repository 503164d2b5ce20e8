#include "CompanionCore/music/NativeError.hpp"
#include "music/ControllerHarness.hpp"

#include <stdexcept>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

JSONObject stamped(JSONObject snapshot, const std::string& run, int sequence) {
    snapshot.insert_or_assign("generation", run);
    snapshot.insert_or_assign("sequence", sequence);
    return snapshot;
}

TEST_F(ControllerTest, RunsTickAtOnceThenEverySecondAndTheSequenceSpansRuns) {
    std::vector<JSONObject> replaced;
    const auto old = controller->start([&](const JSONObject& snapshot) { replaced.push_back(snapshot); });
    const auto first = startRun();
    ASSERT_NE(old, first);
    EXPECT_FALSE(controller->isCurrent(old));
    EXPECT_TRUE(log.empty()); // nothing runs on the caller's thread
    queue.drain();
    queue.advance(2s);
    controller->stop();
    const auto second = startRun();
    queue.drain();

    // One timer only, no change detection, and a sequence that start does not reset.
    const auto reading = playingSnapshot("Song");
    EXPECT_EQ(snapshots(),
              (std::vector<JSONObject>{stamped(reading, first, 1), stamped(reading, first, 2),
                                       stamped(reading, first, 3), stamped(reading, second, 4)}));
    EXPECT_TRUE(replaced.empty());
    EXPECT_EQ(access->snapshotReads, 4); // the replaced run's queued tick did not read

    // A stop while the music app is read drops the reading; a stopped or destroyed controller reads nothing.
    access->onSnapshot = [this] {
        controller->stop();
        return playingSnapshot("Song");
    };
    queue.advance(1s);
    queue.advance(3s);
    startRun();
    controller.reset();
    queue.advance(3s);
    EXPECT_EQ(access->snapshotReads, 5);
    EXPECT_EQ(snapshots().size(), 4u);
}

// Only the music app's own codes leave the process; anything else is "music_unavailable".
TEST_F(ControllerTest, UnreadableMusicAppGivesOfflineSnapshotsWithSafeCodesAndPollingGoesOn) {
    std::vector<std::pair<std::exception_ptr, std::string>> cases = {
        {std::make_exception_ptr(std::runtime_error("Lost /home/user/.music")), "music_unavailable"},
        {std::make_exception_ptr(NativeException(NativeError::invalidCommand)), "invalid_native_command"},
        {std::make_exception_ptr(42), "music_unavailable"}};
    for (const char* code : {"automation_required", "automation_denied", "music_not_running", "music_timeout",
                             "track_unavailable", "native_write_uncertain", "native_command_expired"}) {
        cases.emplace_back(std::make_exception_ptr(std::runtime_error(code)), code);
    }
    clock += 123'456us; // updatedAt keeps its fraction of a millisecond
    const auto run = startRun();
    queue.drain();
    int sequence = 1;
    for (const auto& [error, code] : cases) {
        access->onSnapshot = [&error = error]() -> JSONObject {
            std::rethrow_exception(error);
        };
        queue.advance(1s);
        auto offline = *JSONValue::parse(R"({"provider":"applemusic","state":"offline",
            "updatedAt":1700000000123.456,"track":null,"positionMs":0,"durationMs":0})")
                            .object();
        offline.emplace("code", code);
        ASSERT_EQ(snapshots().back(), stamped(offline, run, ++sequence)) << code;
    }
    access->onSnapshot = returning(playingSnapshot("Back"));
    queue.advance(1s);
    EXPECT_EQ(snapshots().back(), stamped(playingSnapshot("Back"), run, ++sequence));
}

JSONObject withArtwork(JSONObject snapshot, const JSONValue& artwork) {
    snapshot["track"].object()->insert_or_assign("artworkBase64", artwork);
    return snapshot;
}

using Artworks = std::vector<std::optional<std::string>>;

class ArtworkTest : public ControllerTest {
protected:
    // The music app plays `name`; artwork reads return it with "art:<name>" attached.
    void play(const std::string& name, const std::string& trackRef = "REF-1") {
        access->onSnapshot = returning(playingSnapshot(name, trackRef));
        access->onArtwork =
            returning(std::optional(withArtwork(playingSnapshot(name, trackRef), "art:" + name)));
    }
    // Runs both queues until neither has work left.
    void settle() {
        while (queue.drain() + artworkQueue.drain() > 0) {
        }
    }
    void tick() {
        queue.advance(1s);
        settle();
    }
    // The artwork each published snapshot carried.
    Artworks artworks() const {
        Artworks found;
        for (const auto& snapshot : snapshots()) {
            const auto& track = *snapshot.at("track").object();
            const auto artwork = track.find("artworkBase64");
            found.push_back(artwork == track.end() ? std::nullopt : std::optional(*artwork->second.string()));
        }
        return found;
    }
};

// The poll never waits for artwork; it is re-published as soon as it arrives.
TEST_F(ArtworkTest, FetchedOncePerTrackInTheBackgroundAndRepublished) {
    play("Song");
    startRun();
    settle();
    tick();
    play("Song", "REF-2"); // alike in name, artist and album: the same entry
    tick();
    play("Caf\xE9"); // names need not be valid UTF-8 to be told apart
    tick();
    EXPECT_EQ(artworks(),
              (Artworks{std::nullopt, "art:Song", "art:Song", "art:Song", std::nullopt, "art:Caf\xE9"}));

    auto anonymous = playingSnapshot("Song"); // a track without an artist has no artwork
    anonymous["track"].object()->insert_or_assign("artist", nullptr);
    access->onSnapshot = returning(anonymous);
    tick();
    EXPECT_EQ(access->artworkReads, 2);
}

TEST_F(ArtworkTest, OneFetchAtATimeAndWhatDoesNotFitIsDiscardedAndAskedForAgain) {
    startRun();
    queue.drain();
    queue.advance(2s); // two more ticks while the first fetch is still queued
    EXPECT_EQ(artworkQueue.drain(), 1u);

    const auto song = returning(std::optional(withArtwork(playingSnapshot("Song"), "art:Song")));
    const std::vector<std::pair<std::function<void()>, std::function<std::optional<JSONObject>()>>> cases = {
        {[] {},
         []() -> std::optional<JSONObject> {
             throw std::runtime_error("music_timeout");
         }},
        {[this] { play("Next"), queue.advance(1s); }, song}, // the track changed meanwhile
        {[] {}, returning(std::optional(withArtwork(playingSnapshot("Other"), "art:Other")))},
        {[] {}, returning(std::optional(withArtwork(playingSnapshot("Song"), 12)))},
        {[this] { controller->stop(); }, song},
    };
    for (const auto& [duringFetch, result] : cases) {
        play("Song");
        access->onArtwork = result;
        startRun();
        queue.drain();
        duringFetch();
        settle();
    }
    EXPECT_EQ(artworks(), Artworks(snapshots().size()));
    play("Song");
    startRun();
    settle();
    EXPECT_EQ(access->artworkReads, 7);
    EXPECT_EQ(artworks().back(), "art:Song");
}

TEST_F(ArtworkTest, CacheStartsOverWithTheThirtyThirdTrack) {
    startRun();
    const auto visit = [this](int index) {
        play("Song " + std::to_string(index));
        tick();
        return access->artworkReads.load();
    };
    for (int index = 1; index <= 32; ++index) {
        visit(index);
    }
    EXPECT_EQ(visit(1), 32); // all 32 still cached
    EXPECT_EQ(visit(33), 33);
    EXPECT_EQ(visit(33), 33); // the newcomer is kept...
    EXPECT_EQ(visit(32), 34); // ...and the others went with the full cache
}

} // namespace
} // namespace kavrel
