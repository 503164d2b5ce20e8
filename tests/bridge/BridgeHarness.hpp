#pragma once

#include "MusicBridge/KVMusicBridge.hpp"
#include "MusicBridge/MusicBridgeError.hpp"
#include "MusicBridge/simulated/SimulatedMusicApp.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace kavrel {

// The one way tests make a library track of the simulated music app: a playable track with a
// 16-character persistent ID and a database ID of its own.
inline SimulatedMusicApp::Track simulatedTrack(std::int64_t itemID, SimulatedMusicApp::Kind kind = {}) {
    SimulatedMusicApp::Track made;
    made.itemID = itemID;
    made.databaseID = static_cast<std::int32_t>(itemID + 1000);
    made.persistentID = "ABCDEF01234567" + std::to_string(10 + itemID % 90);
    made.name = "Song " + std::to_string(itemID);
    made.artist = "Artist";
    made.album = "Album";
    made.duration = 200;
    made.kind = kind;
    return made;
}

// A bridge on the simulated app with a virtual clock: the bridge's sleep advances it.
class BridgeTest : public ::testing::Test {
protected:
    BridgeTest() { makeBridge(); }

    void makeBridge(KVMusicBridge::ArtworkEncoder artwork = {}) {
        bridge = std::make_unique<KVMusicBridge>(
            KVMusicBridge::Ports{app, app.scriptingFactory(),
                                 [this] { return "REF-" + std::to_string(++references); },
                                 std::move(artwork)},
            KVMusicBridge::Timing{[this] { return now; }, [this] { return 1.7e12 + now * 1000; },
                                  [this](double seconds) {
                                      now += seconds;
                                      slept += seconds;
                                      if (onSleep) {
                                          onSleep();
                                      }
                                  }});
    }

    // Adds the track, plays it and reads a snapshot; returns its track object.
    KVDictionary playAndRead(SimulatedMusicApp::Track added) {
        const auto id = added.itemID;
        app.addTrack(std::move(added));
        app.play(id);
        return trackOf(bridge->readSnapshot());
    }

    static KVDictionary trackOf(const KVDictionary& snapshot) {
        const KVValue* track = snapshot.find("track");
        return track != nullptr && track->dictionary() != nullptr ? *track->dictionary() : KVDictionary();
    }

    static KVValue at(const KVDictionary& object, std::string_view key) {
        const KVValue* value = object.find(key);
        return value != nullptr ? *value : KVValue("<absent>");
    }

    // The machine code a call fails with, or "" when it succeeds.
    template <typename Call> static std::string failureOf(Call call) {
        try {
            call();
        } catch (const MusicBridgeError& error) {
            return error.machineCode();
        }
        return "";
    }

    SimulatedMusicApp app;
    std::unique_ptr<KVMusicBridge> bridge;
    double now = 1000;
    double slept = 0;
    std::function<void()> onSleep;
    int references = 0;
};

} // namespace kavrel
