#include "supervisor/SupervisorHarness.hpp"

#include <csignal>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

const std::string stoppedText = "Connector stopped. Reconnecting…";

class RestartTest : public SupervisorTest {
protected:
    // The current child exits after running for the given time; true when a new child started
    // exactly `delay` later and not a moment before.
    ::testing::AssertionResult exitsAndRestartsAfter(std::chrono::seconds runTime,
                                                     std::chrono::seconds delay) {
        runAnsweringStatus(runTime);
        child().exit(1);
        flush();
        const auto children = launcher.childCount();
        advance(delay - 1ms);
        if (launcher.childCount() != children) {
            return ::testing::AssertionFailure() << "restarted before " << delay.count() << " s";
        }
        advance(1ms);
        if (launcher.childCount() != children + 1) {
            return ::testing::AssertionFailure() << "not restarted after " << delay.count() << " s";
        }
        answer("initialize", okPayload());
        return ::testing::AssertionSuccess();
    }
};

TEST_F(RestartTest, QuickExitsRestartAfterDoublingDelaysAndTheSeventhIsFinal) {
    launchReady();
    for (const auto delay : {1s, 2s, 4s, 8s, 16s, 30s}) {
        EXPECT_TRUE(exitsAndRestartsAfter(10s, delay));
        EXPECT_EQ(messages.at(messages.size() - 3), stoppedText);
    }
    advance(10s);
    child().exit(1);
    flush();
    advance(1h);
    EXPECT_EQ(launcher.childCount(), 7u);
    EXPECT_EQ(supervisor->message().value(), stoppedText);
}

TEST_F(RestartTest, AStableRunResetsTheBackOff) {
    launchReady();
    EXPECT_TRUE(exitsAndRestartsAfter(10s, 1s));
    EXPECT_TRUE(exitsAndRestartsAfter(10s, 2s));
    EXPECT_TRUE(exitsAndRestartsAfter(10s, 4s));
    EXPECT_TRUE(exitsAndRestartsAfter(59s, 8s));
    EXPECT_TRUE(exitsAndRestartsAfter(60s, 1s));
    EXPECT_TRUE(exitsAndRestartsAfter(10s, 2s));
}

TEST_F(RestartTest, ReconnectClearsTheBackOffAndRevivesAConnectorThatWasGivenUp) {
    launchReady();
    for (const auto delay : {1s, 2s, 4s, 8s, 16s, 30s}) {
        ASSERT_TRUE(exitsAndRestartsAfter(1s, delay));
    }
    advance(1s);
    child().exit(1);
    flush();
    advance(1h);
    ASSERT_EQ(launcher.childCount(), 7u);

    supervisor->reconnect();
    flush();
    ASSERT_EQ(launcher.childCount(), 8u);
    answer("initialize", okPayload());
    EXPECT_TRUE(exitsAndRestartsAfter(1s, 1s));
}

TEST_F(SupervisorTest, ExitFailsEveryPendingCommandAndReleasesTheChild) {
    launchReady();
    std::vector<std::string> messagesSeenByCompletions;
    for (int i = 0; i < 3; ++i) {
        supervisor->send("configure", {}, [&](std::optional<Envelope> reply) {
            EXPECT_FALSE(reply);
            messagesSeenByCompletions.push_back(supervisor->message().value());
        });
    }
    flush();
    child().exit(1);
    flush();

    EXPECT_EQ(messagesSeenByCompletions, std::vector<std::string>(3, "Local helper ready"));
    EXPECT_EQ(supervisor->message().value(), stoppedText);
    EXPECT_TRUE(child().input().isClosed());
    EXPECT_TRUE(child().isReleased());
    EXPECT_EQ(loop.watchCount(), 0u);
    EXPECT_EQ(loop.timerCount(), 1u); // only the restart
    EXPECT_FALSE(supervisor->ready().value());
}

TEST_F(SupervisorTest, AChildIgnoringTerminateIsKilledTwoSecondsLater) {
    launchReady();
    child().ignoreTerminate();
    supervisor->reconnect();
    flush();
    EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
    advance(1999ms);
    EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
    advance(1ms);
    EXPECT_EQ(child().signals(), (std::vector<int>{SIGTERM, SIGKILL}));
    advance(1s);
    EXPECT_EQ(launcher.childCount(), 2u);
}

TEST_F(SupervisorTest, AStopBegunByTheSupervisorReportsUnavailableTwice) {
    launchReady();
    child().ignoreTerminate();
    supervisor->reconnect();
    child().closeOutput(); // the end of output that follows a stop is part of it
    flush();
    EXPECT_EQ(unavailableCalls, 1);
    advance(2s);
    EXPECT_EQ(unavailableCalls, 2);
}

TEST_F(SupervisorTest, ALateExitReportOfAnEarlierChildChangesNothing) {
    launchReady();
    auto& first = child();
    first.exit(1);
    flush();
    advance(1s);
    answer("initialize", okPayload());
    const int unavailableBefore = unavailableCalls;

    first.reportExitAgain();
    flush();
    EXPECT_TRUE(supervisor->ready().value());
    EXPECT_TRUE(child().signals().empty());
    EXPECT_FALSE(child().isReleased());
    EXPECT_EQ(unavailableCalls, unavailableBefore);
}

TEST_F(SupervisorTest, ReconnectDuringTheHandshakeLeavesTheConnectorStopped) {
    supervisor->launch();
    flush();
    supervisor->reconnect();
    flush();
    EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
    EXPECT_EQ(supervisor->message().value(), generalFailureText);
    advance(1h);
    EXPECT_EQ(launcher.childCount(), 1u);
}

TEST_F(SupervisorTest, ShutdownStopsTheChildWithinTheGraceAndNothingStartsAgain) {
    launchReady();
    std::optional<Envelope> lost = Envelope();
    supervisor->send("stop", {}, [&](std::optional<Envelope> reply) { lost = reply; });
    flush();
    supervisor->shutdown();
    EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
    EXPECT_EQ(child().waits(), (std::vector<std::optional<std::chrono::milliseconds>>{2000ms}));
    flush();
    EXPECT_FALSE(lost);

    supervisor->launch();
    supervisor->reconnect();
    advance(1h);
    EXPECT_EQ(launcher.childCount(), 1u);
}

TEST_F(SupervisorTest, ShutdownKillsAChildThatIgnoresTerminateAfterTwoSeconds) {
    launchReady();
    child().ignoreTerminate();
    const auto start = loop.now();
    supervisor->shutdown();
    EXPECT_EQ(child().signals(), (std::vector<int>{SIGTERM, SIGKILL}));
    EXPECT_EQ(child().waits(), (std::vector<std::optional<std::chrono::milliseconds>>{2000ms, 3000ms}));
    EXPECT_EQ(loop.now() - start, 2s);
}

TEST_F(SupervisorTest, ShutdownCancelsAScheduledRestart) {
    launchReady();
    child().exit(1);
    flush();
    supervisor->shutdown();
    advance(1h);
    EXPECT_EQ(launcher.childCount(), 1u);
}

TEST_F(SupervisorTest, DestroyingTheSupervisorLeavesTheChildAloneAndItsLateEventsHarmless) {
    launchReady();
    bool completed = false;
    supervisor->send("status", {}, [&](std::optional<Envelope>) { completed = true; });
    auto& orphan = child();
    supervisor.reset();
    EXPECT_TRUE(orphan.signals().empty());
    EXPECT_TRUE(orphan.isReleased());
    orphan.exit(1);
    loop.advance(1h); // the writer queue went with the supervisor
    EXPECT_FALSE(completed);
}

} // namespace
} // namespace kavrel
