#include "KavrelCompanion/TrayPresence.hpp"

#include "CompanionCore/runtime/MainLoop.hpp"

#include <QSystemTrayIcon>

namespace kavrel {

TrayPresence::TrayPresence(MainLoop& loop, Probe probe, QObject* parent)
    : QObject(parent), loop(loop), probe(probe ? std::move(probe) : &QSystemTrayIcon::isSystemTrayAvailable),
      present(this->probe()) {}

void TrayPresence::follow(bool on) {
    polling.cancel();
    if (on) {
        refresh();
        polling = loop.every(interval, [this] { refresh(); });
    }
}

void TrayPresence::refresh() {
    const bool now = probe();
    if (now != present) {
        present = now;
        Q_EMIT availableChanged();
    }
}

} // namespace kavrel
