#include "Platform/MprisMusicApp.hpp"

#include "MusicBridge/KVMusicBridge.hpp"
#include "Platform/MprisArtwork.hpp"
#include "Platform/MprisIdentity.hpp"
#include "Platform/MprisMetadata.hpp"
#include "Platform/MprisPlayerDirectory.hpp"
#include "Platform/TrackEvents.hpp"

#include <atomic>
#include <cstdint>

namespace kavrel {
namespace {

QString uniqueConnectionName() {
    static std::atomic<std::uint64_t> instances{0};
    return QStringLiteral("kavrel-mpris-%1").arg(++instances);
}

FourCharCode stateCode(const QVariant& status) {
    const QString text = status.toString();
    if (text == QStringLiteral("Playing")) {
        return music::playerStatePlaying;
    }
    if (text == QStringLiteral("Stopped")) {
        return music::playerStateStopped;
    }
    return music::playerStatePaused;
}

// The current track as read once: MPRIS offers no way to ask about a track again. Tracks that can be
// written carry the unique ID the events know them by; reading it of a track that its player keeps
// read-only for a reason reports that reason, which the bridge's diagnostics record.
class Track final : public MusicScriptingTrack {
public:
    struct ReadOnly {
        MusicScriptingDelegate* delegate;
        OSStatus reason;
    };

    Track(MprisMetadata metadata, std::optional<MprisIdentity> identity, std::int64_t uniqueID,
          std::optional<ReadOnly> readOnly = {})
        : metadata(std::move(metadata)), identity(std::move(identity)), uniqueID(uniqueID),
          readOnly(readOnly) {}

    std::string name() override { return metadata.title; }
    std::string artist() override { return metadata.artist; }
    std::optional<std::string> album() override { return metadata.album; }
    double duration() override { return metadata.lengthSeconds; }
    std::string persistentID() override { return identity ? identity->persistentID : std::string(); }
    std::int64_t databaseID() override { return identity ? identity->databaseID : 0; }
    std::int64_t itemID() override {
        if (readOnly) {
            readOnly->delegate->eventDidFail(readOnly->reason);
        }
        return uniqueID;
    }

    std::optional<std::vector<std::uint8_t>> artworkData() override {
        if (!metadata.artUrl) {
            return std::nullopt;
        }
        return MprisArtwork::readLocalFile(*metadata.artUrl, KVMusicBridge::maxArtworkBytes);
    }

private:
    MprisMetadata metadata;
    std::optional<MprisIdentity> identity;
    std::int64_t uniqueID;
    std::optional<ReadOnly> readOnly;
};

} // namespace

// Each read is one Properties.Get on the chosen player, or a read of MPD; a failure goes to the
// delegate and reads as an empty value, as the bridge expects of its scripting port.
class MprisMusicApp::Scripting final : public MusicScripting {
public:
    Scripting(MprisMusicApp& app, MusicScriptingDelegate* delegate, int timeoutMs)
        : app(app), delegate(delegate), timeoutMs(timeoutMs) {}

    FourCharCode playerState() override {
        if (app.mpdChosen()) {
            return app.mpd->state();
        }
        const auto playback = read(QStringLiteral("PlaybackStatus"));
        return playback ? stateCode(*playback) : 0;
    }

    // Some players (browsers) do not tell the position: it reads as 0 and the rest stands.
    double playerPosition() override {
        if (app.mpdChosen()) {
            return app.mpd->positionSeconds();
        }
        const MprisBus::Reply microseconds = app.readPlayer(QStringLiteral("Position"), timeoutMs);
        return microseconds.status == status::noErr ? microseconds.value.toDouble() / 1e6 : 0;
    }

    std::shared_ptr<MusicScriptingTrack> currentTrack() override {
        if (app.mpdChosen()) {
            return mpdSong();
        }
        const auto value = read(QStringLiteral("Metadata"));
        auto metadata = value ? MprisMetadata::decode(*value) : std::nullopt;
        auto shared = metadata ? app.share(*metadata) : std::nullopt;
        auto identity = shared ? std::optional(shared->identity) : std::nullopt;
        const std::int64_t uniqueID = app.events.setCurrent(std::move(shared));
        if (!metadata) {
            return nullptr;
        }
        return std::make_shared<Track>(std::move(*metadata), std::move(identity), uniqueID);
    }

private:
    std::shared_ptr<MusicScriptingTrack> mpdSong() {
        OSStatus failure = status::noErr;
        auto song = app.mpd->currentSong(failure);
        if (failure != status::noErr) {
            delegate->eventDidFail(failure);
        }
        const std::int64_t uniqueID =
            app.events.setCurrent(song ? std::optional(song->shared) : std::nullopt);
        if (!song) {
            return nullptr;
        }
        const auto readOnly =
            song->readOnly ? std::optional(Track::ReadOnly{delegate, *song->readOnly}) : std::nullopt;
        return std::make_shared<Track>(std::move(song->metadata), song->shared.identity, uniqueID, readOnly);
    }

