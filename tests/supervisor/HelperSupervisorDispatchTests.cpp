#include "supervisor/SupervisorHarness.hpp"
#include "support/ExpectedTexts.hpp"

#include <sys/ioctl.h>

#include <csignal>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

std::string statusLine(JSONObject payload) {
    return Envelope("S", "status", std::move(payload)).encodedLine();
}

TEST_F(SupervisorTest, AResultCompletesItsOwnCommandOnceAndStrayResultsAreIgnored) {
    launchReady();
    supervisor->send("pair", {{"code", "123456"}}, record());
    flush();
    const auto pair = lastSent("pair");
    child().writeOutput(Envelope("NOT-PENDING", "result", okPayload()).encodedLine());
    child().answer(pair, okPayload({{"paired", true}}));
    child().answer(pair, okPayload({{"paired", false}}));
    flush();
    EXPECT_EQ(replies, (std::vector<std::optional<Envelope>>{
                           Envelope(pair.id, "result", okPayload({{"paired", true}}))}));
    EXPECT_TRUE(child().signals().empty());
}

TEST_F(SupervisorTest, StatusMessagesAndStatusRepliesReplaceTheStatusWhole) {
    launchReady();
    const auto second = statusLine({{"paired", true}});
    child().writeOutput(statusLine({{"cloud", "connected"}, {"running", true}}) + second.substr(0, 12));
    flush(); // the partial line waits for its end
    EXPECT_EQ(supervisor->status().value(), (JSONObject{{"cloud", "connected"}, {"running", true}}));
    child().writeOutput(second.substr(12) + statusLine({{"kept", true}}));
    flush();
    EXPECT_EQ(supervisor->status().value(), (JSONObject{{"kept", true}}));

    // A status reply counts only when its data is an object.
    for (const JSONObject& ignored : {JSONObject{{"ok", true}}, JSONObject{{"ok", true}, {"data", "text"}},
                                      JSONObject{{"ok", true}, {"data", JSONArray{}}}}) {
        supervisor->refreshStatus();
        flush();
        answer("status", ignored);
        EXPECT_EQ(supervisor->status().value(), (JSONObject{{"kept", true}}));
    }
    supervisor->refreshStatus();
    flush();
    answer("status", okPayload({{"paired", false}}));
    EXPECT_EQ(supervisor->status().value(), (JSONObject{{"paired", false}}));
}

// The chunk's good line before the bad one is dropped with it; what the stopping child writes next
// does not stop it again.
TEST_F(SupervisorTest, BadInboundDataIsAProtocolErrorThatStopsTheChildOnce) {
    const std::vector<std::pair<const char*, std::string>> rows{
        {"malformed line", statusLine({{"seen", true}}) + "{not json}\n"},
        {"unaccepted type", statusLine({{"seen", true}}) + Envelope("X", "nativeResult", {}).encodedLine()},
        {"frame over the limit", std::string(262'145, 'x')},
    };
    for (const auto& [label, bad] : rows) {
        SCOPED_TRACE(label);
        makeSupervisor("/bin/true", [] { return std::string(64, 'd'); });
        unavailableCalls = 0;
        launchReady();
        child().ignoreTerminate();
        child().writeOutput(bad);
        flush();
        EXPECT_EQ(supervisor->status().value(), JSONObject{});
        EXPECT_EQ(supervisor->message().value(), expected::helperProtocolError);
        child().writeOutput("more garbage\n");
        child().closeOutput();
        flush();
        EXPECT_EQ(child().signals(), std::vector<int>{SIGTERM});
        EXPECT_EQ(unavailableCalls, 1);
        EXPECT_EQ(supervisor->message().value(), expected::helperProtocolError);
    }
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
    for (int round = 0; round < 32; ++round) {
        child().writeDiagnostics(std::string(65'536, '{'));
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
