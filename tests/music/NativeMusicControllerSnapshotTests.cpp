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

std::optional<std::string> artworkOf(const JSONObject& snapshot) {
    const auto& track = *snapshot.at("track").object();
    const auto found = track.find("artworkBase64");
    return found == track.end() ? std::nullopt : std::optional(*found->second.string());
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

TEST_F(ControllerTest, UnreadableMusicAppGivesOfflineSnapshotsWithSafeCodesAndPollingGoesOn) {
    const std::vector<std::pair<std::function<void()>, std::string>> cases = {
        {[] { throw std::runtime_error("automation_required"); }, "automation_required"},
        {[] { throw std::runtime_error("automation_denied"); }, "automation_denied"},
        {[] { throw std::runtime_error("music_not_running"); }, "music_not_running"},
        {[] { throw std::runtime_error("music_timeout"); }, "music_timeout"},
        {[] { throw std::runtime_error("Connection to /home/user/.music lost"); }, "music_unavailable"},
        {[] { throw NativeException(NativeError::invalidCommand); }, "invalid_native_command"},
        {[] { throw 42; }, "music_unavailable"},
    };
    clock += 123'456us; // updatedAt keeps its fraction of a millisecond
    const auto run = startRun();
    queue.drain();
    int sequence = 1;
    for (const auto& [fail, code] : cases) {
        access->onSnapshot = [&fail = fail]() -> JSONObject {
            fail();
            return {};
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
    EXPECT_EQ(snapshots().back().at("state"), JSONValue("playing"));
}

class ArtworkTest : public ControllerTest {
protected:
    // The music app plays `name`; artwork reads return it with "art:<name>" attached.
    void play(const std::string& name, const std::string& trackRef = "REF-1") {
        access->onSnapshot = returning(playingSnapshot(name, trackRef));
        access->onArtwork =
            returning(std::optional(withArtwork(playingSnapshot(name, trackRef), "art:" + name)));
    }
    void tick() {
        queue.advance(1s);
        settle();
    }
};

TEST_F(ArtworkTest, FetchedOncePerTrackInTheBackgroundAndRepublished) {
    play("Song");
    startRun();
    settle();
    tick();
    play("Song", "REF-2"); // alike in name, artist and album: the same entry
    tick();
    const auto all = snapshots();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(artworkOf(all[0]), std::nullopt); // the poll never waits for artwork
    EXPECT_EQ(artworkOf(all[1]), "art:Song");   // re-published as soon as it arrived
    EXPECT_EQ(all[1].at("sequence"), JSONValue(2));
    EXPECT_EQ(artworkOf(all[3]), "art:Song");
    EXPECT_EQ(access->artworkReads, 1);

    // Names need not be valid UTF-8 to be told apart; a track without an artist has no artwork.
    play("Caf\xE9");
    tick();
    EXPECT_EQ(artworkOf(snapshots().back()), "art:Caf\xE9");
    auto anonymous = playingSnapshot("Song");
    anonymous["track"].object()->insert_or_assign("artist", nullptr);
    access->onSnapshot = returning(anonymous);
    tick();
    EXPECT_EQ(access->artworkReads, 2);
}

TEST_F(ArtworkTest, MissingArtworkIsAskedForAgainOneFetchAtATime) {
    startRun();
    queue.drain();
    queue.advance(2s); // two more ticks while the first fetch is still queued
    EXPECT_EQ(artworkQueue.drain(), 1u);
    settle();
    access->onArtwork = []() -> std::optional<JSONObject> {
        throw std::runtime_error("music_timeout");
    };
    tick();
    tick();
    EXPECT_EQ(access->artworkReads, 3);
    for (const auto& snapshot : snapshots()) {
        EXPECT_EQ(artworkOf(snapshot), std::nullopt);
    }
}

TEST_F(ArtworkTest, ArtworkOfAnotherTrackOrRunIsDiscardedAndNotCached) {
    const auto song = std::optional(withArtwork(playingSnapshot("Song"), "art:Song"));
    const std::vector<std::pair<std::function<void()>, std::optional<JSONObject>>> cases = {
        {[this] { play("Next"), queue.advance(1s); }, song}, // the track changed meanwhile
        {[] {}, withArtwork(playingSnapshot("Other"), "art:Other")},
        {[] {}, withArtwork(playingSnapshot("Song"), 12)},
        {[this] { controller->stop(); }, song},
    };
    for (const auto& [duringFetch, result] : cases) {
        play("Song");
        access->onArtwork = returning(result);
        startRun();
        queue.drain();
        log.clear();
        duringFetch();
        settle();
        for (const auto& snapshot : snapshots()) {
            EXPECT_EQ(artworkOf(snapshot), std::nullopt);
        }
    }
    play("Song");
    startRun();
    settle();
    EXPECT_EQ(access->artworkReads, 5);
    EXPECT_EQ(artworkOf(snapshots().back()), "art:Song");
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
