#pragma once

#include "Platform/MprisBus.hpp"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

#include <mutex>

namespace kavrel {

// A scriptable MPRIS player on the session bus. It has a connection of its own and answers the
// Player interface's properties on a thread of its own, so a caller blocked on a reply does not block
// the player. Every change it announces is through the bus daemon before the call returns.
class MprisPlayerDouble {
public:
    // Whether calls are answered, answered with an error, or left to wait for their time-out.
    enum class Answer { normally, withAnError, never };

    // Takes the bus name org.mpris.MediaPlayer2.<suffix> once its state is set.
    MprisPlayerDouble(const QString& suffix, const QString& status, const QVariantMap& metadata = {})
        : name(MprisBus::namePrefix + suffix),
          connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)) {
        object.properties = {{"PlaybackStatus", status}, {"Metadata", metadata}, {"Position", qint64(0)}};
        object.moveToThread(&thread);
        thread.start();
        connection.registerVirtualObject(MprisBus::objectPath, &object, QDBusConnection::SingleNode);
        connection.registerService(name);
    }
    ~MprisPlayerDouble() {
        vanish();
        connection.unregisterObject(MprisBus::objectPath);
        thread.quit();
        thread.wait();
        QDBusConnection::disconnectFromBus(name);
    }

    // Sets a property of the Player interface; PlaybackStatus and Metadata changes are announced, as a
    // real player does. An invalid value is answered with NotSupported, as browsers do for Position. A
    // Rating may be set by callers too: introspection declares it readwrite.
    void set(const QString& property, const QVariant& value) {
        std::unique_lock lock(object.mutex);
        object.properties.insert(property, value);
        lock.unlock();
        if (property == "PlaybackStatus" || property == "Metadata") {
            announce(property, value);
        }
    }
    QVariant property(const QString& property) const {
        std::lock_guard lock(object.mutex);
        return object.properties.value(property);
    }
    void answer(Answer answer) {
        std::lock_guard lock(object.mutex);
        object.answer = answer;
    }
    // Announces `count` metadata changes as fast as the bus takes them, flushed every hundred, so that
    // they wait in the daemon and the receiver, not in this process.
    void flood(int count, const QVariantMap& metadata) {
        for (int sent = 1; sent <= count; ++sent) {
            announce("Metadata", metadata, sent % 100 == 0 || sent == count);
        }
    }
    // Gives up the bus name, as a quitting player does. Blocking: the daemon has announced the owner
    // change when this returns.
    void vanish() { connection.unregisterService(name); }

private:
    struct Object final : QDBusVirtualObject {
        bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
            const QString member = message.member();
            if (message.interface() != MprisBus::propertiesInterface ||
                (member != "Get" && member != "Set")) {
                return false; // QtDBus answers the rest with an error
            }
            std::lock_guard lock(mutex);
            if (answer == Answer::never) {
                return true; // never answered
            }
            const QVariantList arguments = message.arguments();
            const QString name = arguments.value(1).toString();
            if (arguments.value(0).toString() != MprisBus::playerInterface || answer == Answer::withAnError) {
                connection.send(message.createErrorReply(QDBusError::Failed, "player failure"));
            } else if (member == "Set" && name == "Rating" && properties.contains(name)) {
                properties.insert(name, arguments.value(2).value<QDBusVariant>().variant());
                connection.send(message.createReply());
            } else if (const QVariant value = properties.value(name); member == "Get" && value.isValid()) {
                connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
            } else {
                connection.send(message.createErrorReply(QDBusError::NotSupported, "not here"));
            }
            return true;
        }

        QString introspect(const QString&) const override {
            std::lock_guard lock(mutex);
            if (!properties.contains("Rating")) {
                return {};
            }
            return "<interface name=\"" + MprisBus::playerInterface +
                   "\"><property name=\"Rating\" type=\"d\" access=\"readwrite\"/></interface>";
        }

        mutable std::mutex mutex;
        QVariantMap properties;
        Answer answer = Answer::normally;
    };

    void announce(const QString& property, const QVariant& value, bool flushed = true) {
        QDBusMessage signal = QDBusMessage::createSignal(MprisBus::objectPath, MprisBus::propertiesInterface,
                                                         "PropertiesChanged");
        signal << MprisBus::playerInterface << QVariantMap{{property, value}} << QStringList();
        connection.send(signal);
        if (flushed) {
            // Messages of one connection reach the daemon in order: once it has answered this call, it
            // has passed the signal on.
            connection.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                           "org.freedesktop.DBus", "GetId"));
        }
    }

    const QString name;
    QDBusConnection connection;
    Object object;
    QThread thread;
};

} // namespace kavrel
