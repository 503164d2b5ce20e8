#include "KavrelCompanion/AppDelegate.hpp"

#include <QApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSocketNotifier>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// The session ends the companion with SIGTERM (and a terminal with SIGINT): both quit as the menu's
// Quit does, so the connector is stopped within its grace period. The signals are blocked in every
// thread and read from a signalfd on the main loop.
int blockQuitSignals() {
    sigset_t quitting;
    sigemptyset(&quitting);
    sigaddset(&quitting, SIGTERM);
    sigaddset(&quitting, SIGINT);
    pthread_sigmask(SIG_BLOCK, &quitting, nullptr);
    return ::signalfd(-1, &quitting, SFD_CLOEXEC | SFD_NONBLOCK);
}

} // namespace

int main(int argc, char** argv) {
    // The storage key passes through this process's memory: no core dump (systemd-coredump keeps
    // them) and no ptrace by the user's other processes may read it. The connector, a program of
    // its own after exec, stays dumpable.
    ::prctl(PR_SET_DUMPABLE, 0);
    // Before any thread starts, so that every thread inherits the mask.
    const int quitSignals = blockQuitSignals();

    QApplication application(argc, argv);
    QApplication::setApplicationName("Kavrel Companion");
    QApplication::setDesktopFileName("com.quartzfield.kavrel.companion");
    // A tray application: closing the settings window never quits.
    QApplication::setQuitOnLastWindowClosed(false);
    // One small settings window needs no GPU: the software renderer saves the graphics stack's memory
    // (some 90 MB with Mesa) for the whole life of a tray application. QT_QUICK_BACKEND still decides.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND")) {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }

    QSocketNotifier quitNotifier(quitSignals, QSocketNotifier::Read);
    QObject::connect(&quitNotifier, &QSocketNotifier::activated, &application, [quitSignals] {
        signalfd_siginfo received;
        while (::read(quitSignals, &received, sizeof received) == sizeof received) {
        }
        QCoreApplication::quit();
    });

    kavrel::AppDelegate delegate;
    int exitCode = 0;
    if (!delegate.applicationDidFinishLaunching(exitCode)) {
        return exitCode;
    }
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.applicationWillTerminate(); });
    return QApplication::exec();
}
