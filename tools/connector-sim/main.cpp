// kavrel-roon stand-in: honours the connector contract so the companion runs end to end without the
// real connector, and misbehaves on request (see README.md beside this file).

#include "CompanionCore/ipc/Envelope.hpp"
#include "CompanionCore/ipc/JSONError.hpp"
#include "CompanionCore/runtime/UUID.hpp"
#include "CompanionCore/supervisor/ConnectorContract.hpp"
#include "tools/connector-sim/ConnectorSimulator.hpp"
#include "tools/connector-sim/FrameFaults.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>

namespace {

using namespace kavrel;

// sysexits(3) values, so a wrong start is told apart from a simulated crash.
constexpr int exitUsage = 64;
constexpr int exitConfig = 78;
constexpr int exitSimulatedCrash = 70;

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void say(std::string_view text) {
    std::string line = "kavrel-roon (simulated): " + std::string(text) + "\n";
    writeAll(STDERR_FILENO, line);
}

[[noreturn]] void crash(std::string_view why) {
    say(why);
    std::_Exit(exitSimulatedCrash);
}

// Runs on its own thread: nobody may read standard error, and the protocol must not wait on it.
void floodStandardError(std::uint64_t bytes) {
    std::string chunk(64 * 1024, 'x');
    chunk.back() = '\n';
    while (bytes > 0) {
        auto size = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, chunk.size()));
        if (!writeAll(STDERR_FILENO, std::string_view(chunk).substr(0, size))) {
            return;
        }
        bytes -= size;
    }
}

class Connector {
public:
    Connector(const std::filesystem::path& stateDirectory, SimulatorOptions options)
        : options(options), simulator(stateDirectory, std::move(options), clock()) {}

    int run() {
        std::string pending;
        char chunk[64 * 1024];
        for (;;) {
            ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                // The companion closed our input: it wants us gone. A stubborn connector stays
                // until it is killed.
                while (options.ignoreSigterm) {
                    ::pause();
                }
                return 0;
            }
            pending.append(chunk, static_cast<std::size_t>(count));
            std::size_t start = 0;
            for (auto end = pending.find('\n', start); end != std::string::npos;
                 end = pending.find('\n', start)) {
                handleLine(std::string_view(pending).substr(start, end - start));
                start = end + 1;
            }
            pending.erase(0, start);
            if (pending.size() >= frameLimit) {
                say("input line over the frame limit; giving up");
                return exitSimulatedCrash;
            }
        }
    }

private:
    static ConnectorSimulator::Clock clock() {
        return {makeUUIDString, [] {
                    using namespace std::chrono;
                    return static_cast<double>(
                        duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
                }};
    }

    void handleLine(std::string_view line) {
        Envelope message;
        try {
            message = Envelope::decode(line);
        } catch (const JSONError& unreadable) {
            say(std::string("ignored an unreadable line: ") + unreadable.what());
            return;
        }
        for (const auto& envelope : simulator.handle(message)) {
            emit(envelope.encodedLine());
        }
        // For a person trying favourites by hand.
        for (const auto& results = simulator.favouriteResults(); reportedResults < results.size();
             ++reportedResults) {
            say("favourite command answered: " + results[reportedResults].serialized());
        }
        if (!faultsWritten && simulator.initialized() &&
            simulator.answeredCommands() >= options.faultsAfterCommands) {
            faultsWritten = true;
            misbehaveAfterHandshake();
        }
        if (options.crashAfterCommands && simulator.answeredCommands() >= *options.crashAfterCommands) {
            crash("crashing after the configured number of commands");
        }
    }

    void misbehaveAfterHandshake() {
        for (const auto& bytes : FrameFaults::afterHandshake(options, simulator.status(), makeUUIDString)) {
            emit(bytes);
        }
        if (options.closeStdoutAndLinger) {
            say("closing standard output and lingering");
            ::close(STDOUT_FILENO);
            outputClosed = true;
        }
    }

    void emit(std::string_view bytes) {
        if (outputClosed) {
            return;
        }
        if (!writeAll(STDOUT_FILENO, bytes)) {
            crash(std::string("standard output failed: ") + std::strerror(errno));
        }
    }

    SimulatorOptions options;
    ConnectorSimulator simulator;
    bool outputClosed = false;
    bool faultsWritten = false;
    std::size_t reportedResults = 0;
};

} // namespace

int main(int argc, char** argv) {
    // A broken pipe is reported by write() instead of killing us silently.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc != 4 || std::string_view(argv[1]) != ConnectorContract::configDirectoryFlag ||
        std::string_view(argv[3]) != ConnectorContract::desktopMode) {
        std::fprintf(stderr, "usage: %s %s <state-directory> %s\n", argv[0],
                     ConnectorContract::configDirectoryFlag, ConnectorContract::desktopMode);
        return exitUsage;
    }
    std::filesystem::path stateDirectory = argv[2];
    SimulatorOptions options;
    try {
        options = SimulatorOptions::load(stateDirectory / SimulatorOptions::fileName);
    } catch (const std::runtime_error& invalid) {
        say(invalid.what());
        return exitConfig;
    }
    if (options.crashAtStart) {
        crash("crashing at start");
    }
    if (options.ignoreSigterm) {
        std::signal(SIGTERM, SIG_IGN);
    }
    if (options.stderrFloodBytes > 0) {
        std::thread(floodStandardError, options.stderrFloodBytes).detach();
    }
    if (options.crashAfterSeconds) {
        std::thread([seconds = *options.crashAfterSeconds] {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
            crash("crashing after the configured time");
        }).detach();
    }
    return Connector(stateDirectory, std::move(options)).run();
}
