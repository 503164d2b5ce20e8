// Every way a running connector can misbehave, played by the stand-in connector as a real child
// process: the lines the supervisor shows, whether and when it restarts the connector (on the virtual
// clock), and that the whole matrix leaves no descriptor or zombie behind. The ways a handshake fails
// are the supervisor tests' matter.

#include "hardening/ConnectorRig.hpp"
#include "support/ExpectedTexts.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace kavrel {
namespace {

using namespace std::chrono_literals;
using namespace expected;

long openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
}

struct FaultCase {
    const char* name;
    const char* options;
    // Virtual time from the launch until the supervisor gives up on a silent connector; zero when
    // the fault acts on its own.
    std::chrono::milliseconds givesUpAt;
    // The lines shown after the handshake.
    std::vector<std::string> shown;
};

// Faults written after the first command that follows the handshake, so that they never share a read
// with the handshake's reply (which would lose the handshake with them).
// clang-format off
const std::vector<FaultCase> faults{
    {"crash after the handshake", R"({"crashAfterCommands":2})", 0ms, {helperStopped}},
    // The status poll sent at 5 s is the first one left unanswered: due at 25 s, seen on the next tick.
    {"stops answering later", R"({"silentAfter":2})", 26s, {helperUnresponsive, helperStopped}},
    {"garbage line", R"({"garbageLine":true,"faultsAfterCommands":2})", 0ms,
     {helperProtocolError, helperStopped}},
    {"oversized frame", R"({"oversizedFrame":true,"faultsAfterCommands":2})", 0ms,
     {helperProtocolError, helperStopped}},
    {"line feed after exactly the limit", R"({"lfAfterExactLimit":true,"faultsAfterCommands":2})", 0ms,
     {helperProtocolError, helperStopped}},
    // The end of its output stops the connector without a line of its own.
    {"end of output while running", R"({"closeStdoutAndLinger":true})", 0ms, {helperStopped}},
};
// clang-format on

// Launches a connector with the fault, waits for its exit and checks the lines shown and the
// restart 1 s later.
void playFault(const FaultCase& fault) {
    SCOPED_TRACE(fault.name);
    ConnectorRig rig;
    rig.misbehave(fault.options);
    rig.supervisor->launch();
    ASSERT_TRUE(rig.loop.runUntil([&] { return rig.readyCalls == 1; })) << rig.describe();
    if (fault.givesUpAt > 0ms) {
        // The answered status poll of the handshake must be in before the clock moves past its deadline.
        ASSERT_TRUE(rig.loop.runUntil([&] { return !rig.supervisor->status().value().empty(); }))
            << rig.describe();
        rig.loop.advance(fault.givesUpAt - 1s);
        EXPECT_EQ(rig.messages.size(), 2u) << "gave up early: " << rig.describe();
        rig.loop.advance(1s);
    }
    ASSERT_TRUE(rig.loop.runUntil([&] { return rig.launcher.exits == 1; })) << rig.describe();
    std::vector<std::string> lines{helperConnecting, helperReady};
    lines.insert(lines.end(), fault.shown.begin(), fault.shown.end());
    EXPECT_EQ(rig.messages, lines) << rig.describe();

    rig.loop.advance(999ms);
    EXPECT_EQ(rig.launcher.spawns(), 1u) << "restarted too early";
    rig.loop.advance(1ms);
    // The relaunch fetches its key off the loop; the child follows once the key is there.
    EXPECT_TRUE(rig.loop.runUntil([&] { return rig.launcher.spawns() == 2u; })) << "not restarted on time";
}

// Every fault twice: the first round warms up what is made once per process (the reader's buffers,
// the allocator's arenas), and the second must end where the first one did.
TEST(ConnectorFaultMatrixTest, EachFaultShowsItsLinesRestartsOnTimeAndLeavesNothingBehind) {
    const auto playAll = [] {
        std::ranges::for_each(faults, playFault);
    };
    playAll();
    ASSERT_FALSE(HasFailure());
    const auto descriptors = openDescriptors();
    playAll();
    ASSERT_FALSE(HasFailure());
    // A writer thread lets go of its last pipe on its own time, and nothing else would close one.
    ManualLoop idle;
    EXPECT_TRUE(idle.runUntil([&] { return openDescriptors() == descriptors; }))
        << openDescriptors() << " descriptors open, " << descriptors << " before";
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left unreaped";
    EXPECT_EQ(errno, ECHILD);
}

} // namespace
} // namespace kavrel
