// Start-up of the whole application on the offscreen platform, with its private directory and
// preferences in a scratch directory and no session bus (so no keychain and no other instance).

#include "KavrelCompanion/AppDelegate.hpp"
#include "KavrelCompanion/SettingsWindow.hpp"
#include "platform/EnvironmentOverride.hpp"
#include "platform/ScratchDirectory.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QQuickWindow>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace kavrel {
namespace {

class AppDelegateTest : public ::testing::Test {
protected:
    ScratchDirectory scratch;
    EnvironmentOverride data{"XDG_DATA_HOME", (scratch.path() / "data").string()};
    EnvironmentOverride config{"XDG_CONFIG_HOME", (scratch.path() / "config").string()};
    EnvironmentOverride bus{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (scratch.path() / "no-bus").string()};
};

TEST_F(AppDelegateTest, StartsWithItsMenuTheStatusLineAndTheFirstRunWindow) {
    AppDelegate delegate;
    int exitCode = -1;
    ASSERT_TRUE(delegate.applicationDidFinishLaunching(exitCode));

    const auto actions = delegate.menu()->actions();
    ASSERT_EQ(actions.size(), 10);
    QStringList titles;
    for (const auto* action : actions) {
        titles << (action->isSeparator() ? QStringLiteral("—") : action->text());
    }
    EXPECT_EQ(titles.mid(1),
              (QStringList{"—", "About Kavrel Companion…", "Settings…", "Open Kavrel", "Check for updates…",
                           "Reconnect", "Pause connector", "—", "Quit Kavrel"}));
    // No keychain without a session bus: the status line shows what the supervisor says about it,
    // once the key lookup (off the main thread) has answered.
    for (int round = 0; round < 1000 && actions[0]->text() == "Starting companion…"; ++round) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(actions[0]->text(),
              "Keychain or private storage is unavailable. Unlock your Mac and reconnect.");
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_EQ(actions[3]->shortcut(), QKeySequence("Ctrl+,"));
    EXPECT_EQ(actions[9]->shortcut(), QKeySequence("Ctrl+Q"));

    ASSERT_NE(delegate.settings(), nullptr);
    EXPECT_TRUE(delegate.settings()->window()->isVisible());
    std::stringstream stored;
    stored << std::ifstream(scratch.path() / "config" / "KavrelCompanion" / "preferences.json").rdbuf();
    EXPECT_NE(stored.str().find("\"openedSettings\":true"), std::string::npos);

    // A second start while this one holds the lock ends at once, without a window.
    AppDelegate second;
    EXPECT_FALSE(second.applicationDidFinishLaunching(exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(second.settings(), nullptr);
    EXPECT_EQ(second.menu(), nullptr);

    delegate.applicationWillTerminate();
}

TEST_F(AppDelegateTest, AnUntrustedPrivateDirectoryEndsInTheAlertWithNothingChanged) {
    const auto directory = scratch.path() / "data" / "KavrelCompanion";
    std::filesystem::create_directories(directory);
    std::filesystem::permissions(directory, std::filesystem::perms(0755));
    int alerts = 0;
    AppDelegate delegate([&] { ++alerts; });
    int exitCode = -1;
    EXPECT_FALSE(delegate.applicationDidFinishLaunching(exitCode));
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(alerts, 1);
    EXPECT_EQ(delegate.menu(), nullptr);
    EXPECT_EQ(std::filesystem::status(directory).permissions(), std::filesystem::perms(0755));
    EXPECT_TRUE(std::filesystem::is_empty(directory)); // no lock file, no connector state
    EXPECT_FALSE(std::filesystem::exists(scratch.path() / "config" / "KavrelCompanion"));
}

} // namespace
} // namespace kavrel
