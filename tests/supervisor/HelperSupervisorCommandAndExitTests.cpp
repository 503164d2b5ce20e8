#include "supervisor/SupervisorHarness.hpp"
#include "support/ExpectedTexts.hpp"

#include <csignal>
#include <limits>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

const std::vector<std::optional<Envelope>> oneAbsentReply{std::nullopt};

// Refused commands get their absent reply before send() returns, and nothing is written for them.
TEST_F(SupervisorTest, CommandsAreRefusedWithoutARunningChildAndBeyondSixteenInFlight) {
    supervisor->send("status", {}, record());
    launchReady();
    for (int i = 0; i < 15; ++i) {
        supervisor->send("retryCloud", {}, record());
    }
    supervisor->send("nativeSnapshot", {}); // without a completion, it waits all the same
    supervisor->send("retryCloud", {}, record());
    EXPECT_EQ(replies, (std::vector<std::optional<Envelope>>(2)));
    flush();
    answer("nativeSnapshot", okPayload());
    EXPECT_EQ(sent().size(), 2u + 16u);
    supervisor->send("retryCloud", {}, record());
    EXPECT_EQ(replies.size(), 2u);
    flush();

    child().exit(); // gone, its exit not yet reported
    supervisor->send("pair", {}, record());
    EXPECT_EQ(replies.size(), 3u);
    flush();
    EXPECT_EQ(sent().size(), 2u + 17u);
}

// The deadline is 20 s after sending, checked on the 1 s tick; the completion waits for the exit.
// An unencodable command is dropped unwritten and waits like any other. A child that ignores
// SIGTERM gets SIGKILL 2 s later, and is stopped only once meanwhile.
TEST_F(SupervisorTest, ACommandPastItsDeadlineStopsTheChildOnTheNextTickAndIsFailedAtTheExit) {
    launchReady();
    child().ignoresTerminate = true;
    supervisor->reply(Envelope("", "nativeResult", {}));
    supervisor->send("nativeSnapshot", {{"position", std::numeric_limits<double>::quiet_NaN()}}, record());
    flush();
    EXPECT_EQ(sent().size(), 2u);
    // The signals sent, the replies given, the unavailable calls and the line.
    const auto seen = [this] {
        return std::tuple(child().signalsSent, replies.size(), unavailableCalls,
                          supervisor->message().value());
    };
    advance(20s); // the tick at the deadline itself
    EXPECT_EQ(seen(), std::tuple(std::vector<int>{}, 0u, 0, expected::helperReady));
    const auto stopped = std::tuple(std::vector<int>{SIGTERM}, 0u, 1, expected::helperUnresponsive);
    advance(1s);
    EXPECT_EQ(seen(), stopped);
    advance(1999ms);
    EXPECT_EQ(seen(), stopped);
    advance(1ms); // once for the stop, once for the exit
    EXPECT_EQ(seen(), std::tuple(std::vector<int>{SIGTERM, SIGKILL}, 1u, 2, expected::helperStopped));
    EXPECT_EQ(replies, oneAbsentReply);
}

TEST_F(SupervisorTest, AWriteFailureStopsItsOwnChildButNotALaterOne) {
    launchReady();
    child().inputFails = true;
    supervisor->send("configure", {});
    flush();
    EXPECT_EQ(child().signalsSent, std::vector<int>{SIGTERM});

    advance(1s);
    answer("initialize", okPayload());
    child().inputFails = true;
    supervisor->send("configure", {}); // still queued when the second child goes
    child().exit();
    loop.advance(2s);
    keyring->drain(); // the relaunch's key, without flushing the queued write
    loop.runUntilIdle();
    ASSERT_EQ(launcher.childCount(), 3u);
    const int unavailableBefore = unavailableCalls;
    flush(); // the second child's write fails only now
    EXPECT_TRUE(launcher.last().signalsSent.empty());
    EXPECT_EQ(unavailableCalls, unavailableBefore);
}

