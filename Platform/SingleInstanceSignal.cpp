#include "Platform/SingleInstanceSignal.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>

namespace kavrel {

namespace {

// QtDBus delivers signals only to slots, hence this small QObject.
class ShowSettingsReceiver : public QObject {
    Q_OBJECT

public:
    explicit ShowSettingsReceiver(std::function<void()> callback) : callback(std::move(callback)) {}

public Q_SLOTS:
    void showSettings() { callback(); }

private:
    std::function<void()> callback;
};

} // namespace

bool SingleInstanceSignal::emitShowSettings() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    const QDBusMessage signal = QDBusMessage::createSignal(objectPath, interfaceName, memberName);
    if (!bus.send(signal)) {
        return false;
    }
    // send() only queues. The bus daemon handles a connection's messages in order, so its answer to
    // a later call proves that it has the signal.
    const QDBusMessage roundTrip = QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId");
    return bus.call(roundTrip, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

SingleInstanceSignal::SingleInstanceSignal(std::function<void()> onShowSettings)
    : receiver(std::make_unique<ShowSettingsReceiver>(std::move(onShowSettings))) {
    subscribed = QDBusConnection::sessionBus().connect(QString(), objectPath, interfaceName, memberName,
                                                       receiver.get(), SLOT(showSettings()));
}

SingleInstanceSignal::~SingleInstanceSignal() {
    if (subscribed) {
        QDBusConnection::sessionBus().disconnect(QString(), objectPath, interfaceName, memberName,
                                                 receiver.get(), SLOT(showSettings()));
    }
}

} // namespace kavrel

#include "SingleInstanceSignal.moc"
