#pragma once

#include "MusicBridge/events/FourCharCode.hpp"
#include "Platform/MpdClient.hpp"
#include "Platform/MpdFavorites.hpp"
#include "Platform/MprisMetadata.hpp"
#include "Platform/MprisPlayerRoster.hpp"
#include "Platform/TrackEvents.hpp"

#include <memory>
#include <optional>

namespace kavrel {

// MPD reached through its own protocol: a player of the roster in its own right, with or without an
// MPRIS bridge, whose songs keep favourites in stickers. Used from one thread, as its client.
class MpdPlayer {
public:
    // The player's name in the roster; its MPRIS bridge, org.mpris.MediaPlayer2.mpd, is the same one.
    static constexpr const char* name = "mpd";
    // A server that did not answer is asked again only at every tenth poll, so a host that does not
    // answer at all holds up the reads only now and then.
    static constexpr int pollsAfterFailure = 10;

    explicit MpdPlayer(MpdAddress address);

    // Reads MPD's state into the roster: there while MPD answers.
    void poll(MprisPlayerRoster& roster);
    // As of the last poll.
    FourCharCode state() const;
    double positionSeconds() const;

    struct Song {
        MprisMetadata metadata;
        SharedTrack shared;
        // Why the song cannot be written although MPD keeps it (a server without sticker_file).
        std::optional<OSStatus> readOnly;
    };
    // The current song; none when there is none. A failure of the server is its status.
    std::optional<Song> currentSong(OSStatus& failure);

private:
    MpdClient client;
    std::shared_ptr<MpdFavorites> favorites;
    std::optional<MpdStatus> status;
    int pollsToSkip = 0;
};

} // namespace kavrel
