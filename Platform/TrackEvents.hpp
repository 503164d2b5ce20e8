#pragma once

#include "MusicBridge/events/MusicTarget.hpp"
#include "Platform/FavoriteChannel.hpp"
#include "Platform/MprisIdentity.hpp"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace kavrel {

// A track as the music target shares it.
struct SharedTrack {
    MprisIdentity identity;
    // The player's name for the track in its channel.
    std::string key;
    // None for a player that cannot write favourites.
    std::shared_ptr<FavoriteChannel> channel;
    // A read-only track's favourite as the player publishes it.
    std::optional<bool> shown;
};

// Answers the bridge's events about shared tracks the way a music library does, so that the bridge
// captures, verifies, reads and writes the tracks of players that keep favourites by its own rules:
// a track by unique ID in the library playlist, the current track, and a track's persistent ID,
// database ID and favourite. A track's unique ID is its database ID; every identity check asks the
// channel whether the track is still there. Tracks with a channel stay addressable (the last 256
// seen, more than the bridge keeps captured); a read-only track only while it is the current one.
class TrackEvents {
public:
    static constexpr std::size_t remembered = 256;
    static constexpr std::int32_t sourceID = 1;

    // The track just read as the current one; none when there is none. Returns the unique ID the
    // bridge may capture it by: 0 for a track that cannot be written.
    std::int64_t setCurrent(std::optional<SharedTrack> track);

    // The reply record to one event.
    AEDesc answer(const AppleEvent& event);

private:
    OSStatus lookUp(const AEDesc& specifier, AEDesc& result);
    OSStatus get(FourCharCode property, const AEDesc& container, AEDesc& result);
    OSStatus set(FourCharCode property, const AEDesc& container, const AEDesc* value);
    SharedTrack* resolve(const AEDesc& specifier);
    void remember(const SharedTrack& track);

    std::optional<SharedTrack> current;
    std::map<std::int64_t, SharedTrack> tracks;
    std::deque<std::int64_t> order;
};

} // namespace kavrel
