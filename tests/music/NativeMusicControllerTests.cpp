#include "CompanionCore/music/NativeError.hpp"
#include "CompanionCore/runtime/ThreadSerialQueue.hpp"
#include "music/ControllerHarness.hpp"
#include "support/JSONPrinting.hpp"
#include "support/ManualQueue.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

double epochMs(std::chrono::system_clock::time_point time) {
    return std::chrono::duration<double, std::milli>(time.time_since_epoch()).count();
}

JSONObject stamped(JSONObject snapshot, const std::string& run, int sequence) {
    snapshot.insert_or_assign("generation", run);
    snapshot.insert_or_assign("sequence", sequence);
    return snapshot;
}

// A controller on manual queues and a virtual wall clock, recording what it publishes and answers.
class ControllerTest : public ::testing::Test {
protected:
    std::string startRun() {
        return controller->start([this](const JSONObject& snapshot) { snapshots.push_back(snapshot); });
    }

    ManualQueue queue{std::string(NativeMusicController::queueLabel)};
    ManualQueue artworkQueue{std::string(NativeMusicController::artworkQueueLabel)};
    std::shared_ptr<FakeMusicAccess> access = std::make_shared<FakeMusicAccess>();
    std::chrono::system_clock::time_point clock{std::chrono::milliseconds(1'700'000'000'000)};
    std::shared_ptr<NativeMusicController> controller = NativeMusicController::create(
        access, [this] { return clock; }, queue, artworkQueue);
    std::vector<JSONObject> snapshots;
};

TEST_F(ControllerTest, RunsTickAtOnceThenEverySecondWithASequenceSpanningRunsAndOfflineSnapshots) {
    controller->start([](const JSONObject&) { ADD_FAILURE() << "a replaced run published"; });
    const auto first = startRun();
    EXPECT_TRUE(snapshots.empty()); // nothing runs on the caller's thread
    queue.drain();
    queue.advance(2s);
    controller->stop();
    const auto second = startRun();
    queue.drain();

    // One timer only, no change detection, and a sequence that start does not reset.
    const auto reading = playingSnapshot("Song");
    EXPECT_EQ(snapshots, (std::vector<JSONObject>{stamped(reading, first, 1), stamped(reading, first, 2),
                                                  stamped(reading, first, 3), stamped(reading, second, 4)}));
    EXPECT_EQ(access->snapshotReads, 4); // the replaced run's queued tick did not read

    // Only the music app's own codes leave the process in an offline snapshot; anything else is
    // "music_unavailable".
    std::vector<std::pair<std::exception_ptr, std::string>> failures = {
        {std::make_exception_ptr(std::runtime_error("Lost /home/user/.music")), "music_unavailable"},
        {std::make_exception_ptr(NativeException(NativeError::invalidCommand)), "invalid_native_command"},
        {std::make_exception_ptr(42), "music_unavailable"}};
    for (const char* code : {"automation_required", "automation_denied", "music_not_running", "music_timeout",
                             "track_unavailable", "native_write_uncertain", "native_command_expired"}) {
        failures.emplace_back(std::make_exception_ptr(std::runtime_error(code)), code);
    }
    clock += 123'456us; // updatedAt keeps its fraction of a millisecond
    auto offline = *JSONValue::parse(R"({"provider":"applemusic","state":"offline",
        "updatedAt":1700000000123.456,"track":null,"positionMs":0,"durationMs":0})")
                        .object();
    for (const auto& [error, code] : failures) {
        access->onSnapshot = [&error = error]() -> JSONObject {
            std::rethrow_exception(error);
        };
        queue.advance(1s);
        offline.insert_or_assign("code", code);
        ASSERT_EQ(snapshots.back(), stamped(offline, second, static_cast<int>(snapshots.size()))) << code;
    }

    // Polling goes on after failures. A stop while the music app is read drops the reading; a stopped or
    // destroyed controller reads nothing.
    access->onSnapshot = [this] {
        controller->stop();
        return playingSnapshot("Song");
    };
    queue.advance(4s);
    startRun();
    controller.reset();
    queue.advance(3s);
    EXPECT_EQ(access->snapshotReads, 15);
    EXPECT_EQ(snapshots.size(), 14u);
}

JSONObject withArtwork(JSONObject snapshot, const JSONValue& artwork) {
    snapshot["track"].object()->insert_or_assign("artworkBase64", artwork);
    return snapshot;
}

using Artworks = std::vector<JSONValue>; // null where a snapshot carried none

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
        for (const auto& snapshot : snapshots) {
            const auto& track = *snapshot.at("track").object();
            found.push_back(track.contains("artworkBase64") ? track.at("artworkBase64") : nullptr);
        }
        return found;
    }
};

