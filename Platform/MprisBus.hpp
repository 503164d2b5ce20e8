#pragma once

#include "MusicBridge/events/MusicTarget.hpp"

#include <QDBusConnection>
#include <QString>
#include <QVariant>

namespace kavrel {

// The MPRIS names and the blocking calls the music target makes, each bounded by a time-out and
// answering the event layer's status numbers: -1712 for a time-out, -600 for a player that is gone,
// -1728 for an object the player does not have, -1708 for any other error reply.
namespace MprisBus {

inline const QString namePrefix = QStringLiteral("org.mpris.MediaPlayer2.");
inline const QString objectPath = QStringLiteral("/org/mpris/MediaPlayer2");
inline const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
inline const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Ticks of 1/60 s, as the event layer counts time-outs.
int milliseconds(long ticks);

struct Reply {
    OSStatus status = status::noErr;
    QVariant value;
};

// One property of a player's Player interface; the value without its D-Bus variant wrapper.
Reply playerProperty(const QDBusConnection& connection, const QString& player, const QString& property,
                     int timeoutMs);

// Sets one property of a player's Player interface.
OSStatus setPlayerProperty(const QDBusConnection& connection, const QString& player, const QString& property,
                           const QVariant& value, int timeoutMs);

// A method call; its first return value (none is an error unless `noResult`).
Reply call(const QDBusConnection& connection, const QString& service, const QString& path,
           const QString& interface, const QString& method, const QVariantList& arguments, int timeoutMs,
           bool noResult = false);

// A call to the bus daemon; its first return value.
Reply busCall(const QDBusConnection& connection, const QString& method, const QVariantList& arguments,
              int timeoutMs);

} // namespace MprisBus
} // namespace kavrel
