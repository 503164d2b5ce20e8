#include "Platform/SingleInstanceSignal.hpp"

#include "platform/PrivateSessionBus.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

namespace kavrel {
namespace {

using namespace std::chrono_literals;

// Set for the copy of this binary that plays the second instance; "no-bus" when it is given none.
constexpr const char* emitterMarker = "KAVREL_EMIT_SHOW_SETTINGS";

class QtApplicationTest : public ::testing::Test {
protected:
    // Runs the event loop until the condition holds; the limit only keeps a broken test from hanging.
    static bool processEventsUntil(const std::function<bool()>& condition) {
        const QDeadlineTimer limit(30s);
        while (!condition() && !limit.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        return condition();
    }

    // Runs a program to its end and answers its exit code.
    static int run(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(30000)) << program.toStdString();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    int argc = 1;
    char name[16] = "CompanionTests";
    char* argv[2] = {name, nullptr};
    QCoreApplication application{argc, argv};
};

using SingleInstanceSignalInside = QtApplicationTest;
using SingleInstanceSignalEmitter = QtApplicationTest;

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

TEST_F(SingleInstanceSignalInside, SecondInstancesHandTheirTokenToEveryListener) {
    if (!PrivateSessionBus::inside()) {
        GTEST_SKIP()
            << "runs only inside the private bus that SingleInstanceSignal.OnAPrivateSessionBus starts";
    }
    std::vector<std::string> first;
    std::vector<std::string> second;
    const SingleInstanceSignal listener([&](const std::string& token) { first.push_back(token); });
    auto other =
        std::make_unique<SingleInstanceSignal>([&](const std::string& token) { second.push_back(token); });
    ASSERT_TRUE(listener.listening());

    // Second instances that exit right after sending, started by a Wayland compositor, an X11 launcher,
    // both, or neither. Wayland's token is the one a compositor asks for.
    const QString self = QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe").string());
    const QStringList emitter{"--gtest_filter=SingleInstanceSignalEmitter.*"};
    struct Launch {
        const char* wayland;
        const char* x11;
        std::string expected;
    };
    for (const Launch& launch :
         {Launch{"wayland-7", nullptr, "wayland-7"}, Launch{nullptr, "x11_TIME42", "x11_TIME42"},
          Launch{"wayland-8", "x11_TIME43", "wayland-8"}, Launch{nullptr, nullptr, ""}}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(emitterMarker, "bus");
        environment.remove("XDG_ACTIVATION_TOKEN");
        environment.remove("DESKTOP_STARTUP_ID");
        if (launch.wayland) {
            environment.insert("XDG_ACTIVATION_TOKEN", launch.wayland);
        }
        if (launch.x11) {
            environment.insert("DESKTOP_STARTUP_ID", launch.x11);
        }
        const std::size_t before = first.size();
        EXPECT_EQ(run(self, emitter, environment), 0);
        ASSERT_TRUE(
            processEventsUntil([&] { return first.size() == before + 1 && second.size() == before + 1; }));
        EXPECT_EQ(first.back(), launch.expected);
        EXPECT_EQ(second.back(), launch.expected);
    }

    // Other members and interfaces go unnoticed, and so does everything after a listener is gone. The
    // bus keeps one sender's messages in order, so the last signal arriving proves the rest did not.
    other.reset();
    QDBusConnection bus = QDBusConnection::sessionBus();
    EXPECT_TRUE(bus.send(QDBusMessage::createSignal(SingleInstanceSignal::objectPath,
                                                    SingleInstanceSignal::interfaceName, "hideSettings")));
    EXPECT_TRUE(bus.send(QDBusMessage::createSignal(SingleInstanceSignal::objectPath, "com.quartzfield.other",
                                                    SingleInstanceSignal::memberName)));
    // The documented name, sent without a token by a tool that knows nothing of this code.
    EXPECT_EQ(run("dbus-send",
                  {"--session", "--type=signal", "/com/quartzfield/kavrel/Companion",
                   "com.quartzfield.kavrel.showSettings"},
                  QProcessEnvironment::systemEnvironment()),
              0);
    ASSERT_TRUE(processEventsUntil([&] { return first.size() == 5; }));
    EXPECT_EQ(first.back(), "");
    EXPECT_EQ(second.size(), 4u);

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
