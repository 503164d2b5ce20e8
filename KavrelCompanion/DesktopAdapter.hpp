#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace kavrel {

class TrayPresence;

// What the settings window shows about the computer it runs on: the texts that name a place, worded
// for this desktop, and whether a tray holds the companion once the window closes. Without a tray the
// window is the only way to quit, so it offers Quit as the tray menu does.
class DesktopAdapter final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantMap wording READ wording CONSTANT)
    Q_PROPERTY(bool trayAvailable READ trayAvailable NOTIFY trayAvailableChanged)
    Q_PROPERTY(QString closingText READ closingText NOTIFY trayAvailableChanged)

public:
    DesktopAdapter(TrayPresence& tray, std::function<void()> quit, QObject* parent = nullptr);

    QVariantMap wording() const { return texts; }
    bool trayAvailable() const;
    QString closingText() const;

    Q_INVOKABLE void quit() { quitAction(); }

Q_SIGNALS:
    void trayAvailableChanged();

private:
    TrayPresence& tray;
    std::function<void()> quitAction;
    QVariantMap texts;
};

} // namespace kavrel
