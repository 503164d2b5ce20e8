#include "supervisor/SupervisorHarness.hpp"

#include <sys/ioctl.h>

#include <csignal>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

const std::string protocolErrorText = "Connector protocol error. Reconnecting…";

std::string statusLine(JSONObject payload) {
    return Envelope("S", "status", std::move(payload)).encodedLine();
}

TEST_F(SupervisorTest, ResultsCompleteTheirOwnCommandOnceAndStrayResultsAreIgnored) {
    launchReady();
    std::vector<std::optional<Envelope>> replies;
    supervisor->send("pair", {{"code", "123456"}},
                     [&](std::optional<Envelope> reply) { replies.push_back(reply); });
    flush();
    const auto pair = lastSent("pair");

    child().writeOutput(Envelope("NOT-PENDING", "result", okPayload()).encodedLine());
    child().answer(pair, okPayload({{"paired", true}}));
    child().answer(pair, okPayload({{"paired", false}}));
    flush();

    ASSERT_EQ(replies.size(), 1u);
    ASSERT_TRUE(replies[0]);
    EXPECT_EQ(replies[0]->id, pair.id);
    EXPECT_EQ(replies[0]->payload, okPayload({{"paired", true}}));
    EXPECT_TRUE(child().signals().empty());
}

TEST_F(SupervisorTest, StatusMessagesReplaceTheStatusWholeAndPartialLinesWaitForTheirEnd) {
    launchReady();
    const auto second = statusLine({{"paired", true}});
    child().writeOutput(statusLine({{"cloud", "connected"}, {"running", true}}) + second.substr(0, 12));
    flush();
    EXPECT_EQ(supervisor->status().value(), (JSONObject{{"cloud", "connected"}, {"running", true}}));

    child().writeOutput(second.substr(12) + statusLine({{"scrobbling", "off"}}));
    flush();
    EXPECT_EQ(supervisor->status().value(), (JSONObject{{"scrobbling", "off"}}));
}

TEST_F(SupervisorTest, StatusReplySetsTheStatusOnlyWhenItsDataIsAnObject) {
    launchReady();
    child().writeOutput(statusLine({{"kept", true}}));
    flush();
    const std::vector<JSONObject> ignored{
        {{"ok", true}},
        {{"ok", true}, {"data", "text"}},
        {{"ok", true}, {"data", JSONArray{}}},
    };
    for (const auto& payload : ignored) {
        supervisor->refreshStatus();
        flush();
        answer("status", payload);
        EXPECT_EQ(supervisor->status().value(), (JSONObject{{"kept", true}}))
            << JSONValue(payload).serialized();
    }
    supervisor->refreshStatus();
    flush();
    answer("status", okPayload({{"paired", false}}));
    EXPECT_EQ(supervisor->status().value(), (JSONObject{{"paired", false}}));
}

TEST_F(SupervisorTest, RefreshStatusSendsNothingWhileNotReady) {
    supervisor->launch();
    flush();
    supervisor->refreshStatus();
    advance(10s);
    EXPECT_EQ(sentTypes(), std::vector<std::string>{"initialize"});
}

TEST_F(SupervisorTest, BadInboundDataStopsTheChildAndDropsTheWholeChunk) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {"malformed line", "{not json}\n"},
        {"unaccepted type", Envelope("X", "nativeResult", {}).encodedLine()},
    };
    for (const auto& [name, bad] : cases) {
        SCOPED_TRACE(name);
        makeSupervisor("/bin/true", [] { return std::string(64, 'd'); });
        launchReady();
        child().writeOutput(statusLine({{"seen", true}}) + bad);
        flush();
        EXPECT_EQ(supervisor->status().value(), JSONObject{});
        EXPECT_EQ(messages.at(messages.size() - 2), protocolErrorText);
        EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
    }
}

TEST_F(SupervisorTest, AnOversizedFrameIsAProtocolErrorAndLaterGarbageDoesNotStopAgain) {
    launchReady();
    child().ignoreTerminate();
    child().writeOutput(std::string(262'145, 'x'));
    flush();
    EXPECT_EQ(supervisor->message().value(), protocolErrorText);
    EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
    EXPECT_EQ(unavailableCalls, 1);

    child().writeOutput("more garbage\n");
    child().closeOutput();
    flush();
    EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
    EXPECT_EQ(unavailableCalls, 1);
}

TEST_F(SupervisorTest, EndOfOutputStopsARunningChildWithoutATextOfItsOwn) {
    launchReady();
    child().ignoreTerminate();
    child().closeOutput();
    flush();
    EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
    EXPECT_EQ(supervisor->message().value(), "Local helper ready");
    EXPECT_FALSE(supervisor->ready().value());
}

TEST_F(SupervisorTest, NativeCommandsReachTheCallbackWholeAndInOrder) {
    launchReady();
    const Envelope first("N1", "nativeCommand", {{"action", "getFavorite"}});
    const Envelope second("N2", "nativeCommand", {{"action", "setFavorite"}, {"value", true}});
    child().writeOutput(first.encodedLine() + second.encodedLine());
    flush();
    EXPECT_EQ(nativeCommands, (std::vector<Envelope>{first, second}));
}

TEST_F(SupervisorTest, StandardErrorIsDrainedAndNeverParsed) {
    launchReady();
    const std::string flood(65'536, '{');
    for (int round = 0; round < 32; ++round) {
        child().writeDiagnostics(flood);
    }
    child().writeOutput(statusLine({{"alive", true}}));
    flush();
    int unread = -1;
    ASSERT_EQ(::ioctl(child().diagnosticsDescriptor(), FIONREAD, &unread), 0);
    EXPECT_EQ(unread, 0);
    EXPECT_EQ(supervisor->status().value(), (JSONObject{{"alive", true}}));
    EXPECT_TRUE(child().signals().empty());
}

} // namespace
} // namespace kavrel
