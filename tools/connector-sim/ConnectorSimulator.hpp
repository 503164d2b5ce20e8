#pragma once

#include "CompanionCore/ipc/Envelope.hpp"
#include "tools/connector-sim/ConnectorState.hpp"
#include "tools/connector-sim/SimulatorOptions.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kavrel {

// The stand-in connector's behaviour, free of I/O: each message from the application goes in,
// the envelopes to write come out in order. Commands get exactly one "result" with their id
// (unless the options make the connector silent); a state change adds an unsolicited "status".
class ConnectorSimulator {
public:
    struct Clock {
        std::function<std::string()> makeIdentifier; // fresh message ids and native generations
        std::function<double()> nowMilliseconds;     // wall clock, ms since 1970
    };

    ConnectorSimulator(std::filesystem::path stateDirectory, SimulatorOptions options, Clock clock);

    std::vector<Envelope> handle(const Envelope& message);

    bool initialized() const { return initializeAccepted; }
    // Commands answered so far, "initialize" included.
    std::uint64_t answeredCommands() const { return answered; }
    JSONObject status() const;
    // The outcome of each favourite command sent, in the order the results came: "action", "ok", and
    // "favorited" or "code".
    const JSONArray& favouriteResults() const { return results; }

private:
    JSONObject dispatch(const Envelope& command, std::vector<Envelope>& extra);
    JSONObject initialize(const JSONObject& payload);
    JSONObject configure(const JSONObject& payload);
    JSONObject start();
    JSONObject stop();
    JSONObject pair(const JSONObject& payload);
    JSONObject resetRoon();
    JSONObject discoverRoon();
    JSONObject nativeSnapshot(const JSONObject& payload, std::vector<Envelope>& extra);
    void nativeResult(const Envelope& message, std::vector<Envelope>& extra);
    struct FavouriteRequest {
        std::string action;
        std::string generation; // the run generation of the snapshot that showed the track
        std::string trackRef;
    };
    Envelope favouriteCommand(FavouriteRequest request, std::optional<bool> desiredState);
    // Saves the state; a failure to save is reported as the command's failure.
    std::optional<JSONObject> persist(ConnectorState next);

    std::filesystem::path configFile;
    SimulatorOptions options;
    Clock clock;
    ConnectorState state;
    std::optional<std::string> unreadableConfig; // why config.json could not be read
    bool configured = false;
    bool initializeAccepted = false;
    bool running = false;
    std::string nativeGeneration;
    std::optional<std::string> discoveredServer;
    std::uint64_t answered = 0;
    std::uint64_t snapshots = 0;
    std::optional<std::string> musicState;
    std::optional<bool> favorited;
    std::map<std::string, FavouriteRequest, std::less<>> favouriteRequests; // by "nativeCommand" id
    JSONArray results;
    bool favouriteReadThisRun = false;
    bool favouriteWrittenThisRun = false;
};

} // namespace kavrel
