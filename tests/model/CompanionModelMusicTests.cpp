// Music sharing: the switch, the permission request, snapshots to the connector and the native
// command gate.

#include "model/ModelHarness.hpp"

namespace kavrel {
namespace {

// Snapshots and native commands flow only while the connector is started with a native generation, and
// a command passes only with that generation.
TEST_F(ModelTest, OnlyTheCurrentRunAndStartExchangeSnapshotsAndNativeCommands) {
    ports.values = {{"appleMusicEnabled", true}};
    started();
    const std::string run = *lastSent("nativeSnapshot").payload.at("generation").string();
    EXPECT_EQ(lastSent("nativeSnapshot").payload.at("nativeGeneration"), JSONValue("NATIVE-1"));
    EXPECT_EQ(model->musicState().value(), "Music: playing");
    JSONObject current{{"nativeGeneration", "NATIVE-1"}, {"generation", run}, {"action", "getFavorite"}};
    current.insert({{"trackRef", "R"}, {"expiresAt", 1'700'000'010'000.0}});
    EXPECT_EQ(command(current).payload.at("data"), JSONValue(JSONObject{{"favorited", true}}));
    const JSONObject stale{{"nativeGeneration", "NATIVE-0"}, {"generation", "G"}};
    JSONObject refused{{"ok", false}, {"code", "native_bridge_unavailable"}};
    refused.insert(stale.begin(), stale.end()); // echoed as they came
    EXPECT_EQ(command(stale), Envelope("N-2", "nativeResult", refused));

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
    EXPECT_EQ(seen(), std::tuple(false, expected::paused, "stop"));
    EXPECT_EQ(model->musicState().value(), "Music: offline");
    // A start without a native generation: the snapshots update the status line only.
    model->connect();
    answer("configure", okPayload());
    answer("start", okPayload());
    settle();
    EXPECT_EQ(model->musicState().value(), "Music: paused");
    EXPECT_EQ(countSent("nativeSnapshot"), sentBefore);
    EXPECT_EQ(command(current).payload.at("code"), JSONValue("native_bridge_unavailable"));
}

TEST_F(ModelTest, TheSwitchGatesCommandsAsksForPermissionOnlyWhenTurnedOnAndDropsALateAnswer) {
    int asked = 0;
    access->onAuthorization = [&] {
        ++asked;
    };
    started(); // sharing off: even a command of the current start is refused
    EXPECT_EQ(command({{"nativeGeneration", "NATIVE-1"}}).payload.at("code"),
              JSONValue("native_bridge_unavailable"));
    model->setAppleMusicEnabled(true);
    EXPECT_EQ(model->musicState().value(), expected::waitingForMusic);
    EXPECT_EQ(seen(), std::tuple(true, expected::permissionGranted, "configure"));
    EXPECT_EQ(ports.values.at("appleMusicEnabled"), JSONValue(true));
    answer("configure", okPayload());
    model->setAppleMusicEnabled(true); // the same value: reconnects, asks nothing
    EXPECT_EQ(seen(), std::tuple(true, "", "configure"));
    EXPECT_EQ(asked, 1);
    answer("configure", okPayload());

    access->onAuthorization = [] {
        throw std::runtime_error("automation_denied");
    };
    model->allowMusic();
    model->setAppleMusicEnabled(false); // drops the answer
    EXPECT_EQ(seen(), std::tuple(true, "", "configure"));
    EXPECT_EQ(model->musicState().value(), expected::sharingOff);
    answer("configure", okPayload());
    model->setAppleMusicEnabled(true);
    EXPECT_EQ(seen(), std::tuple(true, expected::permissionFailed, "configure"));

    model->notice().set("");
    model->allowMusic();
    model->shutdown(); // drops the request still pending
    settle();
    EXPECT_EQ(model->notice().value(), "");
    EXPECT_EQ(model->roonDiscovery().value(), RoonDiscoveryState::unavailable);
}

// Read on the music queue; a failed read is still a report, with nothing of the failure in it.
TEST_F(ModelTest, DiagnosticsGoToTheClipboardWithTheBuildHeaderEvenWithoutTheModel) {
    makeModel();
    model->copyMusicDiagnostics();
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
