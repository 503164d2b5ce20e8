// The supervisor against the real stand-in connector: real processes, pipes and signals, with the
// supervisor's timers on a virtual clock so no test waits for them.

#include "CompanionCore/supervisor/HelperSupervisor.hpp"
#include "Platform/PosixProcessLauncher.hpp"
#include "support/InMemorySecretStore.hpp"
#include "support/ManualLoop.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

const std::string storageKey(64, 'a');

// The real launcher, counting the exits it reports: the one event every stop ends in.
class ExitCountingLauncher final : public ProcessLauncher {
public:
    explicit ExitCountingLauncher(MainLoop& loop) : launcher(loop) {}

    std::unique_ptr<ChildProcess> spawn(const std::filesystem::path& executable,
                                        const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& environment,
                                        ExitHandler onExit) override {
        return launcher.spawn(executable, arguments, environment, [this, onExit](int status) {
            ++exits;
            onExit(status);
        });
    }

    int exits = 0;

private:
    PosixProcessLauncher launcher;
};

class SupervisedConnectorTest : public ::testing::Test {
protected:
    SupervisedConnectorTest() {
        char pattern[] = "/tmp/kavrel-process-test-XXXXXX";
        directory = ::mkdtemp(pattern);
        supervisor = HelperSupervisor::create({loop, launcher, secrets}, KAVREL_CONNECTOR_SIM_PATH, directory,
                                              [] { return storageKey; });
        supervisor->setOnReady([this] { ++readyCalls; });
        messageWatch =
            supervisor->message().observe([this](const std::string& text) { messages.push_back(text); });
    }

    ~SupervisedConnectorTest() override {
        supervisor->shutdown();
        supervisor.reset();
        loop.runUntilIdle();
        std::filesystem::remove_all(directory);
    }

    void misbehave(const std::string& options) { std::ofstream(directory / "connector-sim.json") << options; }

    void runUntil(const std::function<bool()>& condition) {
        ASSERT_TRUE(loop.runUntil(condition))
            << "message: " << supervisor->message().value() << ", exits: " << launcher.exits
            << ", ready calls: " << readyCalls;
    }

    // Waits for the handshake itself: a connector that misbehaves right after it may already be
    // gone again by the time the loop is idle.
    void launchReady() {
        supervisor->launch();
        runUntil([this] { return readyCalls == 1; });
    }

    bool wasShown(const std::string& text) const {
        return std::find(messages.begin(), messages.end(), text) != messages.end();
    }

    std::optional<Envelope> sendAndWait(const std::string& type, JSONObject payload = {}) {
        bool done = false;
        std::optional<Envelope> reply;
        supervisor->send(type, std::move(payload), [&](std::optional<Envelope> result) {
            reply = std::move(result);
            done = true;
        });
        EXPECT_TRUE(loop.runUntil([&] { return done; }));
        return reply;
    }

    ManualLoop loop;
    ExitCountingLauncher launcher{loop};
    InMemorySecretStore secrets;
    std::filesystem::path directory;
    std::shared_ptr<HelperSupervisor> supervisor;
    int readyCalls = 0;
    std::vector<std::string> messages;
    Cancellable messageWatch;
};

TEST_F(SupervisedConnectorTest, HandshakeStatusAndCommandsRoundTrip) {
    launchReady();
    EXPECT_EQ(supervisor->message().value(), "Local helper ready");
    EXPECT_EQ(readyCalls, 1);
    runUntil([this] { return supervisor->status().value().count("paired") == 1; });

    auto paired = sendAndWait("pair", {{"code", "123456"}, {"replace", false}});
    ASSERT_TRUE(paired);
    EXPECT_EQ(paired->payload.at("ok"), JSONValue(true));
    auto again = sendAndWait("pair", {{"code", "123456"}, {"replace", false}});
    ASSERT_TRUE(again);
    EXPECT_EQ(again->payload.at("code"), JSONValue("already_paired"));

    auto configured = sendAndWait("configure", {{"bridgeOrigin", "https://kavrel.example"},
                                                {"roonHost", ""},
                                                {"appleMusicEnabled", true},
                                                {"roonEnabled", false}});
    ASSERT_TRUE(configured);
    EXPECT_EQ(configured->payload.at("ok"), JSONValue(true));
    auto started = sendAndWait("start");
    ASSERT_TRUE(started);
    EXPECT_NE(started->payload.at("data").object()->at("nativeGeneration").string(), nullptr);
    // The unsolicited status after the start reaches the supervisor's observable status.
    runUntil([this] { return supervisor->status().value().at("running") == JSONValue(true); });
    EXPECT_TRUE(std::filesystem::exists(directory / "config.json"));
}

