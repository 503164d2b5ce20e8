#pragma once

#include <QObject>
#include <QStringList>

namespace kavrel {

// The smallest org.kde.StatusNotifierWatcher a panel would run: items register with it, and it says that a
// host is there. Qt reads IsStatusNotifierHostRegistered through an interface built from the introspection
// data, so the properties are exported (and introspected), not only answered.
class StatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    // Takes the watcher's name and object path on the session bus; false when either is taken.
    bool publish();

    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return registered; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString& service);

private:
    QStringList registered;
};

} // namespace kavrel