// The poll never waits for artwork; it is re-published as soon as it arrives. The cache holds 32 tracks
// and starts over with the 33rd.
TEST_F(ArtworkTest, FetchedOncePerTrackInTheBackgroundRepublishedAndCachedForThirtyTwoTracks) {
    play("Song");
    startRun();
    settle();
    tick();
    play("Song", "REF-2"); // alike in name, artist and album: the same entry
    tick();
    play("Caf\xE9"); // names need not be valid UTF-8 to be told apart
    tick();
    EXPECT_EQ(artworks(), (Artworks{nullptr, "art:Song", "art:Song", "art:Song", nullptr, "art:Caf\xE9"}));

    auto anonymous = playingSnapshot("Song"); // a track without an artist has no artwork: no read
    anonymous["track"].object()->insert_or_assign("artist", nullptr);
    access->onSnapshot = returning(anonymous);
    tick();
    const auto visit = [this](const std::string& name) {
        play(name);
        tick();
        return access->artworkReads.load();
    };
    for (int index = 3; index <= 32; ++index) {
        visit("Song " + std::to_string(index));
    }
    EXPECT_EQ(visit("Song"), 32); // all 32 still cached
    EXPECT_EQ(visit("Song 33"), 33);
    EXPECT_EQ(visit("Song 33"), 33); // the newcomer is kept...
    EXPECT_EQ(visit("Caf\xE9"), 34); // ...and the others went with the full cache
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
    EXPECT_EQ(artworks(), Artworks(snapshots.size()));
    play("Song");
    startRun();
    settle();
    EXPECT_EQ(access->artworkReads, 7);
    EXPECT_EQ(artworks().back(), JSONValue("art:Song"));
}

// Commands on a run whose latest snapshot holds track "REF-1".
class CommandTest : public ControllerTest {
protected:
    void SetUp() override {
        run = startRun();
        queue.drain();
        snapshots.clear();
    }

