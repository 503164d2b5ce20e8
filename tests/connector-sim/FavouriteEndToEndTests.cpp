// A favourite along its whole path: the stand-in connector sends it through real pipes, the real
// supervisor and the model's gate pass it on, the controller and the bridge write it into the
// simulated music app, and the connector reads it back.

#include "CompanionCore/model/Clipboard.hpp"
#include "CompanionCore/model/CloudStatus.hpp"
#include "CompanionCore/model/CompanionModel.hpp"
#include "CompanionCore/model/Logger.hpp"
#include "CompanionCore/model/Preferences.hpp"
#include "CompanionCore/music/NativeMusicController.hpp"
#include "CompanionCore/music/ScriptingMusicAccess.hpp"
#include "CompanionCore/runtime/UUID.hpp"
#include "MusicBridge/simulated/SimulatedMusicApp.hpp"
#include "hardening/ConnectorRig.hpp"
#include "support/ManualQueue.hpp"

#include <gtest/gtest.h>

namespace kavrel {
namespace {

// Music sharing on, everything else at its default, nothing kept.
struct SharingOn final : Preferences, Clipboard, Logger {
    std::optional<JSONValue> value(std::string_view key) const override {
        return key == "appleMusicEnabled" ? std::optional<JSONValue>(true) : std::nullopt;
    }
    void set(std::string_view, JSONValue) override {}
    void setText(const std::string&) override {}
    void info(std::string_view, std::string_view) override {}
};

TEST(FavouriteEndToEnd, TheConnectorsWriteLandsInTheMusicAppAndReadsBack) {
    ConnectorRig rig;
    rig.misbehave(R"({"favouriteWriteOnSnapshot":true})");
    SimulatedMusicApp app;
    SimulatedMusicApp::Track track;
    track.itemID = 7;
    track.databaseID = 70;
    track.persistentID = "0123456789ABCDEF";
    track.name = "Song";
    track.artist = "Artist";
    app.addTrack(track);
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
    const auto music =
        NativeMusicController::create(std::make_shared<ScriptingMusicAccess>(bridge(), bridge()),
                                      std::chrono::system_clock::now, musicQueue, artworkQueue);
    SharingOn ports;
    const auto model = CompanionModel::create({.loop = rig.loop,
                                               .helper = rig.supervisor,
                                               .music = music,
                                               .preferences = ports,
                                               .clipboard = ports,
                                               .logger = ports,
                                               .build = {}});
    const auto runUntil = [&](const std::function<bool()>& condition) {
        return rig.runUntil([&] {
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
    ASSERT_TRUE(runUntil([&] { return !model->notice().value().empty(); })) << rig.describe();
    model->pairingCode().set("KAV-2048");
    model->pair(false);
    ASSERT_TRUE(runUntil([&] { return results().size() == 2; })) << rig.describe();
    EXPECT_EQ(results(),
              (JSONArray{JSONObject{{"action", "setFavorite"}, {"ok", true}, {"favorited", true}},
                         JSONObject{{"action", "getFavorite"}, {"ok", true}, {"favorited", true}}}));
    EXPECT_EQ(app.favorite(7), true);
    EXPECT_EQ(app.favoriteWrites(), 1);
}

} // namespace
} // namespace kavrel
