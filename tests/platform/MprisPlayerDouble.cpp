#include "platform/MprisPlayerDouble.hpp"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <atomic>

namespace kavrel {
namespace {

const QString objectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

std::atomic<int> doubles{0};

} // namespace

class MprisPlayerDouble::Object final : public QDBusVirtualObject {
public:
    explicit Object(std::shared_ptr<State> state) : state(std::move(state)) {}

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (message.interface() != propertiesInterface || (member != "Get" && member != "Set")) {
            return false; // QtDBus answers the rest with an error
        }
        std::lock_guard lock(state->mutex);
        if (state->answer == Answer::never) {
            return true; // never answered
        }
        const QVariantList arguments = message.arguments();
        const QString name = arguments.value(1).toString();
        if (arguments.value(0).toString() != playerInterface || state->answer == Answer::withAnError) {
            connection.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("player failure")));
        } else if (member == "Set" && name == "Rating" && state->properties.contains(name)) {
            state->properties.insert(name, arguments.value(2).value<QDBusVariant>().variant());
            connection.send(message.createReply());
        } else if (const QVariant value = state->properties.value(name); member == "Get" && value.isValid()) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        } else {
            connection.send(message.createErrorReply(QDBusError::NotSupported, QStringLiteral("not here")));
        }
        return true;
    }

    QString introspect(const QString&) const override {
        std::lock_guard lock(state->mutex);
        if (!state->properties.contains(QStringLiteral("Rating"))) {
            return {};
        }
        return "<interface name=\"" + playerInterface +
               "\"><property name=\"Rating\" type=\"d\" access=\"readwrite\"/></interface>";
    }

private:
    std::shared_ptr<State> state;
};

MprisPlayerDouble::MprisPlayerDouble(const QString& suffix, const QString& status,
                                     const QVariantMap& metadata)
    : name(QStringLiteral("org.mpris.MediaPlayer2.") + suffix),
      connectionName(QStringLiteral("mpris-player-double-%1").arg(++doubles)),
      state(std::make_shared<State>()),
      connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)),
      object(std::make_unique<Object>(state)) {
    state->properties = {{QStringLiteral("PlaybackStatus"), status},
                         {QStringLiteral("Metadata"), metadata},
                         {QStringLiteral("Position"), qint64(0)}};
    object->moveToThread(&thread);
    thread.start();
    connection.registerVirtualObject(objectPath, object.get(), QDBusConnection::SingleNode);
    registered = connection.registerService(name);
}

MprisPlayerDouble::~MprisPlayerDouble() {
    vanish();
    connection.unregisterObject(objectPath);
    thread.quit();
    thread.wait();
    object.reset();
    QDBusConnection::disconnectFromBus(connectionName);
}

void MprisPlayerDouble::set(const QString& property, const QVariant& value, bool announced) {
    {
        std::lock_guard lock(state->mutex);
        state->properties.insert(property, value);
    }
    if (announced) {
        announce(property, value);
    }
}

std::optional<double> MprisPlayerDouble::rating() const {
    std::lock_guard lock(state->mutex);
    const QVariant rating = state->properties.value(QStringLiteral("Rating"));
    return rating.isValid() ? std::optional(rating.toDouble()) : std::nullopt;
}

void MprisPlayerDouble::hide(const QString& property) {
    std::lock_guard lock(state->mutex);
    state->properties.remove(property);
}

// Flushed every hundred, so that they wait in the daemon and the receiver, not in this process.
void MprisPlayerDouble::flood(int count, const QVariantMap& metadata) {
    for (int sent = 1; sent <= count; ++sent) {
        announce(QStringLiteral("Metadata"), metadata, sent % 100 == 0 || sent == count);
    }
}

void MprisPlayerDouble::answer(Answer answer) {
    std::lock_guard lock(state->mutex);
    state->answer = answer;
}

void MprisPlayerDouble::vanish() {
    if (registered) {
        // Blocking: the daemon has announced the owner change when this returns.
        connection.unregisterService(name);
        registered = false;
    }
}

void MprisPlayerDouble::announce(const QString& property, const QVariant& value, bool flushed) {
    QDBusMessage signal =
        QDBusMessage::createSignal(objectPath, propertiesInterface, QStringLiteral("PropertiesChanged"));
    signal << playerInterface << QVariantMap{{property, value}} << QStringList();
    connection.send(signal);
    if (flushed) {
        // Messages of one connection reach the daemon in order: once it has answered this call, it
        // has passed the signal on.
        connection.call(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
    }
}

} // namespace kavrel
