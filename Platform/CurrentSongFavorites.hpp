#pragma once

#include "Platform/FavoriteChannel.hpp"

#include <memory>
#include <optional>
#include <string>

namespace kavrel {

// A player that rates only the song it plays now, on a scale from 0 to 1.
class CurrentSongRater {
public:
    struct Song {
        OSStatus status = status::noErr;
        // The player's name for the song it plays; empty when it plays none.
        std::string key;
        std::optional<double> rating;
    };

    virtual ~CurrentSongRater() = default;
    virtual Song current() = 0;
    virtual OSStatus rate(double rating) = 0;
    // The rating of a song no one rated.
    virtual double unrated() const = 0;
};

// The favourite channel of such a player. A track is there only while it is the current song, and a
// write goes ahead only then: checked right before the call and right after it, since a song that
// changed in between may have taken the rating, which is then reported as a failed write.
class CurrentSongFavorites final : public FavoriteChannel {
public:
    explicit CurrentSongFavorites(std::unique_ptr<CurrentSongRater> rater) : rater(std::move(rater)) {}

    OSStatus locate(const std::string& key) override;
    Read read(const std::string& key) override;
    OSStatus write(const std::string& key, bool favorite) override;

private:
    CurrentSongRater::Song playing(const std::string& key);

    std::unique_ptr<CurrentSongRater> rater;
};

} // namespace kavrel
