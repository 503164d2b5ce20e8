#include "Platform/MpdPlayer.hpp"

#include "Platform/MprisIdentity.hpp"

namespace kavrel {

MpdPlayer::MpdPlayer(MpdAddress address)
    : client(std::move(address)), favorites(std::make_shared<MpdFavorites>(client)) {}

void MpdPlayer::poll(MprisPlayerRoster& roster) {
    status.reset();
    if (pollsToSkip > 0) {
        --pollsToSkip;
    } else if (auto read = client.status(); read.ok()) {
        status = read.value;
    } else {
        pollsToSkip = pollsAfterFailure - 1;
    }
    const char* words[] = {"Stopped", "Playing", "Paused"};
    roster.direct(name, status ? std::optional<std::string_view>(words[static_cast<int>(status->state)])
                               : std::nullopt);
}

FourCharCode MpdPlayer::state() const {
    switch (status ? status->state : MpdPlayState::stopped) {
    case MpdPlayState::playing:
        return music::playerStatePlaying;
    case MpdPlayState::paused:
        return music::playerStatePaused;
    case MpdPlayState::stopped:
        break;
    }
    return music::playerStateStopped;
}

double MpdPlayer::positionSeconds() const {
    return status ? status->elapsedSeconds : 0;
}

std::optional<MpdPlayer::Song> MpdPlayer::currentSong(OSStatus& failure) {
    const auto current = client.currentSong();
    failure = MpdFavorites::statusOf(current.error);
    if (!current.ok() || !current.value) {
        return std::nullopt;
    }
    const MpdSong& song = *current.value;
    Song shared;
    shared.metadata.title = song.title;
    for (const std::string& artist : song.artists) {
        shared.metadata.artist += (shared.metadata.artist.empty() ? "" : ", ") + artist;
    }
    shared.metadata.album = song.album;
    shared.metadata.lengthSeconds = song.durationSeconds;
    shared.metadata.url = song.uri;
    shared.shared = {MprisIdentity::ofKey(name, song.uri), song.uri, favorites, std::nullopt};
    // Without a sticker database the song is shared read-only, with the reason for diagnostics.
    if (const auto stickers = client.hasStickerDatabase(); !stickers.ok() || !stickers.value) {
        shared.readOnly = stickers.ok() ? status::errAEWriteDenied : MpdFavorites::statusOf(stickers.error);
        shared.shared.channel.reset();
    }
    return shared;
}

} // namespace kavrel
