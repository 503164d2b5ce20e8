#pragma once

#include "CompanionCore/model/CompanionModel.hpp"

#include <QObject>
#include <QString>

#include <vector>

namespace kavrel {

class Workspace;

// The companion model as the settings window binds to it. The three text fields write the model
// directly; everything else changes through the operations.
class CompanionModelAdapter final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString bridgeOrigin READ bridgeOrigin WRITE setBridgeOrigin NOTIFY bridgeOriginChanged)
    Q_PROPERTY(QString roonHost READ roonHost WRITE setRoonHost NOTIFY roonHostChanged)
    Q_PROPERTY(QString pairingCode READ pairingCode WRITE setPairingCode NOTIFY pairingCodeChanged)
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(bool appleMusicEnabled READ appleMusicEnabled NOTIFY appleMusicEnabledChanged)
    Q_PROPERTY(bool roonEnabled READ roonEnabled NOTIFY roonEnabledChanged)
    Q_PROPERTY(QString musicState READ musicState NOTIFY musicStateChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool roonSearching READ roonSearching NOTIFY roonDiscoveryChanged)
    Q_PROPERTY(QString roonDiscoveryMessage READ roonDiscoveryMessage NOTIFY roonDiscoveryChanged)

public:
    CompanionModelAdapter(CompanionModel& model, Workspace& workspace, QObject* parent = nullptr);

    QString bridgeOrigin() const { return origin; }
    QString roonHost() const { return host; }
    QString pairingCode() const { return code; }
    QString notice() const { return noticeText; }
    bool appleMusicEnabled() const { return musicEnabled; }
    bool roonEnabled() const { return roonSwitch; }
    QString musicState() const { return musicLine; }
    bool busy() const { return isBusy; }
    bool roonSearching() const { return discovery == RoonDiscoveryState::searching; }
    QString roonDiscoveryMessage() const { return QString::fromUtf8(message(discovery).data()); }

    void setBridgeOrigin(const QString& text) { model.bridgeOrigin().set(text.toStdString()); }
    void setRoonHost(const QString& text) { model.roonHost().set(text.toStdString()); }
    void setPairingCode(const QString& text) { model.pairingCode().set(text.toStdString()); }

    Q_INVOKABLE void connectToService() { model.connect(); }
    Q_INVOKABLE void pair(bool replace) { model.pair(replace); }
    Q_INVOKABLE void resetRoon() { model.resetRoon(); }
    Q_INVOKABLE void setRoonEnabled(bool enabled) { model.setRoonEnabled(enabled); }
    Q_INVOKABLE void findRoonServer() { model.findRoonServer(); }
    Q_INVOKABLE void setAppleMusicEnabled(bool enabled) { model.setAppleMusicEnabled(enabled); }
    Q_INVOKABLE void allowMusic() { model.allowMusic(); }
    Q_INVOKABLE void copyMusicDiagnostics() { model.copyMusicDiagnostics(); }
    Q_INVOKABLE void openKavrel();

Q_SIGNALS:
    void bridgeOriginChanged();
    void roonHostChanged();
    void pairingCodeChanged();
    void noticeChanged();
    void appleMusicEnabledChanged();
    void roonEnabledChanged();
    void musicStateChanged();
    void busyChanged();
    void roonDiscoveryChanged();

private:
    using Signal = void (CompanionModelAdapter::*)();
    void mirrorText(const Published<std::string>& source, QString& target, Signal changed);
    void mirrorFlag(const Published<bool>& source, bool& target, Signal changed);

    CompanionModel& model;
    Workspace& workspace;
    QString origin, host, code, noticeText, musicLine;
    bool musicEnabled = false, roonSwitch = false, isBusy = false;
    RoonDiscoveryState discovery = RoonDiscoveryState::idle;
    std::vector<Cancellable> subscriptions;
};

} // namespace kavrel
