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
        return status::errAEEventNotHandled;
    }
}

Reply call(const QDBusConnection& connection, const QDBusMessage& message, int timeoutMs) {
    const QDBusMessage answer = connection.call(message, QDBus::Block, timeoutMs);
    if (answer.type() == QDBusMessage::ErrorMessage) {
        return {statusOf(QDBusError(answer)), {}};
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
    QDBusMessage get =
        QDBusMessage::createMethodCall(player, objectPath, propertiesInterface, QStringLiteral("Get"));
    get << playerInterface << property;
    Reply reply = call(connection, get, timeoutMs);
    if (reply.status == status::noErr) {
        if (reply.value.metaType() != QMetaType::fromType<QDBusVariant>()) {
            return {status::errAEEventNotHandled, {}};
        }
        reply.value = reply.value.value<QDBusVariant>().variant();
    }
    return reply;
}

Reply busCall(const QDBusConnection& connection, const QString& method, const QVariantList& arguments,
              int timeoutMs) {
    QDBusMessage message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                          QStringLiteral("/org/freedesktop/DBus"),
                                                          QStringLiteral("org.freedesktop.DBus"), method);
    message.setArguments(arguments);
    return call(connection, message, timeoutMs);
}

} // namespace kavrel::MprisBus
