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
}

TEST_F(ControllerTest, StoppedOrDestroyedControllerPublishesNothing) {
    startRun();
    controller->stop();
    queue.advance(3s);
    EXPECT_EQ(access->snapshotReads, 0);

    // A stop that lands while the music app is being read drops that reading.
    startRun();
    access->onSnapshot = [this] {
        controller->stop();
        return playingSnapshot("Song");
    };
    queue.drain();
    EXPECT_EQ(access->snapshotReads, 1);

    access->onSnapshot = [] {
        return playingSnapshot("Song");
    };
    startRun();
    controller.reset();
    queue.advance(3s);
    EXPECT_EQ(access->snapshotReads, 1);
    EXPECT_TRUE(log.empty());
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
        const JSONObject offline{{"provider", "applemusic"},
                                 {"state", "offline"},
                                 {"updatedAt", 1'700'000'000'123.456},
                                 {"track", nullptr},
                                 {"positionMs", 0},
                                 {"durationMs", 0},
                                 {"code", code}};
        ASSERT_EQ(snapshots().back(), stamped(offline, run, ++sequence)) << code;
    }
    access->onSnapshot = [] {
        return playingSnapshot("Back");
    };
    queue.advance(1s);
    EXPECT_EQ(snapshots().back().at("state"), JSONValue("playing"));
}

TEST_F(ControllerTest, PermissionAndDiagnosticsAnswerFromTheQueueWithSafeText) {
    std::vector<std::optional<std::string>> permissions;
    std::vector<std::string> reports;
    const auto ask = [&] {
        controller->requestAuthorization(
            [&](std::optional<std::string> code) { permissions.push_back(code); });
        controller->diagnostics([&](std::string report) { reports.push_back(std::move(report)); });
    };
    ask();
    EXPECT_TRUE(permissions.empty() && reports.empty());
    queue.drain();
    access->onAuthorization = [] {
        throw std::runtime_error("Not authorized to send Apple events");
    };
    access->onDiagnostics = []() -> JSONObject {
        throw std::runtime_error("music_timeout");
    };
    ask();
    queue.drain();

    EXPECT_EQ(permissions, (std::vector<std::optional<std::string>>{std::nullopt, "music_unavailable"}));
    EXPECT_EQ(reports,
              (std::vector<std::string>{"{\n  \"schemaVersion\" : 1,\n  \"stage\" : \"ready\"\n}",
                                        "{\n  \"schemaVersion\" : 1,\n  \"stage\" : \"unavailable\"\n}"}));
}

} // namespace
} // namespace kavrel
