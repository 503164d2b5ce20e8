// Music sharing: the switch, the permission request, snapshots to the connector and the native
// command gate.

#include "model/ModelHarness.hpp"

namespace kavrel {
namespace {

TEST_F(ModelTest, StartedSharingSendsCurrentSnapshotsWithTheNativeGeneration) {
    preferences.values = {{"appleMusicEnabled", true}};
    started();
    ASSERT_GE(countSent("nativeSnapshot"), 1);
    const auto snapshot = lastSent("nativeSnapshot").payload;
    EXPECT_EQ(snapshot.at("nativeGeneration"), JSONValue("NATIVE-1"));
    EXPECT_EQ(snapshot.at("state"), JSONValue("playing"));
    EXPECT_TRUE(snapshot.at("generation").string());
    EXPECT_EQ(model->musicState().value(), "Music: playing");

    access->onSnapshot = [] {
        return JSONObject{{"state", "offline"}, {"code", "automation_denied"}};
    };
    musicQueue.advance(std::chrono::seconds(1));
    settle();
    EXPECT_EQ(model->musicState().value(),
              "Allow Music in System Settings → Privacy & Security → Automation.");
    access->onSnapshot = [] {
        return JSONObject{{"state", 3}};
    };
    musicQueue.advance(std::chrono::seconds(1));
    settle();
    EXPECT_EQ(model->musicState().value(), "Music: offline");
}

TEST_F(ModelTest, ASnapshotOfARunStoppedBeforeItArrivesChangesNothing) {
    preferences.values = {{"appleMusicEnabled", true}};
    started();
    const int sentBefore = countSent("nativeSnapshot");
    access->onSnapshot = [] {
        return playingSnapshot("Next");
    };
    musicQueue.advance(std::chrono::seconds(1)); // published on the music queue, not yet on the main loop
    model->stop();
    settle();
    EXPECT_EQ(countSent("nativeSnapshot"), sentBefore);
    musicQueue.advance(std::chrono::seconds(5));
    settle();
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
    EXPECT_EQ(preferences.values.at("appleMusicEnabled"), JSONValue(true));
    EXPECT_EQ(model->musicState().value(), "Waiting for Music");
    flush();
    EXPECT_EQ(lastSent("configure").payload.at("appleMusicEnabled"), JSONValue(true));
    settle();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(model->notice().value(), "Music permission granted.");
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
    EXPECT_EQ(model->musicState().value(), "Apple Music sharing off");

    answer("configure", okPayload());
    model->setAppleMusicEnabled(true);
    settle();
    EXPECT_EQ(model->notice().value(),
              "Allow Music access in System Settings → Privacy & Security → Automation.");
}

TEST_F(ModelTest, NativeCommandsPassTheGateOnlyForTheCurrentStart) {
    preferences.values = {{"appleMusicEnabled", true}};
    started();
    const double expiresAt = 1'700'000'000'000.0 + 10'000;
    int commands = 0;
    auto command = [&](JSONObject payload) {
        child().writeOutput(
            Envelope("N-" + std::to_string(++commands), "nativeCommand", std::move(payload)).encodedLine());
        settle();
        return sent().back();
    };
    const auto refused = command({{"nativeGeneration", 1}, {"generation", "G"}});
    EXPECT_EQ(refused.type, "nativeResult");
    EXPECT_EQ(refused.payload, (JSONObject{{"ok", false},
                                           {"code", "native_bridge_unavailable"},
                                           {"nativeGeneration", 1},
                                           {"generation", "G"}}));
    EXPECT_EQ(command({}).payload, (JSONObject{{"ok", false}, {"code", "native_bridge_unavailable"}}));

    const auto run = *lastSent("nativeSnapshot").payload.at("generation").string();
    const auto executed = command({{"nativeGeneration", "NATIVE-1"},
                                   {"generation", run},
                                   {"expiresAt", expiresAt},
                                   {"action", "getFavorite"},
                                   {"trackRef", "REF-1"}});
    EXPECT_EQ(executed.type, "nativeResult");
    EXPECT_EQ(executed.payload.at("ok"), JSONValue(true));
    EXPECT_EQ(executed.payload.at("nativeGeneration"), JSONValue("NATIVE-1"));

    model->setAppleMusicEnabled(false);
    const auto off = command({{"nativeGeneration", "NATIVE-1"}, {"generation", run}});
    EXPECT_EQ(off.payload.at("code"), JSONValue("native_bridge_unavailable"));
}

TEST_F(ModelTest, DiagnosticsGoToTheClipboardWithTheBuildHeaderEvenWithoutTheModel) {
    makeModel();
    model->copyMusicDiagnostics();
    settle();
    ASSERT_EQ(clipboard.texts.size(), 1u);
    EXPECT_TRUE(
        clipboard.texts[0].starts_with("Kavrel Companion 1.2.0 (42) · Debian GNU/Linux 12 (bookworm)\n{"));
    EXPECT_EQ(model->notice().value(),
              "Music diagnostics copied. No song names, track IDs or account details are included.");

    model->copyMusicDiagnostics();
    model.reset();
    settle();
    EXPECT_EQ(clipboard.texts.size(), 2u);
}

} // namespace
} // namespace kavrel
