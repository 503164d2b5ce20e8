#include "KavrelCompanion/AppDelegate.hpp"

#include "CompanionCore/model/CompanionModel.hpp"
#include "CompanionCore/runtime/PlaceWording.hpp"
#include "CompanionCore/storage/PrivateStorage.hpp"
#include "CompanionCore/storage/StorageError.hpp"
#include "KavrelCompanion/CompanionRuntime.hpp"
#include "KavrelCompanion/ServiceLinks.hpp"
#include "KavrelCompanion/SettingsWindow.hpp"
#include "KavrelCompanion/TrayPresence.hpp"
#include "Platform/JournalLogger.hpp"
#include "Platform/SystemInfo.hpp"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QUrl>

#include <filesystem>

namespace kavrel {

namespace {

constexpr const char* applicationName = "Kavrel Companion";
constexpr const char* storageLogCategory = "storage";

// The connector is installed beside the application: <prefix>/libexec/kavrel-companion/kavrel-roon
// for <prefix>/bin/kavrel-companion, in the build tree as in an installation.
std::filesystem::path connectorPath() {
    const std::filesystem::path binary = QCoreApplication::applicationDirPath().toStdString();
    return binary.parent_path() / "libexec" / "kavrel-companion" / "kavrel-roon";
}

// Names the private directory the user should look at; its usual place when even the home directory
// cannot be found.
QString privateDirectoryAccess() {
    std::string text;
    try {
        text = PlaceWording::privateDirectoryAccess(PrivateStorage::dataHome() / PrivateStorage::folderName,
                                                    PrivateStorage::homeDirectory());
    } catch (const std::exception&) {
        text = PlaceWording::privateDirectoryAccess(
            std::filesystem::path("~/.local/share") / PrivateStorage::folderName, {});
    }
    return QString::fromStdString(text);
}

QString orUnknown(const std::string& text) {
    return text == SystemInfo::unknown ? QStringLiteral("Unknown") : QString::fromStdString(text);
}

} // namespace

AppDelegate::AppDelegate(DesktopHooks desktop, std::unique_ptr<Logger> logger)
    : hooks(std::move(desktop)), logger(logger ? std::move(logger) : std::make_unique<JournalLogger>()) {
    if (!hooks.storageAlert) {
        hooks.storageAlert = showStorageAlert;
    }
    if (!hooks.quit) {
        hooks.quit = &QCoreApplication::quit;
    }
}

void AppDelegate::showStorageAlert(const QString& details) {
    QMessageBox alert(QMessageBox::Warning, applicationName, "Kavrel could not open its private settings.",
                      QMessageBox::Ok);
    alert.setInformativeText(details);
    alert.exec();
}

AppDelegate::~AppDelegate() {
    messageSubscription.cancel();
}

bool AppDelegate::applicationDidFinishLaunching(int& exitCode) {
    std::filesystem::path directory;
    try {
        directory = PrivateStorage::directory();
        lock.emplace(directory);
    } catch (const StorageError& error) {
        if (error.code() == StorageError::Code::alreadyRunning) {
            // The running companion brings its window forward; this one leaves without a word.
            SingleInstanceSignal::emitShowSettings(SingleInstanceSignal::launchActivationToken());
            exitCode = 0;
            return false;
        }
        lock.reset();
        logger->error(storageLogCategory, "The private directory was refused: " + error.detail() + ".");
    } catch (const std::exception& error) {
        lock.reset();
        logger->error(storageLogCategory,
                      std::string("The private directory cannot be opened: ") + error.what() + ".");
    }
    if (!lock) {
        hooks.storageAlert(privateDirectoryAccess());
        exitCode = 1;
        return false;
    }

    runtime = std::make_unique<CompanionRuntime>(connectorPath(), directory, *logger);
    trayPresence = std::make_unique<TrayPresence>(runtime->mainLoop(), hooks.trayProbe);
    loginItem.emplace(QCoreApplication::applicationFilePath().toStdString());

    buildMenu();
    statusItem = std::make_unique<QSystemTrayIcon>(QIcon(":/kavrel-companion.svg"));
    statusItem->setToolTip(applicationName);
    statusItem->setContextMenu(trayMenu.get());
    connect(statusItem.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    showSettings();
                }
            });
    statusItem->show();

    messageSubscription = runtime->model().helper().message().observe(
        [this](const std::string& text) { statusLine->setText(QString::fromStdString(text)); });
    showSettingsSignal = std::make_unique<SingleInstanceSignal>(
        [this](const std::string& token) { showSettings(QString::fromStdString(token)); });

    runtime->model().launch();

    auto& preferences = runtime->preferences();
    const auto opened = preferences.value("openedSettings");
    const bool openedBefore = opened && opened->boolean() == true;
    // Without a tray the window is the only way in, so it opens at every start.
    if (!openedBefore || !trayPresence->available()) {
        showSettings();
    }
    if (!openedBefore) {
        preferences.set("openedSettings", true);
    }
    return true;
}

