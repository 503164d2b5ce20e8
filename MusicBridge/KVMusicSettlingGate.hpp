#pragma once

#include <functional>

namespace kavrel {

// Keeps commands on one track from reading or writing while an earlier write to it settles. Time is
// read only through `clock` (monotonic seconds) and waited only through `sleep`, so tests run it on a
// virtual clock. Used from one queue only, so it needs no lock.
class KVMusicSettlingGate {
public:
    using Clock = std::function<double()>;
    using Sleep = std::function<void(double seconds)>;
    using Admission = std::function<bool()>;

    static constexpr double settlingSeconds = 5.0;
    static constexpr double pollSeconds = 0.1;

    // The process's monotonic clock and a real sleep of the calling thread.
    KVMusicSettlingGate();
    KVMusicSettlingGate(Clock clock, Sleep sleep);

    void markWriteAttempt();
    // True once the settling period is over; false as soon as admission (when given) answers false,
    // which is asked before every look at the clock.
    bool waitWithAdmission(const Admission& admission);

    double settlingUntil() const { return until; }

private:
    Clock clock;
    Sleep sleep;
    double until = 0;
};

// Monotonic seconds and a real sleep: the defaults of the gate and of the bridge.
double steadySeconds();
void sleepSeconds(double seconds);

} // namespace kavrel
