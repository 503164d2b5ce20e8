#include "Platform/SigpipeGuard.hpp"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace kavrel {

SigpipeGuard::SigpipeGuard() {
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previousMask);
    sigset_t pending;
    sigpending(&pending);
    alreadyPending = sigismember(&pending, SIGPIPE) == 1;
}

SigpipeGuard::~SigpipeGuard() {
    const timespec immediately{};
    while (!alreadyPending && sigtimedwait(&pipeSignal, nullptr, &immediately) < 0 && errno == EINTR) {
    }
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

} // namespace kavrel
