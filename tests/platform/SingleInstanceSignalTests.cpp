#include "Platform/SingleInstanceSignal.hpp"

#include "platform/EnvironmentOverride.hpp"
#include "platform/PrivateSessionBus.hpp"
#include "platform/QtLoopTest.hpp"

#include <gtest/gtest.h>

#include <QProcess>

#include <cstdlib>
#include <filesystem>
#include <set>

namespace kavrel {
namespace {

// Set for the copy of this binary that plays the second instance; "no-bus" when it is given none.
constexpr const char* emitterMarker = "KAVREL_EMIT_SHOW_SETTINGS";

// Wayland's token is the one a compositor asks for; an empty variable counts as none.
TEST(SingleInstanceSignalToken, IsWaylandsBeforeX11sAndEmptyWithoutEither) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"", "x11_TIME42", "x11_TIME42"}, {"wayland-8", "x11_TIME43", "wayland-8"}, {"", "", ""}};
    for (const auto& [wayland, x11, token] : cases) {
        const EnvironmentOverride waylandToken("XDG_ACTIVATION_TOKEN", wayland);
        const EnvironmentOverride x11Token("DESKTOP_STARTUP_ID", x11);
        EXPECT_EQ(SingleInstanceSignal::launchActivationToken(), token);
    }
}

using SingleInstanceSignalInside = QtLoopTest;

// Run again with the marker set, the test plays a second instance that sends, says whether it could, and
// exits at once.
TEST_F(SingleInstanceSignalInside, SecondInstancesAndOtherToolsAreHeard) {
    if (!PrivateSessionBus::inside()) {
        GTEST_SKIP()
            << "runs only inside the private bus that SingleInstanceSignal.OnAPrivateSessionBus starts";
    }
    if (const char* marker = std::getenv(emitterMarker)) {
        const bool busExpected = std::string_view(marker) != "no-bus";
        EXPECT_EQ(SingleInstanceSignal::emitShowSettings(SingleInstanceSignal::launchActivationToken()),
                  busExpected);
        EXPECT_EQ(SingleInstanceSignal([](const std::string&) {}).listening(), busExpected);
        return;
    }
    std::multiset<std::string> tokens;
    const SingleInstanceSignal listener([&](const std::string& token) { tokens.insert(token); });
    ASSERT_TRUE(listener.listening());
    // A second instance that exits right after sending its token, then the documented name sent without
    // a token by a tool that knows nothing of this code.
    const QString self = QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe").string());
    const QStringList emitter{"--gtest_filter=SingleInstanceSignalInside.*"};
    {
        const EnvironmentOverride token("XDG_ACTIVATION_TOKEN", "wayland-8");
        const EnvironmentOverride marker(emitterMarker, "bus");
        EXPECT_EQ(QProcess::execute(self, emitter), 0);
    }
    EXPECT_EQ(
        QProcess::execute("dbus-send", {"--session", "--type=signal", "/com/quartzfield/kavrel/Companion",
                                        "com.quartzfield.kavrel.showSettings"}),
        0);
    ASSERT_TRUE(runUntil([&] { return tokens.size() == 2; }));
    EXPECT_EQ(tokens, (std::multiset<std::string>{"", "wayland-8"})) << "the two may arrive in either order";

    // Without a bus, sending and listening say so.
    const EnvironmentOverride marker(emitterMarker, "no-bus");
    const EnvironmentOverride bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kavrel-bus");
    EXPECT_EQ(QProcess::execute(self, emitter), 0);
}

TEST(SingleInstanceSignal, OnAPrivateSessionBus) {
    if (PrivateSessionBus::inside()) {
        GTEST_SKIP() << "already inside";
    }
    if (!PrivateSessionBus::available()) {
        GTEST_SKIP() << "dbus-run-session is not installed (package dbus); the D-Bus signal test cannot run";
    }
    EXPECT_EQ(PrivateSessionBus::runTests("SingleInstanceSignalInside.*"), 0)
        << "the test inside the private session bus failed (output above)";
}

} // namespace
} // namespace kavrel
