#pragma once

#include "platform/ScratchDirectory.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

// Runs some tests of this binary again inside a private D-Bus session (dbus-run-session), so that
// they meet a real bus daemon and nothing of the user's own session (nor the user's MPD).
namespace kavrel::PrivateSessionBus {

// True in the copy of the binary that runs inside the private session.
inline bool inside() {
    return std::getenv("KAVREL_INSIDE_PRIVATE_SESSION_BUS") != nullptr;
}

// Whether dbus-run-session is installed (package dbus).
inline bool available() {
    return ::access("/usr/bin/dbus-run-session", X_OK) == 0;
}

// Runs this binary under dbus-run-session with `--gtest_filter=<filter>`, HOME at a fresh directory
// and inside() true, and waits for it. `prelude` is shell text run in the session first (starting a
// daemon, say); with `display`, the session also has an X display of its own (with-private-display.sh). The
// exit status, or -1 when it did not exit normally.
inline int runTests(const std::string& filter, const std::string& prelude = "", bool display = false) {
    const ScratchDirectory home;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string script = prelude + "\nexec \"$0\" \"$1\"";
    const std::string filterArgument = "--gtest_filter=" + filter;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("HOME", home.path().c_str(), 1);
        ::setenv("KAVREL_INSIDE_PRIVATE_SESSION_BUS", "1", 1);
        // Nor the user's MPD: tests that want one start their own.
        ::setenv("MPD_HOST", (home.path() / "no-mpd").c_str(), 1);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        if (display) {
            ::execl(KAVREL_PRIVATE_DISPLAY, KAVREL_PRIVATE_DISPLAY, "-screen", "640x480x24",
                    "/usr/bin/dbus-run-session", "--", "/bin/sh", "-c", script.c_str(), self.c_str(),
                    filterArgument.c_str(), static_cast<char*>(nullptr));
        }
        ::execl("/usr/bin/dbus-run-session", "dbus-run-session", "--", "/bin/sh", "-c", script.c_str(),
                self.c_str(), filterArgument.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace kavrel::PrivateSessionBus
