#pragma once

#include "MusicBridge/events/MusicTarget.hpp"

#include <string>

namespace kavrel {

// A player's own store of per-track favourites, addressed by the player's name for a track (a song
// URI, a file name, an MPRIS track id). Favourite is the top of the player's rating scale: reading
// counts only the top, and clearing lowers only a top rating, to the player's "unrated". Answers are
// the event layer's status numbers: -1728 for a track the player no longer has (or, for a player that
// rates only the song it plays, no longer plays), -600 for a player that is gone, -1712 for a time-out.
// Writes are not read back here: whoever writes confirms by reading.
class FavoriteChannel {
public:
    struct Read {
        OSStatus status = status::noErr;
        bool favorite = false;
    };

    virtual ~FavoriteChannel() = default;

    // Whether the track is still there to be read and written.
    virtual OSStatus locate(const std::string& key) = 0;
    virtual Read read(const std::string& key) = 0;
    virtual OSStatus write(const std::string& key, bool favorite) = 0;
};

// Ratings are stored as floating-point numbers by some players: the top is anything within 1% of it.
inline bool isTopRating(double rating, double top) {
    return rating >= 0.99 * top;
}

} // namespace kavrel
