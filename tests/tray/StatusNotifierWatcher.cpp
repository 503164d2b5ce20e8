#include "tray/StatusNotifierWatcher.hpp"

#include <QDBusConnection>

namespace kavrel {

bool StatusNotifierWatcher::publish() {
    auto bus = QDBusConnection::sessionBus();
    return bus.registerObject("/StatusNotifierWatcher", this,
                              QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
           bus.registerService("org.kde.StatusNotifierWatcher");
}

void StatusNotifierWatcher::RegisterStatusNotifierItem(const QString& service) {
    registered << service;
}

} // namespace kavrel
