#pragma once

#include <csignal>

namespace kavrel {

// Blocks SIGPIPE for the calling thread while it lives, so that a write into a pipe or socket whose
// reader went away fails with EPIPE instead of ending the process; on the way out it takes back the
// SIGPIPE such a write left pending, unless one was pending before.
class SigpipeGuard {
public:
    SigpipeGuard();
    ~SigpipeGuard();
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

private:
    sigset_t pipeSignal;
    sigset_t previousMask;
    bool alreadyPending = false;
};

} // namespace kavrel