    std::optional<QVariant> read(const QString& property) {
        MprisBus::Reply reply = app.readPlayer(property, timeoutMs);
        if (reply.status != status::noErr) {
            delegate->eventDidFail(reply.status);
            return std::nullopt;
        }
        return std::move(reply.value);
    }

    MprisMusicApp& app;
    MusicScriptingDelegate* delegate;
    int timeoutMs;
};

MprisMusicApp::MprisMusicApp(std::optional<MpdAddress> mpdAddress)
    : connectionName(uniqueConnectionName()), roster(std::make_unique<MprisPlayerRoster>()) {
    if (mpdAddress) {
        mpd = std::make_unique<MpdPlayer>(std::move(*mpdAddress));
    }
}

MprisMusicApp::~MprisMusicApp() {
    disconnect();
}

MusicScriptingFactory MprisMusicApp::scriptingFactory() {
    return
        [this](std::string_view, const MusicScriptingSettings& settings) -> std::unique_ptr<MusicScripting> {
            return std::make_unique<Scripting>(*this, settings.delegate,
                                               MprisBus::milliseconds(settings.timeoutTicks));
        };
}

// MPD needs no bus: without one it is the only player there can be.
bool MprisMusicApp::hasRunningApplication(std::string_view) {
    player.reset();
    if ((directory || connect()) && !directory->refresh()) {
        disconnect(); // the bus is gone or stuck: a fresh connection on the next call
    }
    if (mpd) {
        mpd->poll(*roster);
    }
    player = roster->chosen();
    return player.has_value();
}

bool MprisMusicApp::mpdChosen() const {
    return mpd && player && player->name == MpdPlayer::name;
}

OSStatus MprisMusicApp::determinePermissionToAutomate(const AEDesc&, FourCharCode, FourCharCode, bool) {
    return status::noErr;
}

OSStatus MprisMusicApp::send(const AppleEvent& event, AEDesc& reply, std::int32_t, long) {
    reply = events.answer(event);
    return status::noErr;
}

bool MprisMusicApp::connect() {
    connection = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
    if (connection->isConnected()) {
        directory =
            MprisPlayerDirectory::open(*connection, MprisBus::milliseconds(kMusicTimeoutTicks), *roster);
    }
    if (!directory) {
        disconnect();
        return false;
    }
    return true;
}

// The players of the bus are forgotten with it; MPD is polled again at once.
void MprisMusicApp::disconnect() {
    directory.reset();
    roster = std::make_unique<MprisPlayerRoster>();
    favorites.reset();
    connection.reset();
    QDBusConnection::disconnectFromBus(connectionName);
}

MprisBus::Reply MprisMusicApp::readPlayer(const QString& property, int timeoutMs) const {
    if (!connection || !player) {
        return {status::procNotFound, {}};
    }
    return MprisBus::playerProperty(*connection, QString::fromStdString(player->name), property, timeoutMs);
}

// The chosen player's track with its channel when the player keeps favourites; read-only otherwise.
std::optional<SharedTrack> MprisMusicApp::share(const MprisMetadata& metadata) {
    const std::string name = MprisIdentity::playerOf(player->name);
    if (!favorites || favorites->first != player->owner) {
        favorites.emplace(player->owner, MprisFavorites::of(*connection, QString::fromStdString(player->name),
                                                            MprisBus::milliseconds(kMusicTimeoutTicks)));
    }
    const auto& channel = favorites->second;
    if (const auto key = channel ? channel->keyOf(metadata) : std::nullopt) {
        return SharedTrack{MprisIdentity::ofKey(name, *key), *key, channel->channel, std::nullopt};
    }
    const auto identity = MprisIdentity::of(name, metadata);
    if (!identity) {
        return std::nullopt;
    }
    const auto shown =
        metadata.userRating ? std::optional(isTopRating(*metadata.userRating, 1.0)) : std::nullopt;
    return SharedTrack{*identity, {}, nullptr, shown};
}

} // namespace kavrel
