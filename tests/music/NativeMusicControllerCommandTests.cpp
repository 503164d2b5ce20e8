#include "CompanionCore/runtime/ThreadSerialQueue.hpp"
#include "music/ControllerHarness.hpp"

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <map>
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

    JSONObject payloadWith(const JSONObject& changes, const std::vector<std::string>& removed = {}) const {
        auto payload = commandPayload(run);
        for (const auto& key : removed) {
            payload.erase(key);
        }
        for (const auto& [key, value] : changes) {
            payload.insert_or_assign(key, value);
        }
        return payload;
    }

    std::string run;
};

// Rejections at admission are answered at once; the others are answered from the queue, where a
// command is checked again before it reaches the music app.
TEST_F(CommandTest, EveryAnswerEchoesTheGenerationsItWasGiven) {
    struct Case {
        JSONObject changes;
        std::vector<std::string> removed;
        std::string code;             // empty: admitted and run
        std::string when = "at once"; // or "queued", or what happens while queued: "stop", "restart", "late"
        std::string type = "nativeCommand";
    };
    const double now = nowMs();
    const std::vector<Case> cases = {
        {{}, {}, "invalid_native_command", "at once", "nativeSnapshot"},
        {{}, {"generation"}, "invalid_native_command"},
        {{{"generation", 7}}, {}, "invalid_native_command"},
        {{}, {"expiresAt"}, "invalid_native_command"},
        {{{"expiresAt", std::to_string(now + 5'000)}}, {}, "invalid_native_command"},
        {{{"expiresAt", std::numeric_limits<double>::infinity()}}, {}, "invalid_native_command"},
        {{{"expiresAt", std::nan("")}}, {}, "invalid_native_command"},
        {{{"generation", "9C5B94B1-35AD-49BB-B118-8E8FC24ABF80"}}, {}, "native_run_changed"},
        {{{"expiresAt", now}}, {}, "native_command_expired"},
        {{{"expiresAt", now + 30'000.5}}, {}, "native_command_expired"},
        {{{"expiresAt", now + 30'000}, {"trackRef", std::string(128, 'r')}},
         {"nativeGeneration"},
         "",
         "queued"},
        {{{"trackRef", std::string(129, 'r')}}, {}, "invalid_native_command", "queued"},
        {{{"trackRef", ""}}, {}, "invalid_native_command", "queued"},
        {{{"trackRef", 5}}, {}, "invalid_native_command", "queued"},
        {{}, {"action"}, "invalid_native_command", "queued"},
        {{{"action", "toggleFavorite"}}, {}, "invalid_native_command", "queued"},
        {{{"action", "setFavorite"}}, {}, "invalid_native_command", "queued"},
        {{{"action", "setFavorite"}, {"desiredState", "true"}}, {}, "invalid_native_command", "queued"},
        {{}, {}, "native_run_changed", "stop"},
        {{}, {}, "native_run_changed", "restart"},
        {{}, {}, "native_command_expired", "late"},
    };
    for (std::size_t name = 0; name < cases.size(); ++name) {
        const auto& testCase = cases[name];
        run = startRun();
        log.clear();
        const auto payload = payloadWith(testCase.changes, testCase.removed);
        send(payload, testCase.type);
        ASSERT_EQ(replies().size(), testCase.when == "at once" ? 1u : 0u) << name;
        if (testCase.when == "stop") {
            controller->stop();
        } else if (testCase.when == "restart") {
            startRun();
        } else if (testCase.when == "late") {
            clock += 10s;
        }
        queue.drain();
        ASSERT_EQ(replies().size(), 1u) << name;

        JSONObject expected = testCase.code.empty()
                                  ? JSONObject{{"ok", true}, {"data", JSONObject{{"favorited", true}}}}
                                  : JSONObject{{"ok", false}, {"code", testCase.code}};
        for (const char* key : {"generation", "nativeGeneration"}) {
            if (payload.contains(key)) {
                expected.emplace(key, payload.at(key));
            }
        }
        EXPECT_EQ(replies().front().payload, expected) << name;
        EXPECT_EQ(replies().front().type, "nativeResult");
        EXPECT_EQ(replies().front().id, "cmd-" + std::to_string(sent));
    }
    EXPECT_EQ(access->favoriteCalls, 1);
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

TEST_F(CommandTest, FailedOrLateResultsOfTheMusicAppBecomeSafeCodes) {
    struct Case {
        std::string action;
        std::function<void()> during; // runs inside the access call
        const char* thrown;           // then thrown, or nullptr to return a value
        std::string code;
    };
    const std::vector<Case> cases = {
        {"setFavorite", [] {}, "track_unavailable", "track_unavailable"},
        {"setFavorite", [] {}, "native_write_uncertain", "native_write_uncertain"},
        {"getFavorite", [] {}, "Track \"Song\" by Artist is gone", "music_unavailable"},
        {"getFavorite", [this] { controller->stop(); }, "track_unavailable", "native_run_changed"},
        {"getFavorite", [this] { clock += 10s; }, nullptr, "native_command_expired"},
        {"setFavorite", [this] { clock += 10s; }, nullptr, "native_write_uncertain"},
        {"setFavorite", [this] { startRun(); }, nullptr, "native_run_changed"},
    };
    for (const auto& testCase : cases) {
        run = startRun();
        queue.drain();
        log.clear();
        access->onFavorite = [&testCase](bool, auto&) {
            testCase.during();
            if (testCase.thrown) {
                throw std::runtime_error(testCase.thrown);
            }
            return true;
        };
        send(payloadWith({{"action", testCase.action}, {"desiredState", true}}));
        queue.drain();
        ASSERT_EQ(replies().size(), 1u);
        EXPECT_EQ(codeOf(replies()[0]), testCase.code) << testCase.action << ' ' << testCase.code;
        for (const auto& snapshot : snapshots()) { // nothing reported as done is re-published
            EXPECT_EQ(snapshot.at("track").object()->at("favorited"), JSONValue(false));
        }
    }
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

    ASSERT_EQ(log.size(), 3u);
    const auto* snapshot = std::get_if<JSONObject>(&log[0]);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->at("track").object()->at("favorited"), JSONValue(true));
    EXPECT_EQ(snapshot->at("sequence"), JSONValue(2));
    ASSERT_TRUE(std::holds_alternative<Envelope>(log[1]));
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
    std::map<std::string, int> answers;
    std::string latestRun;
    const auto nowMs = [] {
        return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    ThreadSerialQueue queue{std::string(NativeMusicController::queueLabel)};
    ThreadSerialQueue artworkQueue{std::string(NativeMusicController::artworkQueueLabel)};
    auto controller = NativeMusicController::create(std::make_shared<FakeMusicAccess>(),
                                                    std::chrono::system_clock::now, queue, artworkQueue);
    std::thread sender([&] {
        for (int index = 0; index < 500; ++index) {
            std::unique_lock lock(mutex);
            const JSONObject payload{{"generation", latestRun},
                                     {"expiresAt", nowMs() + 20'000},
                                     {"action", index % 2 ? "setFavorite" : "getFavorite"},
                                     {"desiredState", true},
                                     {"trackRef", "REF-1"}};
            lock.unlock();
            controller->command(Envelope("cmd-" + std::to_string(index), "nativeCommand", payload),
                                [&](const Envelope& reply) {
                                    std::lock_guard guard(mutex);
                                    ++answers[reply.id];
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
    ASSERT_EQ(answers.size(), 500u);
    EXPECT_TRUE(std::ranges::all_of(answers, [](const auto& answer) { return answer.second == 1; }));
}

} // namespace
} // namespace kavrel
