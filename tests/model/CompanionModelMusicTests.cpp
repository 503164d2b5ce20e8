// Music sharing: the switch, the permission request, snapshots to the connector and the native
// command gate.

#include "model/ModelHarness.hpp"

namespace kavrel {
namespace {

TEST_F(ModelTest, OnlySnapshotsOfTheCurrentRunAndStartReachTheConnectorAndTheStatusLine) {
    ports.values = {{"appleMusicEnabled", true}};
    started();
    const auto snapshot = lastSent("nativeSnapshot").payload;
    EXPECT_EQ(snapshot.at("nativeGeneration"), JSONValue("NATIVE-1"));
    EXPECT_TRUE(snapshot.at("generation").string());
    EXPECT_EQ(model->musicState().value(), "Music: playing");
    for (const auto& [reading, state] : std::vector<std::pair<JSONObject, std::string>>{
             {{{"state", "offline"}, {"code", "automation_denied"}}, expected::allowMusicState},
             {{{"state", "offline"}, {"code", "automation_required"}}, expected::allowMusicState},
             {{{"state", 3}, {"code", "music_timeout"}}, "Music: offline"}}) {
        access->onSnapshot = returning(reading);
        musicQueue.advance(std::chrono::seconds(1));
        settle();
        EXPECT_EQ(model->musicState().value(), state);
    }

    const int sentBefore = countSent("nativeSnapshot");
    access->onSnapshot = returning(JSONObject{{"state", "paused"}});
    musicQueue.advance(std::chrono::seconds(1)); // published on the music queue, not yet on the main loop
    model->stop();
    musicQueue.advance(std::chrono::seconds(5));
    settle();
    EXPECT_EQ(model->musicState().value(), "Music: offline");
    // A start without a native generation: the snapshots update the status line only.
    model->connect();
    flush();
    answer("configure", okPayload());
    answer("start", okPayload());
    settle();
    EXPECT_EQ(model->musicState().value(), "Music: paused");
    EXPECT_EQ(countSent("nativeSnapshot"), sentBefore);
}

TEST_F(ModelTest, TheSwitchAsksForPermissionOnlyWhenTurnedOnAndDropsALateAnswer) {
    int asked = 0;
    access->onAuthorization = [&] {
        ++asked;
    };
    ready();
    answer("configure", okPayload());
    answer("start", okPayload({{"nativeGeneration", "NATIVE-1"}}));

    model->setAppleMusicEnabled(true);
    EXPECT_EQ(ports.values.at("appleMusicEnabled"), JSONValue(true));
    EXPECT_EQ(model->musicState().value(), expected::waitingForMusic);
    flush();
    EXPECT_EQ(lastSent("configure").payload.at("appleMusicEnabled"), JSONValue(true));
    settle();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(model->notice().value(), expected::permissionGranted);
    answer("configure", okPayload());
    model->setAppleMusicEnabled(true); // the same value: reconnects, asks nothing
    settle();
    EXPECT_EQ(asked, 1);
    answer("configure", okPayload());

    access->onAuthorization = [] {
        throw std::runtime_error("automation_denied");
    };
    model->allowMusic();
    model->allowMusic(); // one request at a time
    model->setAppleMusicEnabled(false);
    model->notice().set("");
    settle();
    EXPECT_EQ(model->notice().value(), "");
    EXPECT_EQ(model->musicState().value(), expected::sharingOff);
    answer("configure", okPayload());
    model->setAppleMusicEnabled(true);
    settle();
    EXPECT_EQ(model->notice().value(), expected::permissionFailed);

    model->notice().set("");
    model->allowMusic();
    model->shutdown(); // drops the request still pending
    settle();
    EXPECT_EQ(model->notice().value(), "");
    EXPECT_EQ(model->roonDiscovery().value(), RoonDiscoveryState::unavailable);
}

TEST_F(ModelTest, NativeCommandsPassTheGateOnlyForTheCurrentStart) {
    ports.values = {{"appleMusicEnabled", true}};
    started();
    int commands = 0;
    auto command = [&](JSONObject payload) {
        child().writeOutput(
            Envelope("N-" + std::to_string(++commands), "nativeCommand", std::move(payload)).encodedLine());
        settle();
        return sent().back();
    };
    const auto refused = command({{"nativeGeneration", 1}, {"generation", "G"}});
    EXPECT_EQ(refused.type, "nativeResult");
    EXPECT_EQ(refused.id, "N-1");
    EXPECT_EQ(refused.payload, (JSONObject{{"ok", false},
                                           {"code", "native_bridge_unavailable"},
                                           {"nativeGeneration", 1},
                                           {"generation", "G"}}));
    EXPECT_EQ(command({}).payload, (JSONObject{{"ok", false}, {"code", "native_bridge_unavailable"}}));

    const JSONObject current{{"nativeGeneration", "NATIVE-1"},
                             {"generation", *lastSent("nativeSnapshot").payload.at("generation").string()},
                             {"expiresAt", 1'700'000'000'000.0 + 10'000},
                             {"action", "getFavorite"},
                             {"trackRef", "REF-1"}};
    const auto executed = command(current);
    EXPECT_EQ(executed.type, "nativeResult");
    EXPECT_EQ(executed.payload.at("ok"), JSONValue(true));
    EXPECT_EQ(executed.payload.at("nativeGeneration"), JSONValue("NATIVE-1"));
    model->setAppleMusicEnabled(false);
    EXPECT_EQ(command(current).payload.at("code"), JSONValue("native_bridge_unavailable"));
}

// Read on the music queue; a failed read is still a report, with nothing of the failure in it.
TEST_F(ModelTest, DiagnosticsGoToTheClipboardWithTheBuildHeaderEvenWithoutTheModel) {
    makeModel();
    model->copyMusicDiagnostics();
    EXPECT_TRUE(ports.texts.empty());
    settle();
    EXPECT_EQ(model->notice().value(), expected::diagnosticsCopied);
    access->onDiagnostics = []() -> JSONObject {
        throw std::runtime_error("music_timeout");
    };
    model->copyMusicDiagnostics();
    model.reset();
    settle();
    const std::string header =
        std::string("Kavrel Companion 1.2.0 (42)") + expected::separator + "Debian GNU/Linux 12 (bookworm)\n";
    EXPECT_EQ(ports.texts, (std::vector<std::string>{
                               header + "{\n  \"schemaVersion\" : 1,\n  \"stage\" : \"ready\"\n}",
                               header + "{\n  \"schemaVersion\" : 1,\n  \"stage\" : \"unavailable\"\n}"}));
}

} // namespace
} // namespace kavrel
