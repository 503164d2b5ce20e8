#include "Platform/CurrentSongFavorites.hpp"

namespace kavrel {

CurrentSongRater::Song CurrentSongFavorites::playing(const std::string& key) {
    CurrentSongRater::Song song = rater->current();
    if (song.status == status::noErr && song.key != key) {
        song.status = status::errAENoSuchObject;
    }
    return song;
}

OSStatus CurrentSongFavorites::locate(const std::string& key) {
    return playing(key).status;
}

FavoriteChannel::Read CurrentSongFavorites::read(const std::string& key) {
    const CurrentSongRater::Song song = playing(key);
    if (song.status == status::noErr && !song.rating) {
        return {status::errAENoSuchObject, false};
    }
    return {song.status, song.status == status::noErr && isTopRating(*song.rating, 1.0)};
}

OSStatus CurrentSongFavorites::write(const std::string& key, bool favorite) {
    const CurrentSongRater::Song before = playing(key);
    if (before.status != status::noErr) {
        return before.status;
    }
    if (!favorite && !(before.rating && isTopRating(*before.rating, 1.0))) {
        return status::noErr; // only a top rating is lowered
    }
    if (const OSStatus rated = rater->rate(favorite ? 1.0 : rater->unrated())) {
        return rated;
    }
    return playing(key).status;
}

} // namespace kavrel
