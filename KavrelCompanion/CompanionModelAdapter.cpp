#include "KavrelCompanion/CompanionModelAdapter.hpp"

#include "KavrelCompanion/PublishedMirror.hpp"
#include "KavrelCompanion/ServiceLinks.hpp"

namespace kavrel {

CompanionModelAdapter::CompanionModelAdapter(CompanionModel& model, Workspace& workspace, QObject* parent)
    : QObject(parent), model(model), workspace(workspace) {
    mirrorText(model.bridgeOrigin(), origin, &CompanionModelAdapter::bridgeOriginChanged);
    mirrorText(model.roonHost(), host, &CompanionModelAdapter::roonHostChanged);
    mirrorText(model.pairingCode(), code, &CompanionModelAdapter::pairingCodeChanged);
    mirrorText(model.notice(), noticeText, &CompanionModelAdapter::noticeChanged);
    mirrorText(model.musicState(), musicLine, &CompanionModelAdapter::musicStateChanged);
    mirrorFlag(model.appleMusicEnabled(), musicEnabled, &CompanionModelAdapter::appleMusicEnabledChanged);
    mirrorFlag(model.roonEnabled(), roonSwitch, &CompanionModelAdapter::roonEnabledChanged);
    mirrorFlag(model.busy(), isBusy, &CompanionModelAdapter::busyChanged);
    subscriptions.push_back(
        mirror<RoonDiscoveryState>(model.roonDiscovery(), [this](RoonDiscoveryState state) {
            discovery = state;
            Q_EMIT roonDiscoveryChanged();
        }));
}

void CompanionModelAdapter::mirrorText(const Published<std::string>& source, QString& target,
                                       Signal changed) {
    subscriptions.push_back(mirror<std::string>(source, [this, &target, changed](const std::string& text) {
        target = QString::fromStdString(text);
        Q_EMIT(this->*changed)();
    }));
}

void CompanionModelAdapter::mirrorFlag(const Published<bool>& source, bool& target, Signal changed) {
    subscriptions.push_back(mirror<bool>(source, [this, &target, changed](bool value) {
        target = value;
        Q_EMIT(this->*changed)();
    }));
}

void CompanionModelAdapter::openKavrel() {
    ServiceLinks::openKavrel(model.bridgeOrigin().value(), workspace);
}

} // namespace kavrel
