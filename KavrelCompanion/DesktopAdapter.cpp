#include "KavrelCompanion/DesktopAdapter.hpp"

#include "CompanionCore/runtime/PlaceWording.hpp"
#include "KavrelCompanion/TrayPresence.hpp"

namespace kavrel {

namespace {

QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace

DesktopAdapter::DesktopAdapter(TrayPresence& tray, std::function<void()> quit, QObject* parent)
    : QObject(parent), tray(tray),
      quitAction(std::move(quit)), texts{{"pairingHelp", text(PlaceWording::pairingHelp)},
                                         {"musicGroup", text(PlaceWording::musicGroup)},
                                         {"musicSwitch", text(PlaceWording::musicSwitch)},
                                         {"musicExplanation", text(PlaceWording::musicExplanation)},
                                         {"musicPairingHint", text(PlaceWording::musicPairingHint)},
                                         {"computerGroup", text(PlaceWording::computerGroup)},
                                         {"platformLine", text(PlaceWording::platformLine)}} {
    connect(&tray, &TrayPresence::availableChanged, this, &DesktopAdapter::trayAvailableChanged);
}

bool DesktopAdapter::trayAvailable() const {
    return tray.available();
}

QString DesktopAdapter::closingText() const {
    return text(tray.available() ? PlaceWording::closingWithTray : PlaceWording::closingWithoutTray);
}

} // namespace kavrel
