// Every way a running connector can misbehave, played by the stand-in connector as a real child
// process: the lines the supervisor shows, whether and when it restarts the connector (on the virtual
// clock), and that the whole matrix leaves no descriptor or zombie behind. The ways a handshake fails
// are the supervisor tests' matter.
//
// And the storage key goes to the connector on its standard input and nowhere else: not into its
// arguments or environment (which other processes can read), not into a line the companion shows or
// writes, not into a status or an error message, whatever the connector answers. No new key is made
// over the state a connector keeps under the old one.

#include "CompanionCore/ipc/JSONLDecoder.hpp"
#include "CompanionCore/storage/StorageKey.hpp"
#include "hardening/ConnectorRig.hpp"
#include "support/ExpectedTexts.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iostream>

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
    // Virtual time by which the supervisor has given up on a silent connector (the deadline itself is
    // the supervisor tests' matter); zero when the fault acts on its own.
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
        rig.loop.advance(fault.givesUpAt);
    }
    ASSERT_TRUE(rig.loop.runUntil([&] { return rig.launcher.exits == 1; })) << rig.describe();
    std::vector<std::string> lines{helperConnecting, helperReady};
    lines.insert(lines.end(), fault.shown.begin(), fault.shown.end());
    EXPECT_EQ(rig.messages, lines) << rig.describe();

    rig.loop.advance(999ms);
    EXPECT_EQ(rig.launcher.processIds.size(), 1u) << "restarted too early";
    rig.loop.advance(1ms);
    // The relaunch fetches its key off the loop; the child follows once the key is there.
    EXPECT_TRUE(rig.loop.runUntil([&] { return rig.launcher.processIds.size() == 2u; }))
        << "not restarted on time";
}

// Every fault twice: the first round warms up what is made once per process (the reader's buffers,
// the allocator's arenas), and the second must end where the first one did.
TEST(ConnectorFaultMatrixTest, EachFaultShowsItsLinesRestartsOnTimeAndLeavesNothingBehind) {
    std::ranges::for_each(faults, playFault);
    ASSERT_FALSE(HasFailure());
    const auto descriptors = openDescriptors();
    std::ranges::for_each(faults, playFault);
    ASSERT_FALSE(HasFailure());
    // A writer thread lets go of its last pipe on its own time, and nothing else would close one.
    ManualLoop idle;
    EXPECT_TRUE(idle.runUntil([&] { return openDescriptors() == descriptors; }))
        << openDescriptors() << " descriptors open, " << descriptors << " before";
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left unreaped";
    EXPECT_EQ(errno, ECHILD);
}

TEST(StorageKeyLeakTest, OnlyTheConnectorsInputCarriesTheKeyWhateverTheConnectorDoes) {
    ConnectorRig rig;
    const std::string key = StorageKey::loadOrCreate(rig.secrets, true);
    const auto carriesKey = [&](std::string_view text) {
        return text.find(key) != std::string_view::npos;
    };
    // Everything this process writes meanwhile is captured: the test framework's output and any log line.
    // Failure messages never quote what carried the key, and the output is shown again only without it.
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    // A connector that turns the key back as its refusal code: unknown codes get the generic text.
    rig.misbehave(R"({"refuseInitialize":")" + key + R"("})");
    rig.supervisor->launch();
    EXPECT_TRUE(rig.loop.runUntil([&] { return rig.launcher.exits == 1; }));
    // Faults the connection survives: ten thousand unknown results, the largest frame, and 20 MB on
    // standard error, which must be drained for the connector to get it out.
    rig.misbehave(R"({"unknownResultId":true,"burstResults":10000,"largestFrame":true,)"
                  R"("stderrFloodBytes":20000000,"faultsAfterCommands":2})");
    rig.supervisor->reconnect();
    EXPECT_TRUE(rig.loop.runUntil([&] { return rig.readyCalls == 1; }));
    // The connector writes its faults before it answers the pairing, so the reply comes after them. None
    // of the ten thousand lingers among the pending commands: seventeen more still fit in turn.
    std::vector<bool> replies;
    for (std::size_t command = 0; command < 18; ++command) {
        const JSONObject payload = command == 0 ? JSONObject{{"code", "123456"}} : JSONObject{};
        rig.supervisor->send(command == 0 ? "pair" : "status", payload, [&](std::optional<Envelope> reply) {
            replies.push_back(reply && reply->payload.at("ok") == JSONValue(true));
        });
        EXPECT_TRUE(rig.loop.runUntil([&] { return replies.size() > command; })) << rig.describe();
    }
    EXPECT_EQ(replies, std::vector<bool>(18, true));
    // Its written bytes keep growing only while someone reads its pipes.
    const auto process = std::filesystem::path("/proc") / std::to_string(rig.launcher.processIds.at(1));
    EXPECT_TRUE(rig.loop.runUntil([&] {
        const std::string io = contentsOf(process / "io");
        return std::stoull(io.substr(io.find("wchar: ") + 7)) >= 20'000'000;
    }));
    EXPECT_EQ(rig.messages.back(), helperReady) << rig.describe();
    // The stand-in accepts the handshake only with a well-formed key: it got one, on its input.
    const auto arguments = contentsOf(process / "cmdline") + contentsOf(process / "environ");
    EXPECT_FALSE(arguments.empty());
    EXPECT_FALSE(carriesKey(arguments));

    // The keyring loses the key while the connector keeps its state: nothing is created over it.
    rig.secrets.readFailure = SecretStore::itemNotFound;
    rig.supervisor->reconnect();
    EXPECT_TRUE(rig.loop.runUntil([&] { return rig.launcher.exits == 2; }));
    rig.loop.advance(1s);
    EXPECT_TRUE(rig.loop.runUntil([&] { return rig.messages.back() == helperKeychain; })) << rig.describe();
    EXPECT_EQ(rig.secrets.adds, 1);
    rig.supervisor->shutdown();
    rig.loop.runUntilIdle();
    const std::string output =
        ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();
    std::cout << (carriesKey(output) ? "(the captured output carried the key)\n" : output);

    EXPECT_EQ(rig.launcher.processIds.size(), 2u) << rig.describe();
    EXPECT_EQ(rig.messages.at(1), describeGeneric);
    EXPECT_FALSE(std::ranges::any_of(rig.messages, carriesKey));
    EXPECT_FALSE(carriesKey(output));
    EXPECT_FALSE(carriesKey(contentsOf(rig.directory / "config.json")));

    // Nor does an error about a line that carried the key quote it.
    const std::string head = R"({"v":1,"id":"a","type":"result","payload":)";
    for (const auto& line :
         {head + R"({"storageKey":")" + key + R"("}} trailing)", head + R"({"storageKey":")" + key,
          R"({"v":1,"id":")" + key + key + key + R"(","type":"result","payload":{}})",
          R"({"v":1,"id":"a","type":")" + key + R"(","payload":{}})",
          head + R"({"k":")" + key + "\xff" + R"("}})",
          head + R"({")" + key + R"(":1,")" + key + R"(":2}})"}) {
        try {
            JSONLDecoder().append(line + "\n");
            ADD_FAILURE() << "a line with a fault was accepted";
        } catch (const std::exception& error) {
            EXPECT_FALSE(carriesKey(error.what()));
        }
    }
}

} // namespace
} // namespace kavrel
