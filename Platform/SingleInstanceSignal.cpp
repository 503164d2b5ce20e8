#include "Platform/SingleInstanceSignal.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>

#include <cstdlib>

namespace kavrel {

namespace {

// QtDBus delivers signals only to slots, hence this small QObject.
class ShowSettingsReceiver : public QObject {
    Q_OBJECT

public:
    explicit ShowSettingsReceiver(SingleInstanceSignal::Listener callback) : callback(std::move(callback)) {}

public Q_SLOTS:
    // Taking the whole message lets one slot hear the signal with and without its token.
    void showSettings(const QDBusMessage& message) {
        const auto arguments = message.arguments();
        callback(arguments.isEmpty() ? std::string() : arguments.first().toString().toStdString());
    }

private:
    SingleInstanceSignal::Listener callback;
};

} // namespace

std::string SingleInstanceSignal::launchActivationToken() {
    for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        if (const char* token = std::getenv(name); token && *token) {
            return token;
        }
    }
    return {};
}

bool SingleInstanceSignal::emitShowSettings(const std::string& activationToken) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    QDBusMessage signal = QDBusMessage::createSignal(objectPath, interfaceName, memberName);
    signal << QString::fromStdString(activationToken);
    if (!bus.send(signal)) {
        return false;
    }
    // send() only queues. The bus daemon handles a connection's messages in order, so its answer to
    // a later call proves that it has the signal.
    const QDBusMessage roundTrip = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId");
    return bus.call(roundTrip, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

SingleInstanceSignal::SingleInstanceSignal(Listener onShowSettings)
    : receiver(std::make_unique<ShowSettingsReceiver>(std::move(onShowSettings))) {
    subscribed = QDBusConnection::sessionBus().connect(QString(), objectPath, interfaceName, memberName,
                                                       receiver.get(), SLOT(showSettings(QDBusMessage)));
}

SingleInstanceSignal::~SingleInstanceSignal() {
    if (subscribed) {
        QDBusConnection::sessionBus().disconnect(QString(), objectPath, interfaceName, memberName,
                                                 receiver.get(), SLOT(showSettings(QDBusMessage)));
    }
}

} // namespace kavrel

#include "SingleInstanceSignal.moc"
