#pragma once

#include <string>

// Runs some tests of this binary again inside a private D-Bus session (dbus-run-session), so that
// they meet a real bus daemon and nothing of the user's own session (nor the user's MPD).
namespace kavrel::PrivateSessionBus {

// True in the copy of the binary that runs inside the private session.
bool inside();

// Whether dbus-run-session is installed (package dbus).
bool available();

// Runs this binary under dbus-run-session with `--gtest_filter=<filter>`, HOME at a fresh directory
// and inside() true, and waits for it; with `display`, also on an X display of its own (xvfb-run).
// Its exit status, or -1 when it did not exit normally.
int runTests(const std::string& filter, bool display = false);

} // namespace kavrel::PrivateSessionBus
