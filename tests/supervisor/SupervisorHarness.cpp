#include "supervisor/SupervisorHarness.hpp"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <stdexcept>

namespace kavrel {

SupervisorTest::SupervisorTest() {
    char pattern[] = "/tmp/kavrel-supervisor-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    directory = pattern;
    makeSupervisor("/bin/true", [] { return std::string(64, 'a'); });
}

SupervisorTest::~SupervisorTest() {
    supervisor.reset();
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
}

void SupervisorTest::makeSupervisor(std::filesystem::path executable, HelperSupervisor::KeyProvider keys) {
    auto queue = std::make_unique<ManualQueue>(std::string(HelperSupervisor::writerLabel));
    writer = queue.get();
    auto keyQueue = std::make_unique<ManualQueue>(std::string(HelperSupervisor::keyringLabel));
    keyring = keyQueue.get();
    supervisor = HelperSupervisor::create({.loop = loop,
                                           .launcher = launcher,
                                           .secrets = secrets,
                                           .writer = std::move(queue),
                                           .keyring = std::move(keyQueue)},
                                          std::move(executable), directory, std::move(keys));
    supervisor->setOnReady([this] { ++readyCalls; });
    supervisor->setOnUnavailable([this] { ++unavailableCalls; });
    supervisor->setOnNativeCommand([this](const Envelope& envelope) { nativeCommands.push_back(envelope); });
    messages.clear();
    messageSubscription =
        supervisor->message().observe([this](const std::string& text) { messages.push_back(text); });
}

void SupervisorTest::flush(bool answerKeyLookups) {
    do {
        loop.runUntilIdle();
    } while (writer->drain() + (answerKeyLookups ? keyring->drain() : 0) > 0);
}

std::vector<std::string> SupervisorTest::sentTypes() {
    std::vector<std::string> types;
    std::ranges::transform(sent(), std::back_inserter(types), &Envelope::type);
    return types;
}

Envelope SupervisorTest::lastSent(const std::string& type) {
    const auto envelopes = sent();
    for (auto it = envelopes.rbegin(); it != envelopes.rend(); ++it) {
        if (it->type == type) {
            return *it;
        }
    }
    throw std::runtime_error("nothing of type " + type + " was sent");
}

void SupervisorTest::runAnsweringStatus(std::chrono::seconds duration) {
    for (auto elapsed = std::chrono::seconds::zero(); elapsed < duration; ++elapsed) {
        advance(std::chrono::seconds(1));
        for (const auto& envelope : child().isRunning() ? sent() : std::vector<Envelope>{}) {
            if (envelope.type == "status" && !child().hasAnswered(envelope.id)) {
                child().answer(envelope, okPayload());
            }
        }
        flush();
    }
}

void SupervisorTest::launchReady() {
    supervisor->launch();
    flush();
    answer("initialize", okPayload());
    answer("status", okPayload());
}

JSONObject okPayload(JSONObject data) {
    return JSONObject{{"ok", true}, {"data", std::move(data)}};
}

} // namespace kavrel
