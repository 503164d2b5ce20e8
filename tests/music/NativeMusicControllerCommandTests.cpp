#include "CompanionCore/runtime/ThreadSerialQueue.hpp"
#include "music/ControllerHarness.hpp"

#include <cmath>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

class CommandTest : public ControllerTest {
protected:
    void SetUp() override {
        run = startRun();
        queue.drain(); // the latest snapshot now holds track "REF-1"
        log.clear();
    }

    // The getFavorite command with `changes` applied; a null value removes its key.
    JSONObject payloadWith(const JSONObject& changes) const {
        auto payload = commandPayload(run);
        for (const auto& [key, value] : changes) {
            if (value.isNull()) {
                payload.erase(key);
            } else {
                payload.insert_or_assign(key, value);
            }
        }
        return payload;
    }

    std::string run;
};

// Rejections at admission are answered at once; the others are answered from the queue, where a
// command is checked again before and after it reaches the music app.
TEST_F(CommandTest, EveryAnswerEchoesTheGenerationsItWasGiven) {
    struct Case {
        JSONObject changes;
        std::string code;            // empty: done
        std::string when = "queued"; // "at once", or what happens while queued: "stop", "restart", "late"
        std::function<void()> during = {}; // inside the music app call, which then throws `thrown`
        const char* thrown = nullptr;
    };
    const double now = epochMs(clock);
    const JSONObject set{{"action", "setFavorite"}, {"desiredState", true}};
    const std::vector<Case> cases = {
        {{{"generation", 7}}, "invalid_native_command", "at once"},
        {{{"expiresAt", nullptr}}, "invalid_native_command", "at once"},
        {{{"expiresAt", std::to_string(now + 5'000)}}, "invalid_native_command", "at once"},
        {{{"expiresAt", std::nan("")}}, "invalid_native_command", "at once"},
        {{{"generation", "9C5B94B1-35AD-49BB-B118-8E8FC24ABF80"}}, "native_run_changed", "at once"},
        {{{"expiresAt", now}}, "native_command_expired", "at once"},
        {{{"expiresAt", now + 30'000.5}}, "native_command_expired", "at once"},
        {{{"expiresAt", now + 30'000}, {"trackRef", std::string(128, 'r')}, {"nativeGeneration", nullptr}},
         ""},
        {{{"trackRef", std::string(129, 'r')}}, "invalid_native_command"},
        {{{"trackRef", ""}}, "invalid_native_command"},
        {{{"trackRef", 5}}, "invalid_native_command"},
        {{{"action", "toggleFavorite"}}, "invalid_native_command"},
        {{{"action", "setFavorite"}, {"desiredState", "true"}}, "invalid_native_command"},
        {{}, "native_run_changed", "stop"},
        {{}, "native_run_changed", "restart"},
        {{}, "native_command_expired", "late"},
        {set, "track_unavailable", "queued", [] {}, "track_unavailable"},
        {{}, "music_unavailable", "queued", [] {}, "Track \"Song\" by Artist is gone"},
        {{}, "native_run_changed", "queued", [this] { controller->stop(); }, "track_unavailable"},
        {{},
         "native_command_expired",
         "queued",
         [this] {
             clock += 10s;
         }},
        {set, "native_write_uncertain", "queued",
         [this] {
             clock += 10s;
         }}, // the write may have held
        {set, "native_run_changed", "queued",
         [this] {
             startRun();
         }},
    };
    for (std::size_t row = 0; row < cases.size(); ++row) {
        SCOPED_TRACE(row);
        const auto& testCase = cases[row];
        access->onFavorite = [&testCase](bool, auto&) {
            if (testCase.during) {
                testCase.during();
            }
            if (testCase.thrown) {
                throw std::runtime_error(testCase.thrown);
            }
            return true;
        };
        run = startRun();
        queue.drain();
        log.clear();
        const auto payload = payloadWith(testCase.changes);
        send(payload);
        ASSERT_EQ(replies().size(), testCase.when == "at once" ? 1u : 0u);
        if (testCase.when == "stop") {
            controller->stop();
        } else if (testCase.when == "restart") {
            startRun();
        } else if (testCase.when == "late") {
            clock += 10s;
        }
        queue.drain();

        JSONObject expected = testCase.code.empty()
                                  ? JSONObject{{"ok", true}, {"data", JSONObject{{"favorited", true}}}}
                                  : JSONObject{{"ok", false}, {"code", testCase.code}};
        for (const char* key : {"generation", "nativeGeneration"}) {
            if (payload.contains(key)) {
                expected.emplace(key, payload.at(key));
            }
        }
        EXPECT_EQ(replies(), std::vector{Envelope("cmd-" + std::to_string(sent), "nativeResult", expected)});
        for (const auto& snapshot : snapshots()) { // nothing reported as done is re-published
            EXPECT_EQ(snapshot.at("track").object()->at("favorited"), JSONValue(false));
        }
    }
    send(commandPayload(run), "nativeSnapshot");
    EXPECT_EQ(codeOf(replies().back()), "invalid_native_command");
}

TEST_F(CommandTest, NinthUnfinishedCommandIsBusyAndAFinishedOneFreesItsSlot) {
    for (int index = 0; index < 9; ++index) {
        send(commandPayload(run));
    }
    ASSERT_EQ(replies().size(), 1u);
    EXPECT_EQ(codeOf(replies()[0]), "native_busy");

    // While the second command runs the first has finished: one slot is free, and only one.
    access->onFavorite = [&](bool, auto&) {
        if (access->favoriteCalls == 2) {
            send(commandPayload(run));
            send(commandPayload(run));
        }
        return true;
    };
    queue.drain();
    ASSERT_EQ(replies().size(), 11u);
    EXPECT_EQ(codeOf(replies()[2]), "native_busy");
    EXPECT_EQ(access->favoriteCalls, 9);
}

TEST_F(CommandTest, AdmissionHandedToTheMusicAppFollowsTheDeadlineAndTheRun) {
    std::vector<bool> answers;
    access->onFavorite = [&](bool setting, const MusicAccess::Admission& admission) {
        answers.push_back(admission());
        if (setting) {
            clock += 9'999ms;
            answers.push_back(admission());
            clock += 1ms; // at the deadline itself it is too late
        } else {
            controller->stop();
        }
        answers.push_back(admission());
        return true;
    };
    send(payloadWith({{"action", "setFavorite"}, {"desiredState", true}}));
    queue.drain();
    send(commandPayload(run));
    queue.drain();
    EXPECT_EQ(answers, (std::vector<bool>{true, true, false, true, false}));
}

TEST_F(CommandTest, ConfirmedFavouriteOfTheLatestTrackIsPublishedBeforeTheResult) {
    send(payloadWith({{"action", "setFavorite"}, {"desiredState", true}}));
    send(payloadWith({{"trackRef", "REF-OLD"}})); // no longer the latest track: no snapshot
    queue.drain();

    auto favorited = playingSnapshot("Song");
    favorited["track"].object()->insert_or_assign("favorited", true);
    favorited.insert({{"generation", run}, {"sequence", 2}});
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(std::get<JSONObject>(log[0]), favorited);
    EXPECT_EQ(std::get<Envelope>(log[1]).payload.at("data"), JSONValue(JSONObject{{"favorited", true}}));
    EXPECT_TRUE(std::holds_alternative<Envelope>(log[2]));

    send(commandPayload(run)); // admitted, then the controller goes away with its run
    controller.reset();
    queue.drain();
    EXPECT_EQ(codeOf(replies().back()), "native_run_changed");
    EXPECT_EQ(access->favoriteCalls, 2);
}

// Real queues and threads: commands arrive from one thread while the main thread starts and stops
// runs. Every command must be answered exactly once; ThreadSanitizer checks the rest.
TEST(NativeMusicControllerStress, CommandsFromAnotherThreadWhileRunsStartAndStop) {
    std::mutex mutex;
    std::vector<int> answers(500);
    std::string latestRun;
    ThreadSerialQueue queue{std::string(NativeMusicController::queueLabel)};
    ThreadSerialQueue artworkQueue{std::string(NativeMusicController::artworkQueueLabel)};
    auto controller = NativeMusicController::create(std::make_shared<FakeMusicAccess>(),
                                                    std::chrono::system_clock::now, queue, artworkQueue);
    std::thread sender([&] {
        for (int index = 0; index < 500; ++index) {
            std::unique_lock lock(mutex);
            const JSONObject payload{{"generation", latestRun},
                                     {"expiresAt", epochMs(std::chrono::system_clock::now()) + 20'000},
                                     {"action", index % 2 ? "setFavorite" : "getFavorite"},
                                     {"desiredState", true},
                                     {"trackRef", "REF-1"}};
            lock.unlock();
            controller->command(Envelope("cmd", "nativeCommand", payload), [&, index](const Envelope&) {
                std::lock_guard guard(mutex);
                ++answers[index];
            });
        }
    });
    for (int index = 0; index < 200; ++index) {
        const auto run = controller->start([&](const JSONObject& snapshot) {
            controller->isCurrent(*snapshot.at("generation").string()); // what the model does with each
        });
        {
            std::lock_guard guard(mutex);
            latestRun = run;
        }
        if (index % 3 == 0) {
            controller->stop();
        }
    }
    sender.join();
    controller->stop();
    std::promise<void> drained; // queued behind every admitted command
    queue.async([&] { drained.set_value(); });
    ASSERT_EQ(drained.get_future().wait_for(60s), std::future_status::ready); // a bound against a hang only
    std::lock_guard lock(mutex);
    EXPECT_EQ(answers, std::vector<int>(500, 1));
}

} // namespace
} // namespace kavrel
