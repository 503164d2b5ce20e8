#include "KavrelCompanion/SettingsWindow.hpp"

#include "CompanionCore/model/CompanionModel.hpp"
#include "KavrelCompanion/CompanionModelAdapter.hpp"
#include "KavrelCompanion/HelperSupervisorAdapter.hpp"
#include "KavrelCompanion/LoginItemSwitch.hpp"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QScreen>

#include <stdexcept>

namespace kavrel {

SettingsWindow::SettingsWindow(CompanionModel& model, LoginItem& loginItem, Workspace& workspace,
                               QObject* parent)
    : QObject(parent), modelAdapter(std::make_unique<CompanionModelAdapter>(model, workspace)),
      helperAdapter(std::make_unique<HelperSupervisorAdapter>(model.helper())),
      loginSwitch(std::make_unique<LoginItemSwitch>(loginItem)),
      engine(std::make_unique<QQmlApplicationEngine>()) {
    engine->rootContext()->setContextProperty("model", modelAdapter.get());
    engine->rootContext()->setContextProperty("helper", helperAdapter.get());
    engine->rootContext()->setContextProperty("login", loginSwitch.get());
    engine->load(QUrl("qrc:/SettingsView.qml"));
    const auto roots = engine->rootObjects();
    root = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.first());
    if (!root) {
        throw std::runtime_error("the settings view could not be loaded");
    }
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::show() {
    if (!root->isVisible() && !placed) {
        // Centred on its first showing; afterwards it comes back where the user left it.
        if (const QScreen* screen = root->screen()) {
            root->setPosition(screen->availableGeometry().center() -
                              QPoint(root->width() / 2, root->height() / 2));
        }
        placed = true;
    }
    root->show();
    root->raise();
    root->requestActivate();
}

} // namespace kavrel
