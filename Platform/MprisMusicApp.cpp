#include "Platform/MprisMusicApp.hpp"

#include "MusicBridge/KVMusicBridge.hpp"
#include "Platform/MprisArtwork.hpp"
#include "Platform/MprisIdentity.hpp"
#include "Platform/MprisMetadata.hpp"
#include "Platform/MprisPlayerDirectory.hpp"

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

// The current track as read once: MPRIS offers no way to ask about a track again.
class Track final : public MusicScriptingTrack {
public:
    Track(MprisMetadata metadata, std::optional<MprisIdentity> identity)
        : metadata(std::move(metadata)), identity(std::move(identity)) {}

    std::string name() override { return metadata.title; }
    std::string artist() override { return metadata.artist; }
    std::optional<std::string> album() override { return metadata.album; }
    double duration() override { return metadata.lengthSeconds; }
    std::string persistentID() override { return identity ? identity->persistentID : std::string(); }
    std::int64_t databaseID() override { return identity ? identity->databaseID : 0; }
    std::int64_t itemID() override { return 0; }

    std::optional<std::vector<std::uint8_t>> artworkData() override {
        if (!metadata.artUrl) {
            return std::nullopt;
        }
        return MprisArtwork::readLocalFile(*metadata.artUrl, KVMusicBridge::maxArtworkBytes);
    }

private:
    MprisMetadata metadata;
    std::optional<MprisIdentity> identity;
};

} // namespace

// Each read is one Properties.Get on the chosen player; a failure goes to the delegate and reads as
// an empty value, as the bridge expects of its scripting port.
class MprisMusicApp::Scripting final : public MusicScripting {
public:
    Scripting(const MprisMusicApp& app, MusicScriptingDelegate* delegate, int timeoutMs)
        : app(app), delegate(delegate), timeoutMs(timeoutMs) {}

    FourCharCode playerState() override {
        const auto playback = read(QStringLiteral("PlaybackStatus"));
        return playback ? stateCode(*playback) : 0;
    }

    double playerPosition() override {
        const auto microseconds = read(QStringLiteral("Position"));
        return microseconds ? microseconds->toDouble() / 1e6 : 0;
    }

    std::shared_ptr<MusicScriptingTrack> currentTrack() override {
        const auto value = read(QStringLiteral("Metadata"));
        auto metadata = value ? MprisMetadata::decode(*value) : std::nullopt;
        if (!metadata) {
            return nullptr;
        }
        auto identity = MprisIdentity::of(MprisIdentity::playerOf(app.player->toStdString()), *metadata);
        return std::make_shared<Track>(std::move(*metadata), std::move(identity));
    }

private:
    std::optional<QVariant> read(const QString& property) {
        MprisBus::Reply reply = app.readPlayer(property, timeoutMs);
        if (reply.status != status::noErr) {
            delegate->eventDidFail(reply.status);
            return std::nullopt;
        }
        return std::move(reply.value);
    }

    const MprisMusicApp& app;
    MusicScriptingDelegate* delegate;
    int timeoutMs;
};

MprisMusicApp::MprisMusicApp() : connectionName(uniqueConnectionName()) {}

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

bool MprisMusicApp::hasRunningApplication(std::string_view) {
    player.reset();
    if (!directory && !connect()) {
        return false;
    }
    if (!directory->refresh()) {
        disconnect(); // the bus is gone or stuck: a fresh connection on the next call
        return false;
    }
    player = directory->chosen();
    return player.has_value();
}

OSStatus MprisMusicApp::determinePermissionToAutomate(const AEDesc&, FourCharCode, FourCharCode, bool) {
    return status::noErr;
}

OSStatus MprisMusicApp::send(const AppleEvent&, AEDesc& reply, std::int32_t, long) {
    reply = AEDesc::makeRecord(ae::typeAppleEvent);
    reply.putParam(ae::keyErrorNumber, AEDesc::makeLong(status::errAENoSuchObject));
    return status::noErr;
}

bool MprisMusicApp::connect() {
    connection = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
    if (connection->isConnected()) {
        directory = MprisPlayerDirectory::open(*connection, MprisBus::milliseconds(kMusicTimeoutTicks));
    }
    if (!directory) {
        disconnect();
        return false;
    }
    return true;
}

void MprisMusicApp::disconnect() {
    directory.reset();
    connection.reset();
    QDBusConnection::disconnectFromBus(connectionName);
}

MprisBus::Reply MprisMusicApp::readPlayer(const QString& property, int timeoutMs) const {
    if (!connection || !player) {
        return {status::procNotFound, {}};
    }
    return MprisBus::playerProperty(*connection, *player, property, timeoutMs);
}

} // namespace kavrel
