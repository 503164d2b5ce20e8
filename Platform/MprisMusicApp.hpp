#pragma once

#include "MusicBridge/events/MusicScripting.hpp"
#include "MusicBridge/events/MusicTarget.hpp"
#include "Platform/MpdPlayer.hpp"
#include "Platform/MprisBus.hpp"
#include "Platform/MprisFavorites.hpp"
#include "Platform/MprisPlayerRoster.hpp"
#include "Platform/TrackEvents.hpp"

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <optional>
#include <utility>

namespace kavrel {

class MprisPlayerDirectory;

// The bridge's music app on Linux: an MPRIS player on the session bus or MPD through its own protocol
// (MpdPlayer), the one that is playing, else the one whose playback state changed last. It serves both bridge
// ports: this MusicTarget, and the scripting objects of scriptingFactory() for the plain reads (state,
// position, current track).
//
// MPRIS itself is read-only, so favourites go through each player's own channel (MprisFavorites):
// MPD's stickers included; the tracks of such players get a unique ID, and the events the bridge sends to
// capture, verify, read and write them are answered through that channel (TrackEvents). Tracks of other
// players are shared read-only, with the favourite they publish as xesam:userRating (its top counts).
//
// One instance per bridge, used only from that bridge's queue: it opens its own bus connection there
// on first use and never shares it. It must outlive the bridge, whose scripting object refers to it.
//
//     auto target = std::make_unique<MprisMusicApp>(MpdAddress::fromEnvironment().address);
//     auto bridge = std::make_unique<KVMusicBridge>(
//         KVMusicBridge::Ports{*target, target->scriptingFactory(), makeReference, encoder});
class MprisMusicApp final : public MusicTarget {
public:
    // MPD is looked for at `mpdAddress`; none: not at all. No default: a caller reading the environment
    // decides what to say when it names no usable address.
    explicit MprisMusicApp(std::optional<MpdAddress> mpdAddress);
    ~MprisMusicApp() override;
    MprisMusicApp(const MprisMusicApp&) = delete;
    MprisMusicApp& operator=(const MprisMusicApp&) = delete;

    MusicScriptingFactory scriptingFactory();

    // Whether there is a player to share (the bundle identifier is the bridge's and is not looked
    // at). Chooses the player that the reads until the next call address.
    bool hasRunningApplication(std::string_view bundleIdentifier) override;
    // Reading a player needs no permission: always 0.
    OSStatus determinePermissionToAutomate(const AEDesc& address, FourCharCode eventClass,
                                           FourCharCode eventID, bool askUserIfNeeded) override;
    // Answers events about the shared tracks; anything else as for an object that does not exist.
    OSStatus send(const AppleEvent& event, AEDesc& reply, std::int32_t sendMode, long timeoutTicks) override;

private:
    class Scripting;

    bool connect();
    void disconnect();
    bool mpdChosen() const;
    MprisBus::Reply readPlayer(const QString& property, int timeoutMs) const;
    std::optional<SharedTrack> share(const MprisMetadata& metadata);

    const QString connectionName;
    std::optional<QDBusConnection> connection;
    std::unique_ptr<MprisPlayerRoster> roster;
    std::unique_ptr<MprisPlayerDirectory> directory;
    // The chosen player's favourite channel, by the bus connection behind it: asked again for another.
    std::optional<std::pair<std::string, std::optional<MprisFavorites>>> favorites;
    std::unique_ptr<MpdPlayer> mpd;
    std::optional<MprisPlayerRoster::Choice> player;
    TrackEvents events;
};

} // namespace kavrel
