#pragma once

#include "CompanionCore/model/Logger.hpp"
#include "CompanionCore/runtime/Cancellable.hpp"
#include "CompanionCore/storage/InstanceLock.hpp"
#include "Platform/QtWorkspace.hpp"
#include "Platform/SingleInstanceSignal.hpp"
#include "Platform/XdgLoginItem.hpp"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace kavrel {

class CompanionRuntime;
class SettingsWindow;
class TrayPresence;

// What the application asks of the desktop beyond its own windows. Each part left empty is the real one.
struct DesktopHooks {
    // Tells the user that the private directory cannot be trusted, with the informative text that
    // names it; returns once dismissed.
    std::function<void(const QString& details)> storageAlert;
    // Whether the desktop shows a tray now.
    std::function<bool()> trayProbe;
    // Ends the application's event loop; the model shuts down on the way out.
    std::function<void()> quit;
};

// The application: start-up, the tray item and its menu, the settings window and the about panel.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    // Without a logger, entries go to the systemd journal.
    explicit AppDelegate(DesktopHooks hooks = {}, std::unique_ptr<Logger> logger = {});
    ~AppDelegate() override;

    // The modal alert of a start-up that cannot use its private directory.
    static void showStorageAlert(const QString& details);

    // Start-up. False when the application must end at once (another instance runs, or the private
    // directory cannot be trusted); `exitCode` then says with what.
    bool applicationDidFinishLaunching(int& exitCode);
    // Stops music sharing and the connector; the application quits afterwards.
    void applicationWillTerminate();

    void showAbout();
    // `activationToken`: what a second launch handed over to let this window come forward.
    void showSettings(const QString& activationToken = {});
    void openKavrel();
    void openDownloads();
    void reconnect();
    void pauseConnector();
    // As the tray menu's Quit Kavrel: the application ends, stopping the connector on its way out.
    void quit();

    QMenu* menu() const { return trayMenu.get(); }
    SettingsWindow* settings() const { return window.get(); }

private:
    void buildMenu();

    DesktopHooks hooks;
    std::unique_ptr<Logger> logger;
    std::optional<InstanceLock> lock;
    std::unique_ptr<CompanionRuntime> runtime;
    std::unique_ptr<QMenu> trayMenu;
    std::unique_ptr<QSystemTrayIcon> statusItem;
    QAction* statusLine = nullptr;
    std::unique_ptr<TrayPresence> trayPresence;
    std::unique_ptr<SettingsWindow> window;
    std::unique_ptr<SingleInstanceSignal> showSettingsSignal;
    std::optional<XdgLoginItem> loginItem;
    QtWorkspace workspace;
    Cancellable messageSubscription;
};

} // namespace kavrel