    // A getFavorite expiring in ten seconds, with `changes` applied; a null value removes its key.
    JSONObject payload(JSONObject changes = {}) const {
        changes.merge(JSONObject{{"generation", run},
                                 {"expiresAt", epochMs(clock) + 10'000},
                                 {"action", "getFavorite"},
                                 {"trackRef", "REF-1"},
                                 {"nativeGeneration", "N-7"}});
        std::erase_if(changes, [](const auto& entry) { return entry.second.isNull(); });
        return changes;
    }
    void send(JSONObject payload, std::string type = "nativeCommand") {
        controller->command(Envelope("cmd-" + std::to_string(++sent), std::move(type), std::move(payload)),
                            [this](Envelope reply) { replies.push_back(std::move(reply)); });
    }
    std::string codeOf(std::size_t reply) const { return *replies.at(reply).payload.at("code").string(); }

    std::string run;
    std::vector<Envelope> replies;
    int sent = 0;
    const JSONObject setTrue{{"action", "setFavorite"}, {"desiredState", true}};
};

// Rejections at admission are answered at once; the others are answered from the queue, where a
// command is checked again before and after it reaches the music app. The admission handed to the music
// app ends with the run or at the deadline itself.
TEST_F(CommandTest, EveryAnswerEchoesTheGenerationsItWasGiven) {
    const std::function<void()> stop([this] { controller->stop(); }), restart([this] { startRun(); }),
        late([this] { clock += 10s; }), nearlyLate([this] { clock += 9'999ms; });
    struct Case {
        JSONObject changes;
        std::string code; // empty: done
        bool atOnce = false;
        std::function<void()> whileQueued = {};
        std::function<void()> during = {}; // inside the music app call, which then throws `thrown`
        const char* thrown = nullptr;
    };
    const double now = epochMs(clock);
    const std::vector<Case> cases = {
        {{{"generation", 7}}, "invalid_native_command", true},
        {{{"expiresAt", nullptr}}, "invalid_native_command", true},
        {{{"expiresAt", std::to_string(now + 5'000)}}, "invalid_native_command", true},
        {{{"expiresAt", std::nan("")}}, "invalid_native_command", true},
        {{{"generation", "9C5B94B1-35AD-49BB-B118-8E8FC24ABF80"}}, "native_run_changed", true},
        {{{"expiresAt", now}}, "native_command_expired", true},
        {{{"expiresAt", now + 30'000.5}}, "native_command_expired", true},
        {{{"expiresAt", now + 30'000}, {"trackRef", std::string(128, 'r')}, {"nativeGeneration", nullptr}},
         ""},
        {{{"trackRef", "REF-OLD"}}, "", false, {}, nearlyLate},
        {{{"trackRef", std::string(129, 'r')}}, "invalid_native_command"},
        {{{"trackRef", ""}}, "invalid_native_command"},
        {{{"trackRef", 5}}, "invalid_native_command"},
        {{{"action", "toggleFavorite"}}, "invalid_native_command"},
        {{{"action", "setFavorite"}, {"desiredState", "true"}}, "invalid_native_command"},
        {{}, "native_run_changed", false, stop},
        {{}, "native_run_changed", false, restart},
        {{}, "native_command_expired", false, late},
        {setTrue, "track_unavailable", false, {}, {}, "track_unavailable"},
        {{}, "music_unavailable", false, {}, {}, "Track \"Song\" by Artist is gone"},
        {{}, "native_run_changed", false, {}, stop, "track_unavailable"},
        {{}, "native_command_expired", false, {}, late},
        {setTrue, "native_write_uncertain", false, {}, late}, // the write may have held
        {setTrue, "native_run_changed", false, {}, restart},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(&testCase - cases.data());
        access->onFavorite = [&testCase](bool, const MusicAccess::Admission& admission) {
            EXPECT_TRUE(admission());
            if (testCase.during) {
                testCase.during();
                EXPECT_EQ(admission(), testCase.code.empty());
            }
            if (testCase.thrown) {
                throw std::runtime_error(testCase.thrown);
            }
            return true;
        };
        SetUp();
        replies.clear();
        const auto sending = payload(testCase.changes);
        send(sending);
        ASSERT_EQ(replies.size(), testCase.atOnce ? 1u : 0u);
        if (testCase.whileQueued) {
            testCase.whileQueued();
        }
        queue.drain();

        JSONObject expected = testCase.code.empty()
                                  ? JSONObject{{"ok", true}, {"data", JSONObject{{"favorited", true}}}}
                                  : JSONObject{{"ok", false}, {"code", testCase.code}};
        for (const char* key : {"generation", "nativeGeneration"}) {
            if (sending.contains(key)) {
                expected.emplace(key, sending.at(key));
            }
        }
        EXPECT_EQ(replies, std::vector{Envelope("cmd-" + std::to_string(sent), "nativeResult", expected)});
        for (const auto& snapshot : snapshots) { // nothing reported as done is re-published
            EXPECT_EQ(snapshot.at("track").object()->at("favorited"), JSONValue(false));
        }
    }
    send(payload(), "nativeSnapshot");
    EXPECT_EQ(codeOf(1), "invalid_native_command");
}

TEST_F(CommandTest, NinthUnfinishedCommandIsBusyAndAFinishedOneFreesItsSlot) {
    for (int index = 0; index < 9; ++index) {
        send(payload());
    }
    EXPECT_EQ(codeOf(0), "native_busy");

    // While the second command runs the first has finished: one slot is free, and only one.
    access->onFavorite = [&](bool, auto&) {
        if (access->favoriteCalls == 2) {
            send(payload());
            send(payload());
        }
        return true;
    };
    queue.drain();
    EXPECT_EQ(codeOf(2), "native_busy");
    EXPECT_EQ(access->favoriteCalls, 9);
}

TEST_F(CommandTest, ConfirmedFavouriteOfTheLatestTrackIsPublishedBeforeTheResult) {
    auto favorited = stamped(playingSnapshot("Song"), run, 2);
    favorited["track"].object()->insert_or_assign("favorited", true);
    controller->command(Envelope("cmd-1", "nativeCommand", payload(setTrue)), [&](const Envelope& reply) {
        EXPECT_EQ(snapshots, std::vector{favorited});
        replies.push_back(reply);
    });
    queue.drain();
    send(payload()); // admitted, then the controller goes away with its run
    controller.reset();
    queue.drain();
    EXPECT_EQ(codeOf(1), "native_run_changed");
    EXPECT_EQ(access->favoriteCalls, 1);
}

// Real queues and threads: commands arrive from one thread while the main thread starts and stops
// runs. Every command must be answered exactly once; ThreadSanitizer checks the rest.
TEST(NativeMusicControllerStress, CommandsFromAnotherThreadWhileRunsStartAndStop) {
    ThreadSerialQueue queue{std::string(NativeMusicController::queueLabel)};
    ThreadSerialQueue artworkQueue{std::string(NativeMusicController::artworkQueueLabel)};
    auto controller = NativeMusicController::create(std::make_shared<FakeMusicAccess>(),
                                                    std::chrono::system_clock::now, queue, artworkQueue);
    std::mutex mutex; // guards latestRun
    std::string latestRun;
    std::vector<std::atomic<int>> answers(500);
    std::thread sender([&] {
        for (int index = 0; index < 500; ++index) {
            std::unique_lock lock(mutex);
            const JSONObject payload{{"generation", latestRun},
                                     {"expiresAt", epochMs(std::chrono::system_clock::now()) + 20'000},
                                     {"action", index % 2 ? "setFavorite" : "getFavorite"},
                                     {"desiredState", true},
                                     {"trackRef", "REF-1"}};
            lock.unlock();
            controller->command(Envelope("cmd", "nativeCommand", payload),
                                [&answers, index](const Envelope&) { ++answers[index]; });
        }
    });
    for (int index = 0; index < 200; ++index) {
        const auto run = controller->start([&](const JSONObject& snapshot) {
            controller->isCurrent(*snapshot.at("generation").string()); // what the model does with each
        });
        std::lock_guard guard(mutex);
        latestRun = run;
        if (index % 3 == 0) {
            controller->stop();
        }
    }
    sender.join();
    controller->stop();
    std::promise<void> drained; // queued behind every admitted command
    queue.async([&] { drained.set_value(); });
    ASSERT_EQ(drained.get_future().wait_for(60s), std::future_status::ready); // a bound against a hang only
    EXPECT_EQ(std::count(answers.begin(), answers.end(), 1), 500);
}

} // namespace
} // namespace kavrel
