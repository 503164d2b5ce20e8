#pragma once

#include <QObject>

#include <memory>

class QQmlApplicationEngine;
class QQuickWindow;

namespace kavrel {

class CompanionModel;
class CompanionModelAdapter;
class HelperSupervisorAdapter;
class LoginItem;
class LoginItemSwitch;
class Workspace;

// The settings window: created once, hidden when closed, brought forward by show().
class SettingsWindow final : public QObject {
    Q_OBJECT

public:
    SettingsWindow(CompanionModel& model, LoginItem& loginItem, Workspace& workspace,
                   QObject* parent = nullptr);
    ~SettingsWindow() override;

    void show();
    QQuickWindow* window() const { return root; }

private:
    std::unique_ptr<CompanionModelAdapter> modelAdapter;
    std::unique_ptr<HelperSupervisorAdapter> helperAdapter;
    std::unique_ptr<LoginItemSwitch> loginSwitch;
    std::unique_ptr<QQmlApplicationEngine> engine;
    QQuickWindow* root = nullptr;
    bool placed = false;
};

} // namespace kavrel
