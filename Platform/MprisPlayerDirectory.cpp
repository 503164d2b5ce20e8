#include "Platform/MprisPlayerDirectory.hpp"

#include "Platform/MprisBus.hpp"

#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace kavrel {

// The slots the bus's signals are delivered to, on the directory's thread.
class MprisPlayerDirectory::Receiver final : public QObject {
    Q_OBJECT

public:
    explicit Receiver(MprisPlayerRoster& roster) : roster(roster) {}

public slots:
    void nameOwnerChanged(const QString& name, const QString&, const QString& newOwner) {
        if (!name.startsWith(MprisBus::namePrefix)) {
            return;
        }
        if (newOwner.isEmpty()) {
            roster.vanished(name.toStdString());
        } else {
            roster.appeared(name.toStdString(), newOwner.toStdString());
        }
    }

    void propertiesChanged(const QString&, const QVariantMap& changed, const QStringList&,
                           const QDBusMessage& message) {
        const QVariant status = changed.value(QStringLiteral("PlaybackStatus"));
        if (status.metaType() == QMetaType::fromType<QString>()) {
            roster.statusChanged(message.service().toStdString(), status.toString().toStdString());
        }
    }

private:
    MprisPlayerRoster& roster;
};

MprisPlayerDirectory::MprisPlayerDirectory(const QDBusConnection& connection, int timeoutMs,
                                           MprisPlayerRoster& roster)
    : connection(connection), timeoutMs(timeoutMs), roster(roster),
      receiver(std::make_unique<Receiver>(roster)) {
    receiver->moveToThread(&thread);
    thread.start();
}

MprisPlayerDirectory::~MprisPlayerDirectory() {
    unsubscribe();
    thread.quit();
    thread.wait();
}

std::unique_ptr<MprisPlayerDirectory> MprisPlayerDirectory::open(const QDBusConnection& connection,
                                                                 int timeoutMs, MprisPlayerRoster& roster) {
    std::unique_ptr<MprisPlayerDirectory> directory(new MprisPlayerDirectory(connection, timeoutMs, roster));
    if (!directory->subscribe() || !directory->listPlayers()) {
        return nullptr;
    }
    return directory;
}

// Before the listing, so that no change between the two is missed.
namespace {

const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");
const char* const ownerSlot = SLOT(nameOwnerChanged(QString, QString, QString));
const char* const propertiesSlot = SLOT(propertiesChanged(QString, QVariantMap, QStringList, QDBusMessage));

} // namespace

bool MprisPlayerDirectory::subscribe() {
    return connection.connect(busService, busPath, busService, QStringLiteral("NameOwnerChanged"),
                              receiver.get(), ownerSlot) &&
           connection.connect(QString(), MprisBus::objectPath, MprisBus::propertiesInterface,
                              QStringLiteral("PropertiesChanged"), QStringList{MprisBus::playerInterface},
                              QString(), receiver.get(), propertiesSlot);
}

void MprisPlayerDirectory::unsubscribe() {
    connection.disconnect(busService, busPath, busService, QStringLiteral("NameOwnerChanged"), receiver.get(),
                          ownerSlot);
    connection.disconnect(QString(), MprisBus::objectPath, MprisBus::propertiesInterface,
                          QStringLiteral("PropertiesChanged"), QStringList{MprisBus::playerInterface},
                          QString(), receiver.get(), propertiesSlot);
}

bool MprisPlayerDirectory::listPlayers() {
    const MprisBus::Reply names = MprisBus::busCall(connection, QStringLiteral("ListNames"), {}, timeoutMs);
    if (names.status != status::noErr) {
        return false;
    }
    for (const QString& name : names.value.toStringList()) {
        if (!name.startsWith(MprisBus::namePrefix)) {
            continue;
        }
        const MprisBus::Reply owner =
            MprisBus::busCall(connection, QStringLiteral("GetNameOwner"), {name}, timeoutMs);
        if (owner.status == status::noErr) { // else it left meanwhile
            roster.appeared(name.toStdString(), owner.value.toString().toStdString());
        }
    }
    return true;
}

bool MprisPlayerDirectory::refresh() {
    // The daemon answers after everything it sent us before, so the signals it emitted until now are
    // posted to the receiver by the time the answer is in; a call queued behind them runs after them.
    if (MprisBus::busCall(connection, QStringLiteral("GetId"), {}, timeoutMs).status != status::noErr) {
        return false;
    }
    QMetaObject::invokeMethod(
        receiver.get(), [] {}, Qt::BlockingQueuedConnection);
    for (const std::string& name : roster.unread()) {
        const MprisBus::Reply answer = MprisBus::playerProperty(connection, QString::fromStdString(name),
                                                                QStringLiteral("PlaybackStatus"), timeoutMs);
        const std::string text = answer.value.toString().toStdString();
        roster.statusRead(name, answer.status == status::noErr ? std::optional<std::string_view>(text)
                                                               : std::nullopt);
    }
    return true;
}

} // namespace kavrel

#include "MprisPlayerDirectory.moc"