// A run of 60 s resets the back-off and one of 59 s does not; the seventh quick exit in a row ends it.
TEST_F(SupervisorTest, QuickExitsRestartAfterDoublingDelaysUntilTheSeventhAndShutdownCancelsARestart) {
    // The child exits after running for `run`, its status polls answered; the next starts `delay` later.
    const auto exitsAndRestartsAfter = [this](std::chrono::seconds run, std::chrono::seconds delay) {
        for (auto second = 0s; second < run; ++second) {
            advance(1s);
            answer("status", okPayload()); // the latest poll; answering one again changes nothing
        }
        exitChild();
        const auto children = launcher.childCount();
        advance(delay - 1ms);
        EXPECT_EQ(launcher.childCount(), children) << "restarted before " << delay.count() << " s";
        advance(1ms);
        ASSERT_EQ(launcher.childCount(), children + 1) << "not restarted after " << delay.count() << " s";
        answer("initialize", okPayload());
    };
    launchReady();
    const std::pair<std::chrono::seconds, std::chrono::seconds> runsAndDelays[] = {
        {10s, 1s}, {10s, 2s}, {59s, 4s}, {60s, 1s}, {10s, 2s}, {10s, 4s}, {10s, 8s}, {10s, 16s}, {10s, 30s}};
    for (const auto& [run, delay] : runsAndDelays) {
        SCOPED_TRACE(std::to_string(run.count()) + " s run");
        ASSERT_NO_FATAL_FAILURE(exitsAndRestartsAfter(run, delay));
    }
    // A late exit report of an earlier child changes nothing.
    launcher.children[0]->onExit(0);
    flush();
    EXPECT_TRUE(supervisor->ready().value());
    EXPECT_FALSE(child().released);
    advance(10s);
    exitChild();
    advance(1h);
    EXPECT_EQ(launcher.childCount(), 10u);
    EXPECT_EQ(supervisor->message().value(), expected::helperStopped);

    supervisor->reconnect(); // counts quick exits afresh
    flush();
    answer("initialize", okPayload());
    exitsAndRestartsAfter(1s, 1s);

    // An exit fails every pending command before the line changes, releases the child and leaves only
    // the restart's timer, which shutdown() cancels.
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
    // Input closed, child released, watches, timers, ready.
    EXPECT_EQ(std::tuple(child().inputClosed, child().released, loop.watchCount(), loop.timerCount(),
                         supervisor->ready().value()),
              std::tuple(true, true, 0u, 1u, false));
    supervisor->shutdown();
    advance(1h);
    EXPECT_EQ(launcher.childCount(), 12u);
}

// shutdown() waits 2 s for the child, kills it if it is still there, and nothing starts after it.
TEST_F(SupervisorTest, ShutdownStopsTheChildWithinTheGraceAndNothingStartsAgain) {
    using Signals = std::vector<int>;
    using Waits = std::vector<std::optional<std::chrono::milliseconds>>;
    for (const bool ignoresTerminate : {false, true}) {
        SCOPED_TRACE(ignoresTerminate ? "the child ignores SIGTERM" : "the child ends on SIGTERM");
        makeSupervisor();
        replies.clear();
        launchReady();
        child().ignoresTerminate = ignoresTerminate;
        supervisor->send("stop", {}, record());
        flush();
        supervisor->shutdown();
        EXPECT_EQ(child().signalsSent, (ignoresTerminate ? Signals{SIGTERM, SIGKILL} : Signals{SIGTERM}));
        EXPECT_EQ(child().waits, (ignoresTerminate ? Waits{2000ms, 3000ms} : Waits{2000ms}));
        flush();
        EXPECT_EQ(replies, oneAbsentReply);
        const auto children = launcher.childCount();
        supervisor->launch();
        supervisor->reconnect();
        advance(1h);
        EXPECT_EQ(launcher.childCount(), children);
    }
}

TEST_F(SupervisorTest, DestroyingTheSupervisorLeavesTheChildAloneAndItsLateEventsHarmless) {
    launchReady();
    supervisor->send("status", {}, record());
    auto& orphan = child();
    supervisor.reset();
    EXPECT_TRUE(orphan.signalsSent.empty());
    EXPECT_TRUE(orphan.released);
    orphan.exit();
    loop.advance(1h); // the writer queue went with the supervisor
    EXPECT_TRUE(replies.empty());
}

} // namespace
} // namespace kavrel
