#pragma once

#include "MusicBridge/events/MusicScripting.hpp"
#include "MusicBridge/events/MusicTarget.hpp"
#include "Platform/MprisBus.hpp"

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <optional>

namespace kavrel {

class MprisPlayerDirectory;

// The bridge's music app on Linux: an MPRIS player on the session bus, the one that is playing, else
// the one whose playback state changed last. It serves both bridge ports: this MusicTarget, and the
// scripting objects of scriptingFactory() for the plain reads (state, position, current track).
//
// MPRIS can neither write a favourite nor address a track again, so tracks are shared read-only:
// their item id is 0, which leaves the bridge nothing to capture, and every event answers as for an
// object that does not exist. The favourite reads as null and a favourite command finds no track.
//
// One instance per bridge, used only from that bridge's queue: it opens its own bus connection there
// on first use and never shares it. It must outlive the bridge, whose scripting object refers to it.
//
//     auto target = std::make_unique<MprisMusicApp>();
//     auto bridge = std::make_unique<KVMusicBridge>(
//         KVMusicBridge::Ports{*target, target->scriptingFactory(), makeReference, encoder});
class MprisMusicApp final : public MusicTarget {
public:
    MprisMusicApp();
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
    // Answers every event with "no such object" (-1728) in its reply.
    OSStatus send(const AppleEvent& event, AEDesc& reply, std::int32_t sendMode, long timeoutTicks) override;

private:
    class Scripting;

    bool connect();
    void disconnect();
    MprisBus::Reply readPlayer(const QString& property, int timeoutMs) const;

    const QString connectionName;
    std::optional<QDBusConnection> connection;
    std::unique_ptr<MprisPlayerDirectory> directory;
    std::optional<QString> player;
};

} // namespace kavrel
