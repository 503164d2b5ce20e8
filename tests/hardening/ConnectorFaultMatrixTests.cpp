// Every way the connector can misbehave, played by the stand-in connector as a real child process:
// the lines the supervisor shows, whether and when it restarts the connector (on the virtual clock),
// and that the whole matrix leaves no descriptor, zombie or memory behind.

#include "hardening/ConnectorRig.hpp"

#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KAVREL_SANITIZED_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KAVREL_SANITIZED_HEAP 1
#endif
#endif
#ifdef KAVREL_SANITIZED_HEAP
#include <sanitizer/allocator_interface.h>
#endif

namespace kavrel {
namespace {

using namespace std::chrono_literals;

const std::string connecting = "Connecting companion…";
const std::string ready = "Local helper ready";
const std::string generic =
    "The connector could not complete that request. Check your connection and try again.";
const std::string migration =
    "This folder contains legacy connector settings. Use a fresh desktop state folder.";
const std::string protocolError = "Connector protocol error. Reconnecting…";
const std::string unresponsive = "Connector did not respond. Reconnecting…";
const std::string stopped = "Connector stopped. Reconnecting…";

// Bytes the process has allocated and not freed, from the allocator that is in use.
std::size_t heapBytesInUse() {
#ifdef KAVREL_SANITIZED_HEAP
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

long openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
}

struct FaultCase {
    const char* name;
    const char* options;
    bool handshakeSucceeds;
    // Virtual time from the launch until the supervisor gives up on a silent connector; zero when
    // the fault acts on its own.
    std::chrono::milliseconds givesUpAt;
    // The lines shown after the handshake (or its failure), the last one staying after the exit.
    std::vector<std::string> shown;
    std::optional<std::chrono::milliseconds> restartAfter;
};

void PrintTo(const FaultCase& fault, std::ostream* out) {
    *out << fault.name;
}

// Launches a connector with the fault, waits for its exit and checks the lines shown and the
// restart that follows, or that none follows.
void playFault(ConnectorRig& rig, const FaultCase& fault) {
    rig.misbehave(fault.options);
    rig.supervisor->launch();
    // The key is fetched off the loop: the child starts once it is there.
    ASSERT_TRUE(rig.runUntil([&] { return rig.launcher.spawns() == 1; })) << rig.describe();
    if (fault.handshakeSucceeds) {
        ASSERT_TRUE(rig.runUntil([&] { return rig.readyCalls == 1; })) << rig.describe();
    }
    if (fault.givesUpAt > 0ms) {
        // The answered status poll of the handshake must be in before the clock moves past its deadline.
        if (fault.handshakeSucceeds) {
            ASSERT_TRUE(rig.runUntil([&] { return !rig.statuses.empty(); })) << rig.describe();
        }
        rig.loop.advance(fault.givesUpAt - 1s);
        EXPECT_FALSE(rig.wasShown(unresponsive)) << rig.describe();
        EXPECT_EQ(rig.launcher.exits(), 0u);
        rig.loop.advance(1s);
    }
    ASSERT_TRUE(rig.runUntil([&] { return rig.launcher.exits() == 1; })) << rig.describe();

    std::vector<std::string> expected{connecting};
    if (fault.handshakeSucceeds) {
        expected.push_back(ready);
    }
    expected.insert(expected.end(), fault.shown.begin(), fault.shown.end());
    EXPECT_EQ(rig.messages, expected) << rig.describe();

    if (fault.restartAfter) {
        rig.loop.advance(*fault.restartAfter - 1ms);
        EXPECT_EQ(rig.launcher.spawns(), 1u) << "restarted too early";
        rig.loop.advance(1ms);
        // The relaunch fetches its key off the loop; the child follows once the key is there.
        EXPECT_TRUE(rig.runUntil([&] { return rig.launcher.spawns() == 2u; })) << "not restarted on time";
    } else {
        rig.loop.advance(60s);
        EXPECT_EQ(rig.launcher.spawns(), 1u) << "restarted although it must not be";
        EXPECT_EQ(rig.supervisor->message().value(), fault.shown.back());
    }
}

// Faults written after the first command that follows the handshake, so that they never share a read
// with the handshake's reply (which would lose the handshake with them).
const std::vector<FaultCase> faults{
    {"CrashAtStart", R"({"crashAtStart":true})", false, 0ms, {generic}, std::nullopt},
    {"CrashAfterTheHandshake", R"({"crashAfterCommands":2})", true, 0ms, {stopped}, 1s},
    {"RefusedInitialize",
     R"({"refuseInitialize":"migration_required"})",
     false,
     0ms,
     {migration},
     std::nullopt},
    {"InitializeNeverAnswered",
     R"({"neverAnswerInitialize":true})",
     false,
     21s,
     {unresponsive, generic},
     std::nullopt},
    // The status poll sent at 5 s is the first one left unanswered: due at 25 s, seen on the next tick.
    {"StopsAnsweringLater", R"({"silentAfter":2})", true, 26s, {unresponsive, stopped}, 1s},
    {"GarbageLine",
     R"({"garbageLine":true,"faultsAfterCommands":2})",
     true,
     0ms,
     {protocolError, stopped},
     1s},
    {"OversizedFrame",
     R"({"oversizedFrame":true,"faultsAfterCommands":2})",
     true,
     0ms,
     {protocolError, stopped},
     1s},
    {"LineFeedAfterExactlyTheLimit",
     R"({"lfAfterExactLimit":true,"faultsAfterCommands":2})",
     true,
     0ms,
     {protocolError, stopped},
     1s},
    // The end of its output stops the connector without a line of its own.
    {"EndOfOutputWhileRunning", R"({"closeStdoutAndLinger":true})", true, 0ms, {stopped}, 1s},
};

class ConnectorFaultMatrixTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ConnectorFaultMatrixTest, ShowsItsLinesAndRestartsOnlyWhenAllowed) {
    ConnectorRig rig;
    playFault(rig, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Faults, ConnectorFaultMatrixTest, ::testing::ValuesIn(faults),
                         [](const auto& info) { return std::string(info.param.name); });

// Faults the connection survives: unknown and surplus results, the largest frame, a flooded standard
// error. Each must leave the connector running and answering.
class ToleratedFaultTest : public ::testing::Test {
protected:
    ConnectorRig rig;
};

TEST_F(ToleratedFaultTest, UnknownResultsTenThousandAtOnceAndTheLargestFrameAreTaken) {
    rig.misbehave(R"({"unknownResultId":true,"burstResults":10000,"largestFrame":true,)"
                  R"("faultsAfterCommands":2})");
    rig.supervisor->launch();
    ASSERT_TRUE(rig.runUntil([&] { return rig.readyCalls == 1; })) << rig.describe();
    // The connector writes its faults before it answers this command, so the reply comes after them.
    const auto reply = rig.sendAndWait("status");
    ASSERT_TRUE(reply) << rig.describe();
    EXPECT_EQ(reply->payload.at("ok"), JSONValue(true));
    EXPECT_EQ(rig.messages, (std::vector<std::string>{connecting, ready}));
    EXPECT_EQ(rig.launcher.exits(), 0u);
    const bool largestSeen =
        std::any_of(rig.statuses.begin(), rig.statuses.end(), [](const JSONObject& status) {
            const auto padding = status.find("padding");
            return padding != status.end() && padding->second.string() != nullptr &&
                   padding->second.string()->size() > frameLimit - 100;
        });
    EXPECT_TRUE(largestSeen);
    // Nothing of the ten thousand lingers among the pending commands: the next command still fits.
    for (std::size_t command = 0; command < HelperSupervisor::maxPendingCommands + 1; ++command) {
        ASSERT_TRUE(rig.sendAndWait("status")) << rig.describe();
    }
}

// The connector's written bytes, which keep growing only while someone reads its pipes.
std::uint64_t bytesWrittenBy(int processId) {
    std::ifstream io("/proc/" + std::to_string(processId) + "/io");
    std::string name;
    std::uint64_t value = 0;
    while (io >> name >> value) {
        if (name == "wchar:") {
            return value;
        }
    }
    return 0;
}

TEST_F(ToleratedFaultTest, AHundredMegabytesOnStandardErrorAreDrainedWithoutBeingKept) {
    constexpr std::uint64_t flood = 100'000'000;
    rig.misbehave(R"({"stderrFloodBytes":100000000})");
    rig.supervisor->launch();
    ASSERT_TRUE(rig.runUntil([&] { return rig.readyCalls == 1; })) << rig.describe();
    const auto heapBefore = heapBytesInUse();
    ASSERT_TRUE(rig.sendAndWait("status"));
    // The pipe holds 64 KiB, so the connector gets its flood out only as fast as it is read.
    ASSERT_TRUE(rig.runUntil([&] { return bytesWrittenBy(rig.launcher.processIds[0]) >= flood; }));
    ASSERT_TRUE(rig.sendAndWait("status")) << rig.describe();
    EXPECT_LT(heapBytesInUse(), heapBefore + 1'000'000);
    EXPECT_EQ(rig.launcher.exits(), 0u);
    EXPECT_EQ(rig.messages, (std::vector<std::string>{connecting, ready}));
}

bool killedBySigkill(int waitStatus) {
    return WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGKILL;
}

TEST(IgnoredSigtermTest, AStoppedConnectorIsKilledTwoSecondsAfterItsSigterm) {
    ConnectorRig rig;
    // It ignores the end of its input too, so only SIGKILL can end it.
    rig.misbehave(R"({"ignoreSigterm":true,"garbageLine":true,"faultsAfterCommands":2})");
    rig.supervisor->launch();
    ASSERT_TRUE(rig.runUntil([&] { return rig.wasShown(protocolError); })) << rig.describe();
    rig.loop.advance(1999ms);
    EXPECT_EQ(rig.launcher.exits(), 0u);
    rig.loop.advance(1ms);
    ASSERT_TRUE(rig.runUntil([&] { return rig.launcher.exits() == 1; })) << rig.describe();
    EXPECT_TRUE(killedBySigkill(rig.launcher.waitStatuses[0]));
    EXPECT_EQ(rig.supervisor->message().value(), stopped);
}

TEST(IgnoredSigtermTest, ShutdownKillsAConnectorThatIgnoresSigtermAndStartsNoOther) {
    ConnectorRig rig;
    rig.misbehave(R"({"ignoreSigterm":true})");
    rig.supervisor->launch();
    ASSERT_TRUE(rig.runUntil([&] { return rig.readyCalls == 1; })) << rig.describe();
    rig.supervisor->shutdown(); // waits out the grace period: the child ignores it
    rig.loop.runUntilIdle();
    ASSERT_EQ(rig.launcher.exits(), 1u);
    EXPECT_TRUE(killedBySigkill(rig.launcher.waitStatuses[0]));
    rig.loop.advance(60s);
    EXPECT_EQ(rig.launcher.spawns(), 1u);
}

TEST(BackOffTest, AConnectorThatKeepsCrashingIsRestartedSixTimesWithGrowingDelays) {
    ConnectorRig rig;
    rig.misbehave(R"({"crashAfterCommands":2})");
    rig.supervisor->launch();
    std::size_t exits = 0;
    for (const auto delay : {1s, 2s, 4s, 8s, 16s, 30s}) {
        ASSERT_TRUE(rig.runUntil([&] { return rig.launcher.exits() == exits + 1; })) << rig.describe();
        ++exits;
        EXPECT_EQ(rig.supervisor->message().value(), stopped);
        rig.loop.advance(delay - 1ms);
        ASSERT_EQ(rig.launcher.spawns(), exits) << "restarted before " << delay.count() << " s";
        rig.loop.advance(1ms);
        ASSERT_TRUE(rig.runUntil([&] { return rig.launcher.spawns() == exits + 1; }))
            << "not restarted after " << delay.count() << " s";
    }
    ASSERT_TRUE(rig.runUntil([&] { return rig.launcher.exits() == 7; })) << rig.describe();
    rig.loop.advance(10min);
    EXPECT_EQ(rig.launcher.spawns(), 7u);
    EXPECT_EQ(rig.supervisor->message().value(), stopped);
    EXPECT_EQ(rig.readyCalls, 7);
}

// Every fault once to warm up what is made once per process (the reader's buffers, the allocator's
// arenas), then every fault again: the second round must end where the first one did.
void playWholeMatrix() {
    for (const auto& fault : faults) {
        ConnectorRig rig;
        playFault(rig, fault);
    }
    ConnectorRig rig;
    rig.misbehave(R"({"unknownResultId":true,"burstResults":10000,"largestFrame":true,)"
                  R"("stderrFloodBytes":10000000,"faultsAfterCommands":2})");
    rig.supervisor->launch();
    ASSERT_TRUE(rig.runUntil([&] { return rig.readyCalls == 1; })) << rig.describe();
    ASSERT_TRUE(rig.sendAndWait("status")) << rig.describe();
}

TEST(ConnectorFaultMatrixResourcesTest, TheWholeMatrixLeavesNoDescriptorZombieOrMemoryBehind) {
    playWholeMatrix();
    ASSERT_FALSE(::testing::Test::HasFailure());
    const auto descriptors = openDescriptors();
    const auto heap = heapBytesInUse();

    playWholeMatrix();
    ASSERT_FALSE(::testing::Test::HasFailure());
    // A writer thread lets go of its last pipe on its own time, and nothing else would close one.
    ManualLoop idle;
    EXPECT_TRUE(idle.runUntil([&] { return openDescriptors() == descriptors; }))
        << openDescriptors() << " descriptors open, " << descriptors << " before";
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left unreaped";
    EXPECT_EQ(errno, ECHILD);
    // Room for what the test framework itself keeps, far below one connector's worth of buffers.
    EXPECT_LT(heapBytesInUse(), heap + 64 * 1024) << "heap grew from " << heap;
}

} // namespace
} // namespace kavrel
