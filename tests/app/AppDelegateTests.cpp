// Start-up of the whole application on the offscreen platform, with its private directory and
// preferences in a scratch directory and no session bus (so no keychain and no other instance).

#include "KavrelCompanion/AppDelegate.hpp"
#include "KavrelCompanion/SettingsWindow.hpp"
#include "platform/EnvironmentOverride.hpp"
#include "platform/ScratchDirectory.hpp"
#include "support/ExpectedTexts.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QQuickWindow>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

namespace kavrel {
namespace {

class AppDelegateTest : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    EnvironmentOverride home{"HOME", scratch.path().string()};
    EnvironmentOverride data{"XDG_DATA_HOME", (scratch.path() / "data").string()};
    EnvironmentOverride config{"XDG_CONFIG_HOME", (scratch.path() / "config").string()};
    EnvironmentOverride bus{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (scratch.path() / "no-bus").string()};
};

TEST_F(AppDelegateTest, StartsWithItsMenuTheStatusLineAndTheFirstRunWindow) {
    AppDelegate delegate({.storageAlert = {}, .trayProbe = [] { return true; }, .quit = {}});
    int exitCode = -1;
    ASSERT_TRUE(delegate.applicationDidFinishLaunching(exitCode));

    const auto actions = delegate.menu()->actions();
    ASSERT_EQ(actions.size(), 10);
    QStringList titles;
    for (const auto* action : actions) {
        titles << (action->isSeparator() ? QStringLiteral("—") : action->text());
    }
    EXPECT_EQ(titles.mid(1),
              (QStringList{"—", expected::menuAbout, expected::menuSettings, expected::menuOpenKavrel,
                           expected::menuCheckForUpdates, expected::menuReconnect,
                           expected::menuPauseConnector, "—", expected::quit}));
    // No keyring without a session bus: the status line shows what the supervisor says about it, once
    // the key lookup (off the main thread) has answered.
    for (int round = 0; round < 1000 && actions[0]->text() == expected::helperStarting; ++round) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(actions[0]->text(), expected::helperKeychain);
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_EQ(actions[3]->shortcut(), QKeySequence("Ctrl+,"));
    EXPECT_EQ(actions[9]->shortcut(), QKeySequence("Ctrl+Q"));

    ASSERT_NE(delegate.settings(), nullptr);
    EXPECT_TRUE(delegate.settings()->window()->isVisible());
    // A second launch's token serves one activation and is not handed on to programs started later.
    delegate.showSettings("wayland-token-1");
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    std::stringstream stored;
    stored << std::ifstream(scratch.path() / "config" / "KavrelCompanion" / "preferences.json").rdbuf();
    EXPECT_NE(stored.str().find("\"openedSettings\":true"), std::string::npos);

    // The about box shows the version, and "Unknown" for a build without a number.
    QString about;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        about = box ? box->text() : QString();
        if (box) {
            box->accept();
        }
    });
    delegate.showAbout();
    EXPECT_TRUE(about.contains("<b>Kavrel Companion</b><br>0.1.0<br>Build Unknown<br>"))
        << about.toStdString();

    // A second start while this one holds the lock ends at once, without a window.
    AppDelegate second;
    EXPECT_FALSE(second.applicationDidFinishLaunching(exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(second.settings(), nullptr);
    EXPECT_EQ(second.menu(), nullptr);

    delegate.applicationWillTerminate();
}

// Without a tray the window is the only way in and out: it opens at every start and quits as the
// menu does.
TEST_F(AppDelegateTest, WithoutATrayEveryStartOpensTheWindowWithItsQuitButton) {
    for (int start = 0; start < 2; ++start) {
        int quits = 0;
        AppDelegate delegate({.storageAlert = {},
                              .trayProbe = [] { return false; },
                              .quit =
                                  [&] {
                                      ++quits;
                                  }});
        int exitCode = -1;
        ASSERT_TRUE(delegate.applicationDidFinishLaunching(exitCode));
        ASSERT_NE(delegate.settings(), nullptr) << "start " << start;
        QQuickWindow* window = delegate.settings()->window();
        EXPECT_TRUE(window->isVisible());
        auto* quitButton = window->findChild<QObject*>("quitKavrel");
        ASSERT_NE(quitButton, nullptr);
        EXPECT_TRUE(quitButton->property("visible").toBool());

        QMetaObject::invokeMethod(quitButton, "clicked");
        delegate.menu()->actions().back()->trigger();
        EXPECT_EQ(quits, 2);
        delegate.applicationWillTerminate();
    }
}

// Refused: an error in the log names the failed check and its path before the alert, and nothing on disk
// changes (no lock file, no connector state, no preferences).
TEST_F(AppDelegateTest, AnUntrustedPrivateDirectoryEndsInTheAlertWithNothingChanged) {
    namespace fs = std::filesystem;
    const fs::path data = scratch.path() / "data";
    const fs::path directory = data / "KavrelCompanion";
    const fs::path lockFile = directory / "app.lock";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { fs::create_directories(directory), fs::permissions(directory, fs::perms(0755)); },
         directory.string() + ": mode 0755, not 0700"},
        {[&] {
             fs::permissions(directory, fs::perms(0700)), std::ofstream{lockFile},
                 fs::permissions(lockFile, fs::perms(0644));
         },
         lockFile.string() + ": mode 0644, not 0600"},
        {[&] { fs::remove_all(data), std::ofstream{data}; }, data.string()},
    };
    const auto disk = [&] {
        std::map<std::string, fs::perms> tree;
        for (const auto& entry : fs::recursive_directory_iterator(scratch.path())) {
            tree[entry.path().string()] = entry.status().permissions();
        }
        return tree;
    };
    for (const auto& [arrange, logged] : cases) {
        SCOPED_TRACE(logged);
        arrange();
        const auto before = disk();
        struct Log final : Logger {
            void log(Level level, std::string_view category, std::string_view message) override {
                entries.emplace_back(level, std::string(category) + ": " + std::string(message));
            }
            std::vector<std::pair<Level, std::string>> entries;
        }* log = new Log;
        QStringList alerts;
        std::size_t loggedAtAlert = 0;
        AppDelegate delegate(
            {.storageAlert =
                 [&](const QString& details) { alerts << details, loggedAtAlert = log->entries.size(); },
             .trayProbe = {},
             .quit = {}},
            std::unique_ptr<Logger>(log));
        int exitCode = -1;
        EXPECT_FALSE(delegate.applicationDidFinishLaunching(exitCode));
        EXPECT_EQ(exitCode, 1);
        EXPECT_EQ(alerts, QStringList{expected::privateDirectoryAccessHome});
        EXPECT_EQ(delegate.menu(), nullptr);
        ASSERT_EQ(log->entries.size(), 1U);
        EXPECT_EQ(loggedAtAlert, 1U);
        EXPECT_EQ(log->entries[0].first, Logger::Level::error);
        EXPECT_TRUE(log->entries[0].second.starts_with("storage: ") &&
                    log->entries[0].second.find(logged) != std::string::npos)
            << log->entries[0].second;
        EXPECT_EQ(disk(), before);
    }
}

} // namespace
} // namespace kavrel