TEST_F(SupervisedConnectorTest, ARefusedHandshakeShowsItsTextAndIsNotRetried) {
    misbehave(R"({"refuseInitialize":"pairing_required"})");
    supervisor->launch();
    runUntil([this] { return launcher.exits == 1; });
    EXPECT_EQ(supervisor->message().value(), HelperSupervisor::describe("pairing_required"));
    loop.advance(60s);
    // A relaunch would have replaced the text with "Starting companion…" at once.
    EXPECT_EQ(supervisor->message().value(), HelperSupervisor::describe("pairing_required"));
    EXPECT_EQ(readyCalls, 0);
}

TEST_F(SupervisedConnectorTest, ACrashedConnectorIsRestartedAfterItsBackOff) {
    // Initialize and the first status poll are answered; the next command crashes the connector.
    misbehave(R"({"crashAfterCommands":2})");
    launchReady();
    supervisor->send("stop", {});
    runUntil([this] { return launcher.exits == 1; });
    EXPECT_EQ(supervisor->message().value(), "Connector stopped. Reconnecting…");
    loop.advance(999ms);
    EXPECT_EQ(supervisor->message().value(), "Connector stopped. Reconnecting…");
    loop.advance(1ms);
    runUntil([this] { return readyCalls == 2; });
}

TEST_F(SupervisedConnectorTest, ProtocolErrorStopsAConnectorThatIgnoresSigtermWithSigkillTwoSecondsLater) {
    misbehave(R"({"garbageLine":true,"ignoreSigterm":true})");
    supervisor->launch();
    runUntil([this] { return supervisor->message().value() == "Connector protocol error. Reconnecting…"; });
    EXPECT_EQ(launcher.exits, 0);
    // The exact 2 s grace is covered on the fake launcher; here the real SIGKILL must end the child.
    loop.advance(2s);
    runUntil([this] { return launcher.exits == 1; });
}

TEST_F(SupervisedConnectorTest, AConnectorThatStopsAnsweringIsStoppedAtTheCommandDeadline) {
    // Initialize and the first status poll are answered, nothing after them.
    misbehave(R"({"silentAfter":2})");
    launchReady();
    bool completed = false;
    supervisor->send("status", {}, [&](std::optional<Envelope> reply) {
        EXPECT_FALSE(reply);
        completed = true;
    });
    loop.advance(20s);
    EXPECT_FALSE(wasShown("Connector did not respond. Reconnecting…"));
    loop.advance(1s);
    // The child may be gone within the same tick, replacing the text with the restart's.
    EXPECT_TRUE(wasShown("Connector did not respond. Reconnecting…"));
    runUntil([this] { return launcher.exits == 1; });
    EXPECT_TRUE(completed);
}

TEST_F(SupervisedConnectorTest, AConnectorThatClosesItsOutputIsStoppedWithoutWaitingForADeadline) {
    misbehave(R"({"closeStdoutAndLinger":true})");
    launchReady();
    runUntil([this] { return launcher.exits == 1; });
    EXPECT_EQ(supervisor->message().value(), "Connector stopped. Reconnecting…");
}

TEST_F(SupervisedConnectorTest, FloodedStandardErrorAndTheLargestFrameDoNotStallTheConnector) {
    misbehave(R"({"stderrFloodBytes":8000000,"largestFrame":true,"burstStatus":500})");
    launchReady();
    auto reply = sendAndWait("status");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload.at("ok"), JSONValue(true));
    EXPECT_EQ(launcher.exits, 0);
}

TEST_F(SupervisedConnectorTest, AFrameOverTheLimitIsAProtocolError) {
    misbehave(R"({"lfAfterExactLimit":true})");
    supervisor->launch();
    runUntil([this] { return launcher.exits == 1; });
    EXPECT_EQ(readyCalls, 1);
}

TEST_F(SupervisedConnectorTest, TwoHundredRestartsLeaveNoDescriptorOrZombieBehind) {
    misbehave(R"({"crashAtStart":true})");
    auto openDescriptors = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto baseline = openDescriptors();
    supervisor->launch();
    runUntil([this] { return launcher.exits == 1; });
    for (int restart = 2; restart <= 200; ++restart) {
        supervisor->reconnect();
        runUntil([&] { return launcher.exits == restart; });
    }
    // The writer thread lets go of the last child's input pipe on its own time.
    runUntil([&] { return openDescriptors() == baseline; });
    // Every child was reaped: there is nobody left to wait for.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

} // namespace
} // namespace kavrel
