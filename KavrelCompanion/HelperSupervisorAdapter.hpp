#pragma once

#include "CompanionCore/supervisor/HelperSupervisor.hpp"

#include <QObject>
#include <QString>

#include <vector>

namespace kavrel {

// The connector's state as the settings window shows it: its message, readiness and the lines
// derived from its status object. Lives on the main thread, as the supervisor does.
class HelperSupervisorAdapter final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool ready READ ready NOTIFY readyChanged)
    Q_PROPERTY(QString pairedLine READ pairedLine NOTIFY statusChanged)
    Q_PROPERTY(QString cloudMessage READ cloudMessage NOTIFY statusChanged)
    Q_PROPERTY(bool termsPending READ termsPending NOTIFY statusChanged)
    Q_PROPERTY(QString runningLine READ runningLine NOTIFY statusChanged)
    Q_PROPERTY(QString scrobblingMessage READ scrobblingMessage NOTIFY statusChanged)

public:
    explicit HelperSupervisorAdapter(HelperSupervisor& helper, QObject* parent = nullptr);

    QString message() const { return messageText; }
    bool ready() const { return isReady; }
    // Empty when the status has no Boolean of that kind: the window then shows no line.
    QString pairedLine() const { return paired; }
    QString cloudMessage() const { return cloud; }
    // The service waits for the user to accept new terms: "Check connection" is offered.
    bool termsPending() const { return terms; }
    QString runningLine() const { return running; }
    QString scrobblingMessage() const { return scrobbling; }

    Q_INVOKABLE void reconnect();
    // Asks the connector to retry the cloud, then for its status whatever the answer.
    Q_INVOKABLE void checkConnection();

Q_SIGNALS:
    void messageChanged();
    void readyChanged();
    void statusChanged();

private:
    void readStatus(const JSONObject& status);

    HelperSupervisor& helper;
    QString messageText;
    bool isReady = false;
    QString paired, cloud, running, scrobbling;
    bool terms = false;
    std::vector<Cancellable> subscriptions;
};

} // namespace kavrel
