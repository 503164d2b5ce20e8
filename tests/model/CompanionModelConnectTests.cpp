// Connect, pair, pause and reset against a fake connector: what is sent, what the user reads, and
// which late replies are dropped.

#include "model/ModelHarness.hpp"

namespace kavrel {
namespace {

TEST_F(ModelTest, PreferencesKeepTheirTypesAndConstructionSendsNothing) {
    preferences.values = {{"roonEnabled", "no"}, {"bridgeOrigin", "https://mine.example/"}, {"roonHost", 7}};
    makeModel();
    EXPECT_TRUE(model->roonEnabled().value()); // only a stored Boolean turns the relay off
    EXPECT_FALSE(model->appleMusicEnabled().value());
    EXPECT_EQ(model->bridgeOrigin().value(), "https://mine.example/");
    EXPECT_EQ(model->roonHost().value(), "");
    EXPECT_EQ(model->musicState().value(), "Waiting for Music");
    EXPECT_EQ(model->roonDiscovery().value(), RoonDiscoveryState::idle);
    flush();
    EXPECT_EQ(launcher.childCount(), 0u);

    preferences.values = {{"roonEnabled", false}, {"appleMusicEnabled", true}};
    makeModel();
    EXPECT_FALSE(model->roonEnabled().value());
    EXPECT_TRUE(model->appleMusicEnabled().value());
    EXPECT_EQ(model->bridgeOrigin().value(), CompanionModel::defaultOrigin);
}

TEST_F(ModelTest, ReadyConfiguresThenStartsAndStoresTheSettingsOnlyOnceAccepted) {
    preferences.values = {{"roonHost", "core.local:9330"}};
    makeModel();
    model->bridgeOrigin().set("https://kavrel.example/");
    ready();
    const auto configure = lastSent("configure");
    EXPECT_EQ(configure.payload, (JSONObject{{"bridgeOrigin", "https://kavrel.example"},
                                             {"roonHost", "core.local:9330"},
                                             {"appleMusicEnabled", false},
                                             {"roonEnabled", true}}));
    EXPECT_TRUE(model->busy().value());
    EXPECT_EQ(preferences.values.count("bridgeOrigin"), 0u);

    answer("configure", okPayload());
    EXPECT_FALSE(model->busy().value());
    EXPECT_EQ(preferences.values.at("bridgeOrigin"), JSONValue("https://kavrel.example/")); // as typed
    EXPECT_EQ(preferences.values.at("roonHost"), JSONValue("core.local:9330"));
    EXPECT_EQ(sentTypes().back(), "start");

    answer("start", failurePayload("pairing_required"));
    EXPECT_EQ(model->notice().value(),
              "Pair this companion with Kavrel to connect. Your existing pairing is kept "
              "until replacement succeeds.");
    EXPECT_EQ(sentTypes().back(), "status");
}

TEST_F(ModelTest, RefusedSettingsAreNotSentAndAFailedConfigureKeepsTheStoredOnes) {
    preferences.values = {{"roonHost", "old:1"}};
    makeModel();
    model->roonHost().set(std::string(512, 'h'));
    ready();
    EXPECT_EQ(lastSent("configure").payload.at("roonHost"), JSONValue(std::string(512, 'h')));
    answer("configure", failurePayload("invalid_origin"));
    EXPECT_EQ(model->notice().value(), HelperSupervisor::describe("invalid_origin"));
    EXPECT_EQ(preferences.values.at("roonHost"), JSONValue("old:1"));

    const auto before = sent().size();
    model->roonHost().set(std::string(513, 'h'));
    model->connect();
    EXPECT_EQ(model->notice().value(), "Enter an HTTPS origin without a path, credentials, or query.");
    model->roonHost().set("");
    model->bridgeOrigin().set("https://kavrel.example/path");
    model->connect();
    flush();
    EXPECT_EQ(sent().size(), before);
    EXPECT_FALSE(model->busy().value());
}

TEST_F(ModelTest, PairingTrimsUnicodeSpaceMeasuresBeforeTrimmingAndUsesTheCodeOnce) {
    ready();
    answer("configure", failurePayload("failed"));
    const auto before = sent().size();

    model->pairingCode().set(" \u00A0\u3000\n");
    model->pair(false);
    EXPECT_EQ(model->notice().value(), HelperSupervisor::describe("failed"));
    model->pairingCode().set(std::string(120, '1') + std::string(9, ' '));
    model->pair(false);
    flush();
    EXPECT_EQ(model->notice().value(), "That pairing code is too long.");
    EXPECT_EQ(model->pairingCode().value().size(), 129u);
    EXPECT_EQ(sent().size(), before);

    model->pairingCode().set("\u2028 123456\u00A0");
    model->pair(true);
    flush();
    EXPECT_EQ(lastSent("pair").payload, (JSONObject{{"code", "123456"}, {"replace", true}}));
    EXPECT_EQ(model->pairingCode().value(), "");
    EXPECT_TRUE(model->busy().value());
    answer("pair", okPayload());
    EXPECT_EQ(model->notice().value(), "Paired. Enable your sources in Kavrel Settings.");
    answer("start", okPayload({{"nativeGeneration", "N"}}));
    EXPECT_EQ(model->notice().value(), "Paired. Enable your sources in Kavrel Settings.");
}

TEST_F(ModelTest, StopDropsTheReplyOfAPairInFlight) {
    ready();
    answer("configure", okPayload());
    answer("start", okPayload());
    model->pairingCode().set("123456");
    model->pair(false);
    flush();
    model->stop();
    flush();
    EXPECT_FALSE(model->busy().value());
    EXPECT_EQ(model->notice().value(), "Connector paused. Reconnect to resume.");
    answer("pair", okPayload());
    EXPECT_EQ(model->notice().value(), "Connector paused. Reconnect to resume.");
    EXPECT_EQ(sentTypes().back(), "stop");
    answer("stop", okPayload());
    EXPECT_EQ(sentTypes().back(), "status");
}

TEST_F(ModelTest, WhileBusyTheOperationsDoNothingAtAll) {
    ready();
    model->notice().set("kept");
    model->connect();
    model->pairingCode().set("123456");
    model->pair(false);
    model->resetRoon();
    model->setRoonEnabled(false);
    model->setAppleMusicEnabled(true);
    flush();
    EXPECT_EQ(model->notice().value(), "kept");
    EXPECT_EQ(countSent("configure"), 1);
    EXPECT_EQ(countSent("pair") + countSent("resetRoon"), 0);
    EXPECT_TRUE(model->roonEnabled().value());
    EXPECT_FALSE(model->appleMusicEnabled().value());
    EXPECT_TRUE(preferences.values.empty());
}

TEST_F(ModelTest, AFailedConfigureOrResetWhilePublishingResumesWithStopThenStart) {
    started();
    model->connect();
    flush();
    answer("configure", failurePayload("bridge_unreachable"));
    EXPECT_EQ(sentTypes().back(), "stop");
    answer("stop", failurePayload("failed"));
    EXPECT_EQ(sentTypes().back(), "start");
    answer("start", okPayload({{"nativeGeneration", "NATIVE-2"}}));

    model->resetRoon();
    flush();
    answer("resetRoon", okPayload());
    EXPECT_EQ(model->notice().value(), "Approve this extension again in Roon Settings → Extensions.");
    EXPECT_EQ(lastSent("stop").id, sent()[sent().size() - 2].id);
    EXPECT_EQ(sentTypes().back(), "status");
    answer("stop", okPayload());
    EXPECT_EQ(sentTypes().back(), "start");

    model->resetRoon();
    flush();
    child().exit(); // losing the connector drops the reset's reply with everything else in flight
    settle();
    EXPECT_FALSE(model->busy().value());
    EXPECT_EQ(model->roonDiscovery().value(), RoonDiscoveryState::unavailable);
}

TEST_F(ModelTest, TheRoonSwitchIsStoredAndReconnects) {
    ready();
    answer("configure", okPayload());
    model->setRoonEnabled(false);
    EXPECT_EQ(preferences.values.at("roonEnabled"), JSONValue(false));
    flush();
    EXPECT_EQ(lastSent("configure").payload.at("roonEnabled"), JSONValue(false));
}

} // namespace
} // namespace kavrel
