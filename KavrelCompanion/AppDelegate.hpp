#pragma once

#include "CompanionCore/model/Logger.hpp"
#include "CompanionCore/runtime/Cancellable.hpp"
#include "CompanionCore/storage/InstanceLock.hpp"
#include "Platform/QtWorkspace.hpp"
#include "Platform/SingleInstanceSignal.hpp"
#include "Platform/XdgLoginItem.hpp"

#include <QObject>

#include <functional>

#include <memory>
#include <optional>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace kavrel {

class CompanionRuntime;
class SettingsWindow;

// The application: start-up, the tray item and its menu, the settings window and the about panel.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    // Tells the user that the private directory cannot be trusted; returns once dismissed.
    using StorageAlert = std::function<void()>;

    // Without a logger, entries go to the systemd journal.
    explicit AppDelegate(StorageAlert storageAlert = showStorageAlert, std::unique_ptr<Logger> logger = {});
    ~AppDelegate() override;

    // The modal alert of a start-up that cannot use its private directory.
    static void showStorageAlert();

    // Start-up. False when the application must end at once (another instance runs, or the private
    // directory cannot be trusted); `exitCode` then says with what.
    bool applicationDidFinishLaunching(int& exitCode);
    // Stops music sharing and the connector; the application quits afterwards.
    void applicationWillTerminate();

    void showAbout();
    void showSettings();
    void openKavrel();
    void openDownloads();
    void reconnect();
    void pauseConnector();

    QMenu* menu() const { return trayMenu.get(); }
    SettingsWindow* settings() const { return window.get(); }

private:
    void buildMenu();

    StorageAlert storageAlert;
    std::unique_ptr<Logger> logger;
    std::optional<InstanceLock> lock;
    std::unique_ptr<CompanionRuntime> runtime;
    std::unique_ptr<QMenu> trayMenu;
    std::unique_ptr<QSystemTrayIcon> statusItem;
    QAction* statusLine = nullptr;
    std::unique_ptr<SettingsWindow> window;
    std::unique_ptr<SingleInstanceSignal> showSettingsSignal;
    std::optional<XdgLoginItem> loginItem;
    QtWorkspace workspace;
    Cancellable messageSubscription;
};

} // namespace kavrel
