#include "music/ControllerHarness.hpp"

#include <stdexcept>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

std::optional<std::string> artworkOf(const JSONObject& snapshot) {
    const auto& track = *snapshot.at("track").object();
    const auto found = track.find("artworkBase64");
    return found == track.end() ? std::nullopt : std::optional(*found->second.string());
}

class ArtworkTest : public ControllerTest {
protected:
    // The music app plays `name`; artwork reads return it with "art:<name>" attached.
    void play(const std::string& name, const std::string& trackRef = "REF-1") {
        access->onSnapshot = [=] {
            return playingSnapshot(name, trackRef);
        };
        access->onArtwork = [=] {
            return std::optional(withArtwork(playingSnapshot(name, trackRef), "art:" + name));
        };
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
    access->onSnapshot = [] {
        auto snapshot = playingSnapshot("Song");
        snapshot["track"].object()->insert_or_assign("artist", nullptr);
        return snapshot;
    };
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
    const auto songArtwork = [] {
        return std::optional(withArtwork(playingSnapshot("Song"), "art:Song"));
    };
    const std::vector<std::pair<std::function<void()>, std::function<std::optional<JSONObject>()>>> cases = {
        {[this] {
             play("Next");
             queue.advance(1s);
         },
         songArtwork}, // the track changed meanwhile
        {[] {},
         [] {
             return std::optional(withArtwork(playingSnapshot("Other"), "art:Other"));
         }},
        {[] {},
         [] {
             auto numeric = playingSnapshot("Song");
             numeric["track"].object()->insert_or_assign("artworkBase64", 12);
             return std::optional(numeric);
         }},
        {[this] { controller->stop(); }, songArtwork},
    };
    for (const auto& [duringFetch, result] : cases) {
        play("Song");
        access->onArtwork = result;
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
