#pragma once

#include "Platform/MprisMetadata.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kavrel {

// Identifiers of a shared MPRIS track in the shapes the bridge knows from a music library: a persistent
// ID of 16 upper-case hexadecimal digits and a database ID from 1 to 2^31 - 1. MPRIS has neither, so
// both are derived from the player and the track's id (its URL when it has none), or its name in the
// player's favourite channel: the same track of the same player keeps them across runs of this program.
struct MprisIdentity {
    std::string persistentID;
    std::int64_t databaseID = 0;

    // None when the track has neither an id nor a URL: nothing stable to derive from.
    static std::optional<MprisIdentity> of(std::string_view player, const MprisMetadata& metadata);
    // From the player's own name for the track in its favourite channel, which outlives the
    // player's run where some MPRIS track ids do not.
    static MprisIdentity ofKey(std::string_view player, std::string_view key);

    // The player's part of an MPRIS bus name, without the instance suffix that changes with every
    // start: "vlc" for "org.mpris.MediaPlayer2.vlc.instance7389".
    static std::string playerOf(std::string_view busName);
};

} // namespace kavrel
