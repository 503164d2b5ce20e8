#include "hardening/ConnectorRig.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kavrel {

RecordingLauncher::RecordingLauncher(MainLoop& loop) : loop(loop), launcher(loop) {}

std::unique_ptr<ChildProcess> RecordingLauncher::spawn(const std::filesystem::path& executable,
                                                       const std::vector<std::string>& arguments,
                                                       const std::vector<std::string>& environment,
                                                       ExitHandler onExit) {
    auto child = launcher.spawn(executable, arguments, environment, [this, onExit](int waitStatus) {
        waitStatuses.push_back(waitStatus);
        onExit(waitStatus);
    });
    processIds.push_back(child->processIdentifier());
    startedAt.push_back(loop.now());
    return child;
}

ConnectorRig::ConnectorRig() {
    char pattern[] = "/tmp/kavrel-hardening-XXXXXX";
    directory = ::mkdtemp(pattern);
    supervisor =
        HelperSupervisor::create({loop, launcher, secrets}, KAVREL_CONNECTOR_SIM_PATH, directory.string());
    supervisor->setOnReady([this] { ++readyCalls; });
    messageWatch =
        supervisor->message().observe([this](const std::string& text) { messages.push_back(text); });
    statusWatch =
        supervisor->status().observe([this](const JSONObject& status) { statuses.push_back(status); });
}

ConnectorRig::~ConnectorRig() {
    supervisor->shutdown();
    supervisor.reset();
    loop.runUntilIdle();
    std::filesystem::remove_all(directory);
}

void ConnectorRig::misbehave(std::string_view options) const {
    std::ofstream(directory / "connector-sim.json") << options;
}

bool ConnectorRig::runUntil(const std::function<bool()>& condition) {
    return loop.runUntil(condition);
}

std::optional<Envelope> ConnectorRig::sendAndWait(std::string_view type, JSONObject payload) {
    bool done = false;
    std::optional<Envelope> reply;
    supervisor->send(type, std::move(payload), [&](std::optional<Envelope> result) {
        reply = std::move(result);
        done = true;
    });
    if (!loop.runUntil([&] { return done; })) {
        return std::nullopt;
    }
    return reply;
}

bool ConnectorRig::wasShown(std::string_view text) const {
    for (const auto& shown : messages) {
        if (shown == text) {
            return true;
        }
    }
    return false;
}

std::string ConnectorRig::describe() const {
    std::ostringstream out;
    out << "spawns " << launcher.spawns() << ", exits " << launcher.exits() << ", ready calls " << readyCalls
        << ", messages:";
    for (const auto& text : messages) {
        out << " [" << text << "]";
    }
    return out.str();
}

} // namespace kavrel
