#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QQmlApplicationEngine;
class QQuickWindow;

namespace kavrel {

class CompanionModel;
class CompanionModelAdapter;
class DesktopAdapter;
class HelperSupervisorAdapter;
class LoginItem;
class LoginItemSwitch;
class TrayPresence;
class Workspace;

// The settings window: created once, hidden when closed, brought forward by show().
class SettingsWindow final : public QObject {
    Q_OBJECT

public:
    // What the window reaches beyond the model.
    struct Desktop {
        LoginItem& loginItem;
        Workspace& workspace;
        TrayPresence& tray;
        std::function<void()> quit;
    };

    // Logical pixels; the height gives way to a smaller screen and the content scrolls.
    static constexpr int width = 560;
    static constexpr int preferredHeight = 620;

    SettingsWindow(CompanionModel& model, Desktop desktop, QObject* parent = nullptr);
    ~SettingsWindow() override;

    // `activationToken` is the one a launch handed over, if any: a Wayland compositor raises the window
    // only for a request that carries it.
    void show(const QString& activationToken = {});
    QQuickWindow* window() const { return root; }

private:
    void fitToScreen();

    std::unique_ptr<CompanionModelAdapter> modelAdapter;
    std::unique_ptr<HelperSupervisorAdapter> helperAdapter;
    std::unique_ptr<LoginItemSwitch> loginSwitch;
    std::unique_ptr<DesktopAdapter> desktopAdapter;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow* root = nullptr;
    bool placed = false;
};

} // namespace kavrel
