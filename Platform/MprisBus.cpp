#include "Platform/MprisBus.hpp"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>

namespace kavrel::MprisBus {
namespace {

OSStatus statusOf(const QDBusError& error) {
    switch (error.type()) {
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return status::errAETimeout;
    case QDBusError::ServiceUnknown:
    case QDBusError::Disconnected:
        return status::procNotFound;
    default:
        // Rhythmbox's answer for a URI that is not in its library.
        return error.name() == QStringLiteral("org.freedesktop.DBus.Error.FileNotFound")
                   ? status::errAENoSuchObject
                   : status::errAEEventNotHandled;
    }
}

Reply send(const QDBusConnection& connection, const QDBusMessage& message, int timeoutMs,
           bool noResult = false) {
    const QDBusMessage answer = connection.call(message, QDBus::Block, timeoutMs);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        return {statusOf(QDBusError(answer)), {}};
    }
    if (answer.type() == QDBusMessage::ReplyMessage && noResult) {
        return {};
    }
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty()) {
        return {status::errAEEventNotHandled, {}};
    }
    return {status::noErr, answer.arguments().constFirst()};
}

} // namespace

int milliseconds(long ticks) {
    return static_cast<int>(ticks * 1000 / 60);
}

Reply playerProperty(const QDBusConnection& connection, const QString& player, const QString& property,
                     int timeoutMs) {
    Reply reply = call(connection, player, objectPath, propertiesInterface, QStringLiteral("Get"),
                       {playerInterface, property}, timeoutMs);
    if (reply.status == status::noErr) {
        if (reply.value.metaType() != QMetaType::fromType<QDBusVariant>()) {
            return {status::errAEEventNotHandled, {}};
        }
        reply.value = reply.value.value<QDBusVariant>().variant();
    }
    return reply;
}

OSStatus setPlayerProperty(const QDBusConnection& connection, const QString& player, const QString& property,
                           const QVariant& value, int timeoutMs) {
    return call(connection, player, objectPath, propertiesInterface, QStringLiteral("Set"),
                {playerInterface, property, QVariant::fromValue(QDBusVariant(value))}, timeoutMs, true)
        .status;
}

Reply call(const QDBusConnection& connection, const QString& service, const QString& path,
           const QString& interface, const QString& method, const QVariantList& arguments, int timeoutMs,
           bool noResult) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return send(connection, message, timeoutMs, noResult);
}

Reply busCall(const QDBusConnection& connection, const QString& method, const QVariantList& arguments,
              int timeoutMs) {
    const QString bus = QStringLiteral("org.freedesktop.DBus");
    return call(connection, bus, QStringLiteral("/org/freedesktop/DBus"), bus, method, arguments, timeoutMs);
}

} // namespace kavrel::MprisBus
