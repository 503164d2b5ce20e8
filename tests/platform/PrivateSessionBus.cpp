#include "platform/PrivateSessionBus.hpp"

#include "platform/ScratchDirectory.hpp"

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace kavrel::PrivateSessionBus {

namespace {

constexpr const char* insideMarker = "KAVREL_INSIDE_PRIVATE_SESSION_BUS";
constexpr const char* runner = "/usr/bin/dbus-run-session";

} // namespace

bool inside() {
    return std::getenv(insideMarker) != nullptr;
}

bool available() {
    return ::access(runner, X_OK) == 0;
}

int runTests(const std::string& filter, bool display) {
    const ScratchDirectory home;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string filterArgument = "--gtest_filter=" + filter;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("HOME", home.path().c_str(), 1);
        ::setenv(insideMarker, "1", 1);
        // Nor the user's MPD: tests that want one start their own.
        ::setenv("MPD_HOST", (home.path() / "no-mpd").c_str(), 1);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        if (display) {
            ::execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 640x480x24", runner, "--", self.c_str(),
                     filterArgument.c_str(), static_cast<char*>(nullptr));
        }
        ::execl(runner, "dbus-run-session", "--", self.c_str(), filterArgument.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid < 0) {
        return -1;
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

} // namespace kavrel::PrivateSessionBus
