#pragma once

#include <QObject>
#include <QString>

namespace kavrel {

class LoginItem;

// The "Start at login" switch: it always ends up showing what the desktop will really do.
class LoginItemSwitch final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool enabled READ enabled NOTIFY changed)
    Q_PROPERTY(QString notice READ notice NOTIFY changed)

public:
    explicit LoginItemSwitch(LoginItem& item, QObject* parent = nullptr);

    bool enabled() const { return isEnabled; }
    QString notice() const { return noticeText; }

    Q_INVOKABLE void setEnabled(bool on);

Q_SIGNALS:
    void changed();

private:
    LoginItem& item;
    bool isEnabled;
    QString noticeText;
};

} // namespace kavrel
