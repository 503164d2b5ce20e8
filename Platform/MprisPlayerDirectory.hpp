#pragma once

#include "Platform/MprisPlayerRoster.hpp"

#include <QDBusConnection>
#include <QString>
#include <QThread>

#include <memory>

namespace kavrel {

// Follows the MPRIS players of one bus connection through the bus's signals (names appearing and
// vanishing, announced playback states) instead of listing the bus again, and feeds them to a roster.
// The signals are taken in as they come, on a thread of the directory's own, so nothing piles up
// however long no one reads; refresh() catches up with everything the bus sent before it.
class MprisPlayerDirectory {
public:
    // Subscribes, then lists the players already there; none when the bus does not answer. The
    // roster outlives the directory.
    static std::unique_ptr<MprisPlayerDirectory> open(const QDBusConnection& connection, int timeoutMs,
                                                      MprisPlayerRoster& roster);
    ~MprisPlayerDirectory();
    MprisPlayerDirectory(const MprisPlayerDirectory&) = delete;
    MprisPlayerDirectory& operator=(const MprisPlayerDirectory&) = delete;

    // Takes in the signals sent until now and reads the state of players new since the last call;
    // false when the bus does not answer.
    bool refresh();

private:
    class Receiver;

    MprisPlayerDirectory(const QDBusConnection& connection, int timeoutMs, MprisPlayerRoster& roster);
    bool subscribe();
    void unsubscribe();
    bool listPlayers();

    QDBusConnection connection;
    int timeoutMs;
    MprisPlayerRoster& roster;
    QThread thread;
    std::unique_ptr<Receiver> receiver;
};

} // namespace kavrel
