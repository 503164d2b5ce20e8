#include "Platform/SingleInstanceSignal.hpp"

#include "platform/PrivateSessionBus.hpp"
#include "platform/QtLoopTest.hpp"

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace kavrel {
namespace {

// Set for the copy of this binary that plays the second instance; "no-bus" when it is given none.
constexpr const char* emitterMarker = "KAVREL_EMIT_SHOW_SETTINGS";

// Runs a program to its end and answers its exit code.
int run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(30000)) << program.toStdString();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

using SingleInstanceSignalInside = QtLoopTest;
using SingleInstanceSignalEmitter = QtLoopTest;

TEST_F(SingleInstanceSignalEmitter, SendsOnceAndExitsAtOnce) {
    const char* marker = std::getenv(emitterMarker);
    if (marker == nullptr) {
        GTEST_SKIP() << "plays the second instance for SingleInstanceSignalInside";
    }
    const bool busExpected = std::string_view(marker) != "no-bus";
    EXPECT_EQ(SingleInstanceSignal::emitShowSettings(SingleInstanceSignal::launchActivationToken()),
              busExpected);
    if (!busExpected) {
        EXPECT_FALSE(SingleInstanceSignal([](const std::string&) {}).listening());
    }
}

TEST_F(SingleInstanceSignalInside, SecondInstancesHandOverTheirActivationToken) {
    if (!PrivateSessionBus::inside()) {
        GTEST_SKIP()
            << "runs only inside the private bus that SingleInstanceSignal.OnAPrivateSessionBus starts";
    }
    std::vector<std::string> tokens;
    const SingleInstanceSignal listener([&](const std::string& token) { tokens.push_back(token); });
    ASSERT_TRUE(listener.listening());

    // Second instances that exit right after sending, started by a Wayland compositor, an X11 launcher,
    // both (Wayland's token is the one a compositor asks for), or neither.
    const QString self = QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe").string());
    const QStringList emitter{"--gtest_filter=SingleInstanceSignalEmitter.*"};
    const std::vector<std::pair<QStringList, std::string>> launches{
        {{"XDG_ACTIVATION_TOKEN=wayland-7"}, "wayland-7"},
        {{"DESKTOP_STARTUP_ID=x11_TIME42"}, "x11_TIME42"},
        {{"XDG_ACTIVATION_TOKEN=wayland-8", "DESKTOP_STARTUP_ID=x11_TIME43"}, "wayland-8"},
        {{}, ""}};
    for (const auto& [variables, token] : launches) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString& variable :
             QStringList{"XDG_ACTIVATION_TOKEN=", "DESKTOP_STARTUP_ID=", QString(emitterMarker) + "=bus"} +
                 variables) {
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        }
        const std::size_t before = tokens.size();
        EXPECT_EQ(run(self, emitter, environment), 0);
        ASSERT_TRUE(runUntil([&] { return tokens.size() > before; }));
        EXPECT_EQ(tokens.back(), token);
    }

    // The documented name, sent without a token by a tool that knows nothing of this code.
    tokens.clear();
    const QStringList dbusSend{"--session", "--type=signal", "/com/quartzfield/kavrel/Companion",
                               "com.quartzfield.kavrel.showSettings"};
    EXPECT_EQ(run("dbus-send", dbusSend, QProcessEnvironment::systemEnvironment()), 0);
    ASSERT_TRUE(runUntil([&] { return !tokens.empty(); }));
    EXPECT_EQ(tokens, std::vector<std::string>{""});

    // Without a bus, sending and listening say so.
    QProcessEnvironment noBus = QProcessEnvironment::systemEnvironment();
    noBus.insert(emitterMarker, "no-bus");
    noBus.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kavrel-bus");
    EXPECT_EQ(run(self, emitter, noBus), 0);
}

TEST(SingleInstanceSignal, OnAPrivateSessionBus) {
    if (PrivateSessionBus::inside() || std::getenv(emitterMarker) != nullptr) {
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
