#pragma once

#include "MusicBridge/KVMusicBridge.hpp"
#include "MusicBridge/MusicBridgeError.hpp"
#include "MusicBridge/simulated/SimulatedMusicApp.hpp"

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

} // namespace kavrel
