#include "Platform/MprisPlayerDirectory.hpp"

#include "Platform/MprisBus.hpp"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace kavrel {

// The slots the bus's signals are delivered to. They arrive as events posted to this object's thread
// and run when refresh() sends them.
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

MprisPlayerDirectory::MprisPlayerDirectory(const QDBusConnection& connection, int timeoutMs)
    : connection(connection), timeoutMs(timeoutMs), receiver(std::make_unique<Receiver>(roster)) {}

MprisPlayerDirectory::~MprisPlayerDirectory() = default;

std::unique_ptr<MprisPlayerDirectory> MprisPlayerDirectory::open(const QDBusConnection& connection,
                                                                 int timeoutMs) {
    std::unique_ptr<MprisPlayerDirectory> directory(new MprisPlayerDirectory(connection, timeoutMs));
    if (!directory->subscribe() || !directory->listPlayers()) {
        return nullptr;
    }
    return directory;
}

// Before the listing, so that no change between the two is missed.
bool MprisPlayerDirectory::subscribe() {
    const QString bus = QStringLiteral("org.freedesktop.DBus");
    return connection.connect(bus, QStringLiteral("/org/freedesktop/DBus"), bus,
                              QStringLiteral("NameOwnerChanged"), receiver.get(),
                              SLOT(nameOwnerChanged(QString, QString, QString))) &&
           connection.connect(QString(), MprisBus::objectPath, MprisBus::propertiesInterface,
                              QStringLiteral("PropertiesChanged"), QStringList{MprisBus::playerInterface},
                              QString(), receiver.get(),
                              SLOT(propertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
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
    // posted to the receiver by the time the answer is in.
    if (MprisBus::busCall(connection, QStringLiteral("GetId"), {}, timeoutMs).status != status::noErr) {
        return false;
    }
    QCoreApplication::sendPostedEvents(receiver.get());
    for (const std::string& name : roster.unread()) {
        const MprisBus::Reply answer = MprisBus::playerProperty(connection, QString::fromStdString(name),
                                                                QStringLiteral("PlaybackStatus"), timeoutMs);
        const std::string text = answer.value.toString().toStdString();
        roster.statusRead(name, answer.status == status::noErr ? std::optional<std::string_view>(text)
                                                               : std::nullopt);
    }
    return true;
}

std::optional<QString> MprisPlayerDirectory::chosen() const {
    const auto name = roster.chosen();
    if (!name) {
        return std::nullopt;
    }
    return QString::fromStdString(*name);
}

} // namespace kavrel

#include "MprisPlayerDirectory.moc"
