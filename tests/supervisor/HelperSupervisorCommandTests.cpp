#include "supervisor/SupervisorHarness.hpp"

#include <csignal>
#include <limits>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

struct Recorder {
    std::vector<std::optional<Envelope>> replies;
    HelperSupervisor::Completion completion() {
        return [this](std::optional<Envelope> reply) {
            replies.push_back(std::move(reply));
        };
    }
};

TEST_F(SupervisorTest, SendIsRefusedBeforeItReturnsWithoutARunningChild) {
    Recorder before;
    supervisor->send("status", {}, before.completion());
    ASSERT_EQ(before.replies.size(), 1u);
    EXPECT_FALSE(before.replies[0]);

    launchReady();
    child().ignoreTerminate();
    child().exit(); // gone, its exit not yet reported
    Recorder after;
    supervisor->send("pair", {}, after.completion());
    ASSERT_EQ(after.replies.size(), 1u);
    EXPECT_FALSE(after.replies[0]);
    flush();
    EXPECT_EQ(sentTypes(), (std::vector<std::string>{"initialize", "status"}));
}

TEST_F(SupervisorTest, SixteenCommandsInFlightRefuseTheSeventeenthUntilOneIsAnswered) {
    launchReady();
    Recorder inFlight;
    for (int i = 0; i < 16; ++i) {
        supervisor->send("retryCloud", {}, inFlight.completion());
    }
    EXPECT_TRUE(inFlight.replies.empty());
    Recorder refused;
    supervisor->send("nativeSnapshot", {});
    supervisor->send("retryCloud", {}, refused.completion());
    ASSERT_EQ(refused.replies.size(), 1u);
    EXPECT_FALSE(refused.replies[0]);
    flush();
    EXPECT_EQ(sent().size(), 2u + 16u);

    answer("retryCloud", okPayload());
    Recorder accepted;
    supervisor->send("retryCloud", {}, accepted.completion());
    EXPECT_TRUE(accepted.replies.empty());
}

TEST_F(SupervisorTest, ACommandPastItsDeadlineStopsTheChildOnTheNextTickAndFailsOnlyAtExit) {
    launchReady();
    child().ignoreTerminate();
    advance(500ms);
    Recorder pair;
    supervisor->send("pair", {}, pair.completion());
    flush();
    advance(19500ms); // 20 s after launch, 19.5 s after sending
    EXPECT_TRUE(child().signals().empty());
    advance(1s); // the first tick after the deadline
    EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
    EXPECT_EQ(supervisor->message().value(), "Connector did not respond. Reconnecting…");
    EXPECT_TRUE(pair.replies.empty());

    advance(1s); // still stopping: not stopped again
    EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
    EXPECT_EQ(unavailableCalls, 1);
    advance(1s);
    EXPECT_EQ(child().signals(), (std::vector<int>{SIGTERM, SIGKILL}));
    ASSERT_EQ(pair.replies.size(), 1u);
    EXPECT_FALSE(pair.replies[0]);
    EXPECT_EQ(supervisor->message().value(), "Connector stopped. Reconnecting…");
}

TEST_F(SupervisorTest, StatusIsPolledEveryFiveSecondsOnlyWhileReady) {
    const auto statusCount = [this] {
        const auto types = sentTypes();
        return std::count(types.begin(), types.end(), "status");
    };
    supervisor->launch();
    flush();
    advance(10s);
    EXPECT_EQ(statusCount(), 0);

    answer("initialize", okPayload()); // ready at 10 s: the first status right away
    EXPECT_EQ(statusCount(), 1);
    answer("status", okPayload());
    advance(4s);
    EXPECT_EQ(statusCount(), 1);
    advance(1s);
    EXPECT_EQ(statusCount(), 2);
    answer("status", okPayload());
    advance(5s);
    EXPECT_EQ(statusCount(), 3);
}

TEST_F(SupervisorTest, ReplyWritesOnlyNativeResultsAndWaitsForNothing) {
    launchReady();
    supervisor->reply(Envelope("A", "result", {{"ok", true}}));
    supervisor->reply(Envelope("B", "nativeSnapshot", {}));
    supervisor->reply(Envelope("C", "nativeResult", {{"ok", true}}));
    flush();
    const auto envelopes = sent();
    ASSERT_EQ(envelopes.size(), 3u);
    EXPECT_EQ(envelopes[2], Envelope("C", "nativeResult", {{"ok", true}}));
    advance(24s); // no deadline for a reply; the first unanswered poll expires only at 25 s
    EXPECT_TRUE(child().signals().empty());
}

TEST_F(SupervisorTest, WritesWaitForTheWriterQueueAndKeepTheirOrder) {
    launchReady();
    supervisor->send("configure", {});
    supervisor->reply(Envelope("R", "nativeResult", {}));
    supervisor->send("start", {});
    loop.runUntilIdle();
    EXPECT_EQ(sent().size(), 2u);
    writer->drain();
    EXPECT_EQ(sentTypes(),
              (std::vector<std::string>{"initialize", "status", "configure", "nativeResult", "start"}));
}

TEST_F(SupervisorTest, AWriteFailureStopsItsOwnChildButNotALaterOne) {
    launchReady();
    child().input().failWrites();
    supervisor->send("configure", {});
    flush();
    EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});

    advance(1s);
    ASSERT_EQ(launcher.childCount(), 2u);
    answer("initialize", okPayload());
    auto& second = launcher.last();
    second.input().failWrites();
    supervisor->send("configure", {}); // still queued when the second child goes
    second.exit();
    loop.runUntilIdle();
    loop.advance(2s); // the second quick exit in a row
    keyring->drain(); // the relaunch's key arrives, with the writer still held back
    loop.runUntilIdle();
    ASSERT_EQ(launcher.childCount(), 3u);
    const int unavailableBefore = unavailableCalls;
    flush(); // the second child's write fails only now
    EXPECT_TRUE(launcher.last().signals().empty());
    EXPECT_TRUE(launcher.last().isRunning());
    EXPECT_EQ(unavailableCalls, unavailableBefore);
}

TEST_F(SupervisorTest, UnencodableMessagesAreDroppedAndTheCommandLooksUnanswered) {
    launchReady();
    supervisor->reply(Envelope("", "nativeResult", {}));
    Recorder lost;
    supervisor->send("nativeSnapshot", {{"position", std::numeric_limits<double>::quiet_NaN()}},
                     lost.completion());
    flush();
    EXPECT_EQ(sent().size(), 2u);
    EXPECT_TRUE(lost.replies.empty());
    for (int second = 0; second < 21; ++second) {
        advance(1s);
        if (second % 5 == 4) {
            answer("status", okPayload());
        }
    }
    EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
    ASSERT_EQ(lost.replies.size(), 1u);
    EXPECT_FALSE(lost.replies[0]);
}

} // namespace
} // namespace kavrel
