#include "supervisor/SupervisorHarness.hpp"
#include "support/ExpectedTexts.hpp"

#include <csignal>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

class RestartTest : public SupervisorTest {
protected:
    // The current child exits after running for `runTime`; a new one must start exactly `delay` later.
    ::testing::AssertionResult exitsAndRestartsAfter(std::chrono::seconds runTime,
                                                     std::chrono::seconds delay) {
        runAnsweringStatus(runTime);
        exitChild();
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

TEST_F(RestartTest, QuickExitsRestartAfterDoublingDelaysUntilTheSeventhAndReconnectRevives) {
    launchReady();
    for (const auto delay : {1s, 2s, 4s, 8s, 16s, 30s}) {
        EXPECT_TRUE(exitsAndRestartsAfter(10s, delay));
        EXPECT_EQ(messages.at(messages.size() - 3), expected::helperStopped);
    }
    advance(10s);
    exitChild();
    advance(1h);
    EXPECT_EQ(launcher.childCount(), 7u);
    EXPECT_EQ(supervisor->message().value(), expected::helperStopped);

    supervisor->reconnect();
    flush();
    ASSERT_EQ(launcher.childCount(), 8u);
    answer("initialize", okPayload());
    EXPECT_TRUE(exitsAndRestartsAfter(1s, 1s));
}

TEST_F(RestartTest, ARunOf60SecondsResetsTheBackOffAndOneOf59DoesNot) {
    launchReady();
    EXPECT_TRUE(exitsAndRestartsAfter(10s, 1s));
    EXPECT_TRUE(exitsAndRestartsAfter(10s, 2s));
    EXPECT_TRUE(exitsAndRestartsAfter(59s, 4s));
    EXPECT_TRUE(exitsAndRestartsAfter(60s, 1s));
    EXPECT_TRUE(exitsAndRestartsAfter(10s, 2s));
}

TEST_F(SupervisorTest, AnExitFailsEveryPendingCommandAndReleasesTheChild) {
    launchReady();
    std::vector<std::string> linesSeenByCompletions;
    for (int i = 0; i < 3; ++i) {
        supervisor->send("configure", {}, [&](std::optional<Envelope> reply) {
            EXPECT_FALSE(reply);
            linesSeenByCompletions.push_back(supervisor->message().value());
        });
    }
    flush();
    exitChild();
    EXPECT_EQ(linesSeenByCompletions, std::vector<std::string>(3, expected::helperReady));
    EXPECT_EQ(supervisor->message().value(), expected::helperStopped);
    EXPECT_TRUE(child().input().isClosed());
    EXPECT_TRUE(child().isReleased());
    EXPECT_EQ(loop.watchCount(), 0u);
    EXPECT_EQ(loop.timerCount(), 1u); // only the restart
    EXPECT_FALSE(supervisor->ready().value());
}

TEST_F(SupervisorTest, ALateExitReportOfAnEarlierChildChangesNothing) {
    launchReady();
    auto& first = child();
    exitChild();
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

// shutdown() waits 2 s for the child, kills it if it is still there, and nothing starts after it.
TEST_F(SupervisorTest, ShutdownStopsTheChildWithinTheGraceAndNothingStartsAgain) {
    using Waits = std::vector<std::optional<std::chrono::milliseconds>>;
    const std::vector<std::tuple<const char*, bool, std::vector<int>, Waits>> rows{
        {"the child ends on SIGTERM", false, {SIGTERM}, {2000ms}},
        {"the child ignores SIGTERM", true, {SIGTERM, SIGKILL}, {2000ms, std::nullopt}},
    };
    for (const auto& [label, ignoresTerminate, signals, waits] : rows) {
        SCOPED_TRACE(label);
        makeSupervisor("/bin/true", [] { return std::string(64, 'e'); });
        replies.clear();
        launchReady();
        const auto children = launcher.childCount();
        if (ignoresTerminate) {
            child().ignoreTerminate();
        }
        supervisor->send("stop", {}, record());
        flush();
        supervisor->shutdown();
        EXPECT_EQ(child().signals(), signals);
        EXPECT_EQ(child().waits(), waits);
        flush();
        EXPECT_EQ(replies, std::vector<std::optional<Envelope>>{std::nullopt});
        supervisor->launch();
        supervisor->reconnect();
        advance(1h);
        EXPECT_EQ(launcher.childCount(), children);
    }
}

TEST_F(SupervisorTest, ShutdownCancelsAScheduledRestart) {
    launchReady();
    exitChild();
    supervisor->shutdown();
    advance(1h);
    EXPECT_EQ(launcher.childCount(), 1u);
}

TEST_F(SupervisorTest, DestroyingTheSupervisorLeavesTheChildAloneAndItsLateEventsHarmless) {
    launchReady();
    supervisor->send("status", {}, record());
    auto& orphan = child();
    supervisor.reset();
    EXPECT_TRUE(orphan.signals().empty());
    EXPECT_TRUE(orphan.isReleased());
    orphan.exit(1);
    loop.advance(1h); // the writer queue went with the supervisor
    EXPECT_TRUE(replies.empty());
}

} // namespace
} // namespace kavrel
