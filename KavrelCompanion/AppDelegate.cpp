#include "KavrelCompanion/AppDelegate.hpp"

#include "CompanionCore/model/CompanionModel.hpp"
#include "CompanionCore/storage/PrivateStorage.hpp"
#include "CompanionCore/storage/StorageError.hpp"
#include "KavrelCompanion/CompanionRuntime.hpp"
#include "KavrelCompanion/ServiceLinks.hpp"
#include "KavrelCompanion/SettingsWindow.hpp"
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

QString orUnknown(const std::string& text) {
    return text == SystemInfo::unknown ? QStringLiteral("Unknown") : QString::fromStdString(text);
}

} // namespace

AppDelegate::AppDelegate(StorageAlert storageAlert, std::unique_ptr<Logger> logger)
    : storageAlert(std::move(storageAlert)),
      logger(logger ? std::move(logger) : std::make_unique<JournalLogger>()) {}

void AppDelegate::showStorageAlert() {
    QMessageBox alert(QMessageBox::Warning, applicationName, "Kavrel could not open its private settings.",
                      QMessageBox::Ok);
    alert.setInformativeText(
        "Check access to Application Support. The companion will not use an insecure state directory.");
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
            SingleInstanceSignal::emitShowSettings();
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
        storageAlert();
        exitCode = 1;
        return false;
    }

    runtime = std::make_unique<CompanionRuntime>(connectorPath(), directory, *logger);
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
    showSettingsSignal = std::make_unique<SingleInstanceSignal>([this] { showSettings(); });

    runtime->model().launch();

    auto& preferences = runtime->preferences();
    const auto opened = preferences.value("openedSettings");
    const bool openedBefore = opened && opened->boolean() == true;
    // Without a tray the window is the only way in, so it opens at every start.
    if (!openedBefore || !QSystemTrayIcon::isSystemTrayAvailable()) {
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
    trayMenu->addAction("Settings…", QKeySequence("Ctrl+,"), this, &AppDelegate::showSettings);
    trayMenu->addAction("Open Kavrel", this, &AppDelegate::openKavrel);
    trayMenu->addAction("Check for updates…", this, &AppDelegate::openDownloads);
    trayMenu->addAction("Reconnect", this, &AppDelegate::reconnect);
    trayMenu->addAction("Pause connector", this, &AppDelegate::pauseConnector);
    trayMenu->addSeparator();
    trayMenu->addAction("Quit Kavrel", QKeySequence("Ctrl+Q"), qApp, &QCoreApplication::quit);
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

void AppDelegate::showSettings() {
    if (!runtime) {
        return;
    }
    if (!window) {
        window = std::make_unique<SettingsWindow>(runtime->model(), *loginItem, workspace);
    }
    window->show();
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
