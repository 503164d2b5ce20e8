#pragma once

#include "MusicBridge/KVMusicSettlingGate.hpp"
#include "MusicBridge/events/AEDesc.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace kavrel {

// A verifiable reference to one track, handed to the connector as its `ref`: favourite commands act
// on this track only, after checking that the specifier still resolves to the same identity.
struct KVCapturedTrack {
    std::string persistentID;
    std::int64_t databaseID = 0;
    std::string artist;
    std::string name;
    std::string ref;
    // None when neither the library lookup nor the current track gave a usable specifier.
    std::optional<AEDesc> descriptor;
    KVMusicSettlingGate settling;
};

} // namespace kavrel
