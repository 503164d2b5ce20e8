// Connect, pair, pause and reset against a fake connector: what is sent, what the user reads, and
// which late replies are dropped.

#include "model/ModelHarness.hpp"

namespace kavrel {
namespace {

std::string repeated(const std::string& piece, int times) {
    return times > 0 ? piece + repeated(piece, times - 1) : "";
}

// Preferences keep their types: only a stored Boolean turns the relay off. The settings go out with the
// origin's slash dropped and are stored as typed once the connector took them. A Roon host may hold 512
// bytes; one of 513, like an origin with a path, sends nothing.
TEST_F(ModelTest, ConnectSendsTheSettingsAndStoresThemAsTypedOnlyOnceAccepted) {
    const std::string host = repeated("\u00E9", 256); // 512 bytes in 256 characters
    ports.values = {{"roonEnabled", "no"},
                    {"appleMusicEnabled", true},
                    {"bridgeOrigin", "https://kavrel.example/"},
                    {"roonHost", 7}};
    const auto stored = ports.values;
    makeModel();
    EXPECT_EQ(model->roonHost().value(), "");
    model->roonHost().set(host);
    ready();
    EXPECT_EQ(lastSent("configure").payload, (JSONObject{{"bridgeOrigin", "https://kavrel.example"},
                                                         {"roonHost", host},
                                                         {"appleMusicEnabled", true},
                                                         {"roonEnabled", true}}));
    answer("configure", failurePayload("invalid_origin"));
    EXPECT_EQ(seen(), std::tuple(false, HelperSupervisor::describe("invalid_origin"), "configure"));
    model->connect();
    answer("configure", {{"ok", "true"}, {"code", 5}}); // no Boolean, no text code: the generic failure
    EXPECT_EQ(seen(), std::tuple(false, expected::describeGeneric, "configure"));
    EXPECT_EQ(ports.values, stored);
    model->connect();
    answer("configure", okPayload());
    EXPECT_EQ(ports.values.at("bridgeOrigin"), JSONValue("https://kavrel.example/"));
    EXPECT_EQ(ports.values.at("roonHost"), JSONValue(host));
    // A refused start, even one naming a native generation, admits no native command.
    answer("start",
           {{"ok", false}, {"code", "pairing_required"}, {"data", JSONObject{{"nativeGeneration", "N"}}}});
    EXPECT_EQ(command({{"nativeGeneration", "N"}}).payload.at("code"),
              JSONValue("native_bridge_unavailable"));
    EXPECT_EQ(model->notice().value(), expected::startFailed);

    model->roonHost().set(host + "h");
    model->connect();
    EXPECT_EQ(seen(), std::tuple(false, expected::originRefused, "nativeResult"));
    model->roonHost().set("");
    model->bridgeOrigin().set("https://kavrel.example/path");
    model->notice().set("");
    model->connect();
    EXPECT_EQ(seen(), std::tuple(false, expected::originRefused, "nativeResult"));
}

TEST_F(ModelTest, PairingMeasuresBytesBeforeTrimmingTrimsUnicodeSpaceAndUsesTheCodeOnce) {
    ready();
    answer("configure", failurePayload("failed"));
    model->notice().set("");
    for (const auto& [code, notice] : {std::pair<std::string, std::string>{" \u00A0\u3000\n", ""},
                                       {repeated("\u00E9", 64) + " ", expected::codeTooLong}}) { // 129 bytes
        model->pairingCode().set(code);
        model->pair(false);
        EXPECT_EQ(seen(), std::tuple(false, notice, "configure"));
        EXPECT_EQ(model->pairingCode().value(), code);
    }
    model->pairingCode().set("\u2028" + repeated("\u00E9", 62) + " "); // 128 bytes
    model->pair(true);
    EXPECT_EQ(seen(), std::tuple(true, expected::codeTooLong, "pair"));
    EXPECT_EQ(lastSent("pair").payload, (JSONObject{{"code", repeated("\u00E9", 62)}, {"replace", true}}));
    EXPECT_EQ(model->pairingCode().value(), "");
    answer("pair", okPayload());
    answer("start", okPayload({{"nativeGeneration", "N"}}));
    EXPECT_EQ(seen(), std::tuple(false, expected::paired, "status"));
}

// Every completion of a transaction that stop() replaced does nothing at all: it neither clears busy
// nor sets a text, stores nothing and sends nothing.
TEST_F(ModelTest, ALateReplyOfAReplacedTransactionChangesNothing) {
    ports.values = {{"roonHost", "core:9330"}};
    const std::vector<std::tuple<std::function<void()>, std::string, JSONObject>> rows = {
        {[] {}, "configure", okPayload()},
        {[&] { answer("configure", okPayload()); }, "start", failurePayload("pairing_required")},
        {[&] {
             answer("configure", okPayload());
             answer("start", okPayload({{"nativeGeneration", "N"}}));
             model->connect(); // publishing: a failed configure resumes with stop, then start
             answer("configure", {});
         },
         "stop", okPayload()},
    };
    for (const auto& [leaveInFlight, type, reply] : rows) {
        ready();
        leaveInFlight();
        flush();
        const Envelope late = lastSent(type);
        model->stop();
        EXPECT_EQ(seen(), std::tuple(false, expected::paused, "stop")) << type;
        answer("stop", okPayload());
        model->connect(); // the newest transaction: busy, with an empty notice
        ports.values.clear();
        child().answer(late, reply);
        EXPECT_EQ(seen(), std::tuple(true, "", "configure")) << type;
        EXPECT_TRUE(ports.values.empty()) << type;
        exitChild();
    }
}

TEST_F(ModelTest, WhileBusyTheOperationsDoNothingAndTheRoonSwitchIsStoredAndSent) {
    ready();
    model->notice().set("kept");
    model->connect();
    model->pairingCode().set("123456");
    model->pair(false);
    model->resetRoon();
    model->setRoonEnabled(false);
    model->setAppleMusicEnabled(true);
    EXPECT_EQ(seen(), std::tuple(true, "kept", "configure"));
    EXPECT_EQ(countSent("configure"), 1);
    EXPECT_TRUE(ports.values.empty());

    answer("configure", okPayload());
    model->setRoonEnabled(false);
    EXPECT_EQ(ports.values.at("roonEnabled"), JSONValue(false));
    flush();
    EXPECT_EQ(
        JSONValue(lastSent("configure").payload).serialized(),
        R"({"appleMusicEnabled":false,"bridgeOrigin":"https://kavrel.app","roonEnabled":false,"roonHost":""})");
}

// A failed configure, and a reset either way, bring a connector that was publishing back with stop and
// then start; a failed stop still starts.
TEST_F(ModelTest, AFailedConfigureOrAResetWhilePublishingResumesWithStopThenStart) {
    started();
    const auto before = sent().size();
    model->connect();
    answer("configure", failurePayload("bridge_unreachable"));
    answer("stop", failurePayload("failed"));
    answer("start", okPayload({{"nativeGeneration", "NATIVE-2"}}));
    for (const auto& [reply, notice] : {std::pair<JSONObject, std::string>{{}, expected::roonResetFailed},
                                        {okPayload(), expected::roonReset}}) {
        model->resetRoon();
        answer("resetRoon", reply);
        EXPECT_EQ(seen(), std::tuple(false, notice, "status"));
        answer("stop", okPayload());
        answer("start", okPayload({{"nativeGeneration", "NATIVE-3"}}));
    }
    const auto types = sentTypes();
    EXPECT_EQ(
        std::vector(types.begin() + before, types.end()),
        (std::vector<std::string>{"configure", "stop", "start", "status", "resetRoon", "stop", "status",
                                  "start", "status", "resetRoon", "stop", "status", "start", "status"}));
}

} // namespace
} // namespace kavrel