void AppDelegate::buildMenu() {
    trayMenu = std::make_unique<QMenu>();
    statusLine = trayMenu->addAction(QString::fromStdString(runtime->model().helper().message().value()));
    statusLine->setEnabled(false);
    trayMenu->addSeparator();
    trayMenu->addAction("About Kavrel Companion…", this, &AppDelegate::showAbout);
    trayMenu->addAction("Settings…", QKeySequence("Ctrl+,"), this, [this] { showSettings(); });
    trayMenu->addAction("Open Kavrel", this, &AppDelegate::openKavrel);
    trayMenu->addAction("Check for updates…", this, &AppDelegate::openDownloads);
    trayMenu->addAction("Reconnect", this, &AppDelegate::reconnect);
    trayMenu->addAction("Pause connector", this, &AppDelegate::pauseConnector);
    trayMenu->addSeparator();
    trayMenu->addAction("Quit Kavrel", QKeySequence("Ctrl+Q"), this, &AppDelegate::quit);
}

void AppDelegate::applicationWillTerminate() {
    if (runtime) {
        runtime->model().shutdown();
    }
}

void AppDelegate::showAbout() {
    const BuildInfo build = SystemInfo::buildInfo();
    const QString origin = QString::fromUtf8(CompanionModel::defaultOrigin.data(),
                                             static_cast<qsizetype>(CompanionModel::defaultOrigin.size()));
    const QString host = QUrl(origin).host();
    QMessageBox about;
    about.setWindowTitle("About Kavrel Companion");
    about.setIconPixmap(QIcon(":/kavrel-companion.svg").pixmap(64, 64));
    about.setTextFormat(Qt::RichText);
    about.setText(QStringLiteral("<b>%1</b><br>%2<br>Build %3<br><br><a href=\"%4\">%5</a>")
                      .arg(applicationName, orUnknown(build.shortVersion).toHtmlEscaped(),
                           orUnknown(build.build).toHtmlEscaped(), origin, host));
    about.setTextInteractionFlags(Qt::TextBrowserInteraction);
    about.exec();
}

void AppDelegate::showSettings(const QString& activationToken) {
    if (!runtime) {
        return;
    }
    // Built on first use: a usual start, which opens no window, never loads the view.
    if (!window) {
        window = std::make_unique<SettingsWindow>(
            runtime->model(), SettingsWindow::Desktop{*loginItem, workspace, *trayPresence, hooks.quit});
    }
    window->show(activationToken);
}

void AppDelegate::quit() {
    hooks.quit();
}

void AppDelegate::openKavrel() {
    if (runtime) {
        ServiceLinks::openKavrel(runtime->model().bridgeOrigin().value(), workspace);
    }
}

void AppDelegate::openDownloads() {
    ServiceLinks::openDownloads(workspace);
}

void AppDelegate::reconnect() {
    if (runtime) {
        runtime->model().helper().reconnect();
    }
}

void AppDelegate::pauseConnector() {
    if (runtime) {
        runtime->model().stop();
    }
}

} // namespace kavrel
