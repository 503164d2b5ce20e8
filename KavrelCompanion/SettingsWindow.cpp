#include "KavrelCompanion/SettingsWindow.hpp"

#include "CompanionCore/model/CompanionModel.hpp"
#include "KavrelCompanion/CompanionModelAdapter.hpp"
#include "KavrelCompanion/DesktopAdapter.hpp"
#include "KavrelCompanion/HelperSupervisorAdapter.hpp"
#include "KavrelCompanion/LoginItemSwitch.hpp"
#include "KavrelCompanion/TrayPresence.hpp"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QScreen>

#include <algorithm>
#include <stdexcept>

namespace kavrel {

SettingsWindow::SettingsWindow(CompanionModel& model, Desktop desktop, QObject* parent)
    : QObject(parent), modelAdapter(std::make_unique<CompanionModelAdapter>(model, desktop.workspace)),
      helperAdapter(std::make_unique<HelperSupervisorAdapter>(model.helper())),
      loginSwitch(std::make_unique<LoginItemSwitch>(desktop.loginItem)),
      desktopAdapter(std::make_unique<DesktopAdapter>(desktop.tray, std::move(desktop.quit))),
      engine(std::make_unique<QQmlApplicationEngine>()) {
    engine->rootContext()->setContextProperty("model", modelAdapter.get());
    engine->rootContext()->setContextProperty("helper", helperAdapter.get());
    engine->rootContext()->setContextProperty("login", loginSwitch.get());
    engine->rootContext()->setContextProperty("desktop", desktopAdapter.get());
    engine->load(QUrl("qrc:/KavrelCompanion/SettingsView.qml"));
    const auto roots = engine->rootObjects();
    root = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.first());
    if (!root) {
        throw std::runtime_error("the settings view could not be loaded");
    }
    // The tray is asked about only while the window can show the answer.
    connect(root, &QWindow::visibleChanged, &desktop.tray,
            [&tray = desktop.tray](bool visible) { tray.follow(visible); });
    connect(root, &QWindow::screenChanged, this, [this](QScreen* screen) {
        if (screen) {
            connect(screen, &QScreen::availableGeometryChanged, this, &SettingsWindow::fitToScreen,
                    Qt::UniqueConnection);
        }
        fitToScreen();
    });
    if (root->screen()) {
        connect(root->screen(), &QScreen::availableGeometryChanged, this, &SettingsWindow::fitToScreen);
    }
    fitToScreen();
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::fitToScreen() {
    const QScreen* screen = root->screen();
    const int height =
        screen ? std::min(preferredHeight, screen->availableGeometry().height()) : preferredHeight;
    root->setMinimumSize(QSize(width, height));
    root->setMaximumSize(QSize(width, height));
    root->resize(width, height);
}

void SettingsWindow::show(const QString& activationToken) {
    if (!root->isVisible() && !placed) {
        // Centred on its first showing; afterwards it comes back where the user left it.
        if (const QScreen* screen = root->screen()) {
            root->setPosition(screen->availableGeometry().center() -
                              QPoint(root->width() / 2, root->height() / 2));
        }
        placed = true;
    }
    // Qt's Wayland client hands this variable to the compositor when it maps or activates a window. A
    // token is good for one activation, so it must not reach the programs started later.
    if (!activationToken.isEmpty()) {
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    }
    root->show();
    root->raise();
    root->requestActivate();
    if (!activationToken.isEmpty()) {
        qunsetenv("XDG_ACTIVATION_TOKEN");
    }
}

} // namespace kavrel
