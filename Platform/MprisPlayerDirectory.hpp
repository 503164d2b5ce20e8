#pragma once

#include "Platform/MprisPlayerRoster.hpp"

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <optional>

namespace kavrel {

// Follows the MPRIS players of one bus connection through the bus's signals (names appearing and
// vanishing, announced playback states) instead of listing the bus again, and chooses the one to
// share. Used on one thread only, the one that opened it; that thread needs no Qt event loop, since
// refresh() takes in the signals that arrived since the last call.
class MprisPlayerDirectory {
public:
    // Subscribes, then lists the players already there; none when the bus does not answer.
    static std::unique_ptr<MprisPlayerDirectory> open(const QDBusConnection& connection, int timeoutMs);
    ~MprisPlayerDirectory();
    MprisPlayerDirectory(const MprisPlayerDirectory&) = delete;
    MprisPlayerDirectory& operator=(const MprisPlayerDirectory&) = delete;

    // Catches up with the bus and reads the state of players new since the last call; false when the
    // bus does not answer.
    bool refresh();
    // The bus name of the player to share, as of the last refresh.
    std::optional<QString> chosen() const;

private:
    class Receiver;

    MprisPlayerDirectory(const QDBusConnection& connection, int timeoutMs);
    bool subscribe();
    bool listPlayers();

    QDBusConnection connection;
    int timeoutMs;
    MprisPlayerRoster roster;
    std::unique_ptr<Receiver> receiver;
};

} // namespace kavrel
