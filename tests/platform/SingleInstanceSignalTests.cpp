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

// Set for the copy of this binary that plays the second instance.
constexpr const char* emitterMarker = "KAVREL_EMIT_SHOW_SETTINGS";
// Set, with it, when that copy is given no reachable bus.
constexpr const char* noBusMarker = "KAVREL_EXPECT_NO_SESSION_BUS";

class QtApplicationTest : public ::testing::Test {
protected:
    // Runs the event loop until the condition holds; the limit only keeps a broken test from hanging.
    bool processEventsUntil(const std::function<bool()>& condition) {
        const QDeadlineTimer limit(30s);
        while (!condition()) {
            if (limit.hasExpired()) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        }
        return true;
    }

    // Runs a program to its end and answers its exit code.
    int run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
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
    if (std::getenv(emitterMarker) == nullptr) {
        GTEST_SKIP() << "plays the second instance for SingleInstanceSignalInside";
    }
    const bool busExpected = std::getenv(noBusMarker) == nullptr;
    EXPECT_EQ(SingleInstanceSignal::emitShowSettings(), busExpected);
    if (!busExpected) {
        EXPECT_FALSE(SingleInstanceSignal([] {}).listening());
    }
}

TEST_F(SingleInstanceSignalInside, SecondInstancesReachEveryListenerAndNothingElseDoes) {
    if (!PrivateSessionBus::inside()) {
        GTEST_SKIP()
            << "runs only inside the private bus that SingleInstanceSignal.OnAPrivateSessionBus starts";
    }
    int first = 0;
    int second = 0;
    const SingleInstanceSignal listener([&] { ++first; });
    auto other = std::make_unique<SingleInstanceSignal>([&] { ++second; });
    ASSERT_TRUE(listener.listening());

    const QString self = QString::fromStdString(std::filesystem::read_symlink("/proc/self/exe").string());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(emitterMarker, "1");
    const QStringList emitterArguments{"--gtest_filter=SingleInstanceSignalEmitter.*"};

    // A second instance that exits right after sending still gets its signal through.
    EXPECT_EQ(run(self, emitterArguments, environment), 0);
    ASSERT_TRUE(processEventsUntil([&] { return first == 1 && second == 1; }));

    // Other members and interfaces go unnoticed, and so does everything after a listener is gone.
    // The bus keeps one sender's messages in order, so the last signal arriving proves the rest did not.
    other.reset();
    QDBusConnection bus = QDBusConnection::sessionBus();
    EXPECT_TRUE(bus.send(QDBusMessage::createSignal(SingleInstanceSignal::objectPath,
                                                    SingleInstanceSignal::interfaceName, "hideSettings")));
    EXPECT_TRUE(bus.send(QDBusMessage::createSignal(SingleInstanceSignal::objectPath, "com.quartzfield.other",
                                                    SingleInstanceSignal::memberName)));
    EXPECT_TRUE(SingleInstanceSignal::emitShowSettings());
    ASSERT_TRUE(processEventsUntil([&] { return first == 2; }));
    EXPECT_EQ(second, 1);

    // The documented name, sent by a tool that knows nothing of this code.
    EXPECT_EQ(run("dbus-send",
                  {"--session", "--type=signal", "/com/quartzfield/kavrel/Companion",
                   "com.quartzfield.kavrel.showSettings"},
                  QProcessEnvironment::systemEnvironment()),
              0);
    ASSERT_TRUE(processEventsUntil([&] { return first == 3; }));

    // Without a bus, sending and listening say so.
    environment.insert(noBusMarker, "1");
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kavrel-bus");
    EXPECT_EQ(run(self, emitterArguments, environment), 0);
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
