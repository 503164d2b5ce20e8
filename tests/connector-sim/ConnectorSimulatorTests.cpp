// The stand-in's favourite options: the exact commands they make it send. Its handshake and frames are
// exercised through the real supervisor (tests/hardening) and the end-to-end test.
//
// The companion without a window, end to end: the stand-in connector through real pipes and the real
// supervisor, the model's gate, the controller and the bridge over the simulated music app. The
// connector writes the favourite of the first track it is shared and reads it back.

#include "CompanionCore/model/CloudStatus.hpp"
#include "CompanionCore/music/ScriptingMusicAccess.hpp"
#include "CompanionCore/runtime/UUID.hpp"
#include "bridge/BridgeHarness.hpp"
#include "hardening/ConnectorRig.hpp"
#include "model/ModelHarness.hpp"
#include "tools/connector-sim/ConnectorSimulator.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

TEST(ConnectorSimulatorTest, WritesTheFavouriteOfTheFirstWritableTrackOfEachStartThenReadsItBack) {
    ScratchDirectory scratch;
    int identifiers = 0;
    ConnectorSimulator simulator(
        scratch.path(), SimulatorOptions::fromJSON(JSONValue::parse(R"({"favouriteWriteOnSnapshot":true})")),
        {[&] { return "ID-" + std::to_string(++identifiers); },
         [] {
             return 1000.0;
         }});
    // The last message the connector sends in turn: a command it sends, or else the result or status.
    const auto last = [&](const std::string& id, const std::string& type, JSONObject payload) {
        return simulator.handle(Envelope(id, type, std::move(payload))).back();
    };
    last("1", "initialize", {{"storageKey", std::string(64, 'f')}});
    last("2", "pair", {{"code", "123456"}});
    last("3", "configure",
         {{"bridgeOrigin", "https://kavrel.example"},
          {"roonHost", ""},
          {"appleMusicEnabled", true},
          {"roonEnabled", false}});
    const auto start = [&] {
        const auto reply = simulator.handle(Envelope("4", "start", {})).front();
        return *reply.payload.at("data").object()->at("nativeGeneration").string();
    };
    // A snapshot of the track in run RUN-1 of the companion, for the connector's start `native`.
    const auto snapshot = [&](const std::string& native, const std::string& trackRef, bool writable) {
        const JSONObject track{{"trackRef", trackRef}, {"favoriteWritable", writable}};
        return last("S", "nativeSnapshot",
                    {{"nativeGeneration", native}, {"generation", "RUN-1"}, {"track", track}});
    };

    const std::string native = start();
    EXPECT_NE(snapshot(native, "", true).type, "nativeCommand");
    EXPECT_NE(snapshot(native, "REF-1", false).type, "nativeCommand");
    EXPECT_NE(snapshot("an earlier start", "REF-1", true).type, "nativeCommand");
    const auto set = snapshot(native, "REF-1", true);
    JSONObject command{{"generation", "RUN-1"},   {"nativeGeneration", native}, {"expiresAt", 21000.0},
                       {"action", "setFavorite"}, {"desiredState", true},       {"trackRef", "REF-1"}};
    EXPECT_EQ(set.payload, command);
    EXPECT_NE(snapshot(native, "REF-2", true).type, "nativeCommand") << "once per start";

    const auto get = last(set.id, "nativeResult", {{"ok", true}, {"data", JSONObject{{"favorited", true}}}});
    command.erase("desiredState");
    command["action"] = "getFavorite";
    command["expiresAt"] = 11000.0;
    EXPECT_EQ(get.payload, command);
    simulator.handle(Envelope(get.id, "nativeResult", {{"ok", false}, {"code", "music_timeout"}}));
    EXPECT_EQ(JSONValue(simulator.favouriteResults()),
              JSONValue::parse(R"([{"action":"setFavorite","ok":true,"favorited":true},
                  {"action":"getFavorite","ok":false,"code":"music_timeout"}])"));
    EXPECT_EQ(snapshot(start(), "REF-2", true).type, "nativeCommand") << "again after a new start";
}

// The options the fault matrix relies on are read by its own runs; here, what a typo must not pass as.
TEST(SimulatorOptionsTest, UnknownKeysAndWrongTypesAreRefused) {
    for (const auto* text : {R"({"crashAtStrat":true})", R"({"crashAtStart":1})", R"({"silentAfter":-1})",
                             R"({"discoverRoon":"maybe"})", R"({"failCommands":{"initialize":"x"}})",
                             R"({"favouriteWriteOnSnapshot":"yes"})", "[]"}) {
        EXPECT_THROW(SimulatorOptions::fromJSON(JSONValue::parse(text)), std::runtime_error) << text;
    }
}

TEST(CompanionEndToEnd, PairsSharesAndTheConnectorsFavouriteWriteLandsInTheMusicAppAndReadsBack) {
    ConnectorRig rig;
    rig.misbehave(R"({"favouriteWriteOnSnapshot":true})");
    SimulatedMusicApp app;
    app.addTrack(simulatedTrack(7));
    app.play(7);

    // The bridge's own clock, so that the 5 s a write must hold pass at once; deadlines stay real.
    double uptime = 0;
    const auto bridge = [&] {
        return std::make_unique<KVMusicBridge>(
            KVMusicBridge::Ports{app, app.scriptingFactory(), makeUUIDString},
            KVMusicBridge::Timing{[&] { return uptime; }, [] { return 1.7e12; },
                                  [&](double s) {
                                      uptime += s;
                                  }});
    };
    ManualQueue musicQueue{std::string(NativeMusicController::queueLabel)};
    ManualQueue artworkQueue{std::string(NativeMusicController::artworkQueueLabel)};
    MemoryPorts ports;
    ports.values = {{"appleMusicEnabled", true}};
    const auto model = CompanionModel::create(
        {.loop = rig.loop,
         .helper = rig.supervisor,
         .music = NativeMusicController::create(std::make_shared<ScriptingMusicAccess>(bridge(), bridge()),
                                                std::chrono::system_clock::now, musicQueue, artworkQueue),
         .preferences = ports,
         .clipboard = ports,
         .logger = ports,
         .build = {}});
    const auto runUntil = [&](const std::function<bool()>& condition) {
        return rig.loop.runUntil([&] {
            while (musicQueue.drain() + artworkQueue.drain() > 0) {
            }
            return condition();
        });
    };
    const auto results = [&] {
        const auto* music = statusMember(rig.supervisor->status().value(), "music");
        return music && music->count("favouriteResults") ? *music->at("favouriteResults").array()
                                                         : JSONArray{};
    };

    model->launch();
    // Not paired yet: the connector refuses to start.
    ASSERT_TRUE(runUntil([&] { return !model->notice().value().empty(); })) << rig.describe();
    EXPECT_EQ(model->notice().value(), expected::startFailed);
    model->pairingCode().set(" KAV-2048 ");
    model->pair(false);
    ASSERT_TRUE(runUntil([&] { return results().size() == 2 && !model->busy().value(); })) << rig.describe();
    EXPECT_EQ(JSONValue(results()), JSONValue::parse(R"([{"action":"setFavorite","ok":true,"favorited":true},
        {"action":"getFavorite","ok":true,"favorited":true}])"));
    EXPECT_TRUE(app.favorite(7));
    EXPECT_EQ(app.favoriteWrites(), 1);
    EXPECT_EQ(model->notice().value(), expected::paired);
    EXPECT_EQ(model->musicState().value(), "Music: playing");
}

} // namespace
} // namespace kavrel
