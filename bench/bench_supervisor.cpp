// Round trips through the supervisor to the real stand-in connector on the production main loop:
// encode, pipe write on the writer thread, the connector's answer, pipe read, decode, dispatch.

#include "CompanionCore/storage/SecretStore.hpp"
#include "CompanionCore/supervisor/HelperSupervisor.hpp"
#include "Platform/PosixProcessLauncher.hpp"
#include "Platform/QtMainLoop.hpp"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace kavrel {
namespace {

// The storage key comes from the bench itself; the supervisor never asks the store.
class UnusedSecretStore final : public SecretStore {
public:
    Lookup read(std::string_view, std::string_view) override { return {itemNotFound, std::nullopt}; }
    int32_t add(std::string_view, std::string_view, std::span<const uint8_t>) override {
        return itemNotFound;
    }
};

class Connection {
public:
    Connection() {
        char pattern[] = "/tmp/kavrel-bench-XXXXXX";
        directory = ::mkdtemp(pattern);
        supervisor = HelperSupervisor::create({loop, launcher, secrets}, KAVREL_CONNECTOR_SIM_PATH, directory,
                                              [] { return std::string(64, 'a'); });
        supervisor->launch();
        waitFor([this] { return supervisor->ready().value(); });
    }

    ~Connection() {
        supervisor->shutdown();
        supervisor.reset();
        std::filesystem::remove_all(directory);
    }

    template <typename Condition> void waitFor(Condition condition) {
        while (!condition()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }

    HelperSupervisor& helper() { return *supervisor; }

private:
    QtMainLoop loop;
    PosixProcessLauncher launcher{loop};
    UnusedSecretStore secrets;
    std::filesystem::path directory;
    std::shared_ptr<HelperSupervisor> supervisor;
};

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "bench_supervisor";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

double percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    auto index = static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1));
    return samples[index];
}

void BM_StatusRoundTrip(benchmark::State& state) {
    application();
    Connection connection;
    std::vector<double> microseconds;
    for (auto _ : state) {
        bool answered = false;
        const auto start = std::chrono::steady_clock::now();
        connection.helper().send("status", {}, [&](std::optional<Envelope> reply) {
            answered = true;
            benchmark::DoNotOptimize(reply);
        });
        connection.waitFor([&] { return answered; });
        microseconds.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["p50_us"] = percentile(microseconds, 0.50);
    state.counters["p99_us"] = percentile(microseconds, 0.99);
}
BENCHMARK(BM_StatusRoundTrip)->Iterations(20000)->UseRealTime();

// Keeps the supervisor's limit of commands in flight, topping up whenever answers come back. A send
// refused because the supervisor's own status poll holds a slot just waits for the next answer.
void BM_CommandsInFlight(benchmark::State& state) {
    application();
    Connection connection;
    const auto limit = static_cast<std::int64_t>(HelperSupervisor::maxPendingCommands);
    std::int64_t answered = 0;
    std::int64_t inFlight = 0;
    bool refused = false;
    for (auto _ : state) {
        const std::int64_t target = answered + 10000;
        connection.waitFor([&] {
            refused = false;
            while (!refused && inFlight < limit && answered + inFlight < target) {
                ++inFlight;
                connection.helper().send("status", {}, [&](std::optional<Envelope> reply) {
                    --inFlight;
                    if (reply) {
                        ++answered;
                    } else {
                        refused = true;
                    }
                });
            }
            return answered >= target;
        });
    }
    state.counters["commands_per_s"] =
        benchmark::Counter(static_cast<double>(answered), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CommandsInFlight)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavrel
