// Start-up of the whole application on the offscreen platform, with its private directory and
// preferences in a scratch directory and no session bus (so no keychain and no other instance).

#include "KavrelCompanion/AppDelegate.hpp"
#include "KavrelCompanion/SettingsWindow.hpp"
#include "platform/EnvironmentOverride.hpp"
#include "platform/ScratchDirectory.hpp"
#include "support/ExpectedTexts.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QQuickWindow>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

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

// What each start shows: the first one the window, a later one only without a tray, where the window is the
// only way in. The menu, and its status line, are read through D-Bus by tray/TrayTests.cpp.
TEST_F(AppDelegateTest, StartsOnceWithTheAboutBoxAndTheSettingsWindow) {
    int exitCode = -1;
    for (const auto& [tray, shown] : {std::pair{true, true}, {true, false}, {false, true}}) {
        AppDelegate delegate({.storageAlert = {}, .trayProbe = [tray = tray] { return tray; }, .quit = {}});
        ASSERT_TRUE(delegate.applicationDidFinishLaunching(exitCode));
        EXPECT_EQ(delegate.settings() && delegate.settings()->window()->isVisible(), shown);
        // A second launch's token serves one activation and is not handed on to programs started later.
        delegate.showSettings("wayland-token-1");
        EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));

        // The about box shows the version, "Unknown" for a build without a number, and a link to the site.
        QString about;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                about = box->text();
                box->accept();
            }
        });
        delegate.showAbout();
        EXPECT_EQ(about.toStdString(), "<b>Kavrel Companion</b><br>0.1.0<br>Build Unknown<br><br><a "
                                       "href=\"https://kavrel.app\">kavrel.app</a>");

        // A second start while this one holds the lock ends at once (before it could open a window).
        AppDelegate second;
        EXPECT_FALSE(second.applicationDidFinishLaunching(exitCode));
        EXPECT_EQ(exitCode, 0);
        delegate.applicationWillTerminate();
    }
}

// Refused: an error in the log names the failed check and its path before the alert, and nothing on disk
// changes (no lock file, no connector state, no preferences).
TEST_F(AppDelegateTest, AnUntrustedPrivateDirectoryEndsInTheAlertWithNothingChanged) {
    namespace fs = std::filesystem;
    const fs::path data = scratch.path() / "data";
    const fs::path directory = data / "KavrelCompanion";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { fs::create_directories(directory), fs::permissions(directory, fs::perms(0755)); },
         "was refused: " + directory.string() + ": mode 0755, not 0700."},
        {[&] { fs::remove_all(data), std::ofstream{data}; },
         "cannot be opened: " + data.string() + ": Not a directory."},
    };
    const auto disk = [&] {
        return std::set<fs::path>(fs::recursive_directory_iterator(scratch.path()), {});
    };
    // The log, and the alert in its place among the entries.
    struct Log final : Logger {
        void log(Level level, std::string_view category, std::string_view message) override {
            lines.push_back((level == Level::error ? "error " : "") + std::string(category) + ": " +
                            std::string(message));
        }
        std::vector<std::string> lines;
    };
    for (const auto& [arrange, logged] : cases) {
        SCOPED_TRACE(logged);
        arrange();
        const auto before = disk();
        auto* log = new Log;
        const auto alert = [log](const QString& details) {
            log->lines.push_back("alert: " + details.toStdString());
        };
        AppDelegate delegate({.storageAlert = alert, .trayProbe = {}, .quit = {}},
                             std::unique_ptr<Logger>(log));
        int exitCode = -1;
        EXPECT_FALSE(delegate.applicationDidFinishLaunching(exitCode));
        EXPECT_EQ(exitCode, 1);
        EXPECT_EQ(log->lines,
                  (std::vector<std::string>{"error storage: The private directory " + logged,
                                            std::string("alert: ") + expected::privateDirectoryAccessHome}));
        EXPECT_EQ(disk(), before);
    }
}

} // namespace
} // namespace kavrel
