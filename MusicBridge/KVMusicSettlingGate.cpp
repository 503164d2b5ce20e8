#include "MusicBridge/KVMusicSettlingGate.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

namespace kavrel {

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void sleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

KVMusicSettlingGate::KVMusicSettlingGate() : KVMusicSettlingGate(steadySeconds, sleepSeconds) {}

KVMusicSettlingGate::KVMusicSettlingGate(Clock clock, Sleep sleep)
    : clock(std::move(clock)), sleep(std::move(sleep)) {}

void KVMusicSettlingGate::markWriteAttempt() {
    until = clock() + settlingSeconds;
}

bool KVMusicSettlingGate::waitWithAdmission(const Admission& admission) {
    for (;;) {
        if (admission && !admission()) {
            return false;
        }
        const double remaining = until - clock();
        if (remaining <= 0) {
            return true;
        }
        sleep(std::min(pollSeconds, remaining));
    }
}

} // namespace kavrel
