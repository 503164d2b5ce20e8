#pragma once

// The companion without a window, end to end: the stand-in connector through real pipes and the real
// supervisor, the model's gate, the controller and the bridge over a music app. The connector writes the
// favourite of the first track it is shared and reads it back.

#include "CompanionCore/model/CloudStatus.hpp"
#include "CompanionCore/music/ScriptingMusicAccess.hpp"
#include "CompanionCore/runtime/UUID.hpp"
#include "bridge/BridgeHarness.hpp"
#include "hardening/ConnectorRig.hpp"
#include "model/ModelHarness.hpp"

#include <gtest/gtest.h>

namespace kavrel {

// Pairs with the stand-in connector and lets it share what `app` plays until its favourite write and
// read-back both succeed. `app` is a MusicTarget with a scriptingFactory(), playing one track.
template <typename MusicApp> void pairShareAndWriteTheFavourite(MusicApp& app) {
    ConnectorRig rig;
    rig.misbehave(R"({"favouriteWriteOnSnapshot":true})");
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
        return music && music->count("favouriteResults") ? music->at("favouriteResults") : JSONValue();
    };
    const auto writtenAndReadBack = JSONValue::parse(R"([{"action":"setFavorite","ok":true,"favorited":true},
        {"action":"getFavorite","ok":true,"favorited":true}])");

    model->launch();
    // Not paired yet: the connector refuses to start.
    ASSERT_TRUE(runUntil([&] { return !model->notice().value().empty(); })) << rig.describe();
    EXPECT_EQ(model->notice().value(), expected::startFailed);
    model->pairingCode().set(" KAV-2048 ");
    model->pair(false);
    ASSERT_TRUE(runUntil([&] { return results() == writtenAndReadBack && !model->busy().value(); }))
        << rig.describe() << results().serialized();
    EXPECT_EQ(model->notice().value(), expected::paired);
    EXPECT_EQ(model->musicState().value(), "Music: playing");
}

} // namespace kavrel
