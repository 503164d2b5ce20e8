#pragma once

#include "CompanionCore/model/Clipboard.hpp"
#include "CompanionCore/model/CompanionModel.hpp"
#include "CompanionCore/model/Logger.hpp"
#include "CompanionCore/model/Preferences.hpp"
#include "music/ControllerHarness.hpp"
#include "supervisor/SupervisorHarness.hpp"
#include "support/ExpectedTexts.hpp"

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace kavrel {

// Preferences, clipboard and log, kept in memory.
struct MemoryPorts final : Preferences, Clipboard, Logger {
    std::optional<JSONValue> value(std::string_view key) const override {
        return values.contains(key) ? std::optional(values.find(key)->second) : std::nullopt;
    }
    void set(std::string_view key, JSONValue value) override {
        values.insert_or_assign(std::string(key), value);
    }
    void setText(const std::string& text) override { texts.push_back(text); }
    void log(Level, std::string_view category, std::string_view message) override {
        lines.push_back(std::string(category) + ": " + std::string(message));
    }
    std::map<std::string, JSONValue, std::less<>> values;
    std::vector<std::string> texts, lines;
};

// The model over a real supervisor with a fake connector and a real music controller on manual
// queues; everything runs only when the test settles it.
class ModelTest : public SupervisorTest {
protected:
    // Builds the model from the preferences as they are now.
    void makeModel() {
        const BuildInfo build{"1.2.0", "42", "Debian GNU/Linux 12 (bookworm)"};
        model = CompanionModel::create({loop, supervisor, music, ports, ports, ports, build});
    }

    // Runs the loop, the writer and the music queues until none has work left.
    void settle() {
        do {
            flush();
        } while (musicQueue.drain() + artworkQueue.drain() > 0);
    }

    // The connector comes up; the model answers with configure, which is left unanswered.
    void ready() {
        if (!model) {
            makeModel();
        }
        launchReady();
        settle();
    }

    // Ready, configured and started with native generation "NATIVE-1".
    void started() {
        ready();
        answer("configure", okPayload());
        answer("start", okPayload({{"nativeGeneration", "NATIVE-1"}}));
        settle();
    }

    // Answers the last command of that type once what the model just did is written.
    void answer(const std::string& type, JSONObject payload) {
        flush();
        SupervisorTest::answer(type, std::move(payload));
    }
    // Whether the model is busy, its notice and the type of the last command sent, once all is settled.
    std::tuple<bool, std::string, std::string> seen() {
        settle();
        return {model->busy().value(), model->notice().value(), sentTypes().back()};
    }
    // The connector sends a native command, numbered "N-1", "N-2", …; returns what the model answered.
    Envelope command(JSONObject payload) {
        const std::string id = "N-" + std::to_string(++commands);
        child().writeOutput(Envelope(id, "nativeCommand", std::move(payload)).encodedLine());
        settle();
        return sent().back();
    }
    int countSent(const std::string& type) { return static_cast<int>(std::ranges::count(sentTypes(), type)); }
    static JSONObject failurePayload(const std::string& code) { return {{"ok", false}, {"code", code}}; }

    MemoryPorts ports;
    ManualQueue musicQueue{std::string(NativeMusicController::queueLabel)};
    ManualQueue artworkQueue{std::string(NativeMusicController::artworkQueueLabel)};
    std::shared_ptr<FakeMusicAccess> access = std::make_shared<FakeMusicAccess>();
    std::shared_ptr<NativeMusicController> music = NativeMusicController::create(
        access,
        [] { return std::chrono::system_clock::time_point(std::chrono::milliseconds(1'700'000'000'000)); },
        musicQueue, artworkQueue);
    std::shared_ptr<CompanionModel> model;
    int commands = 0;
};

} // namespace kavrel
