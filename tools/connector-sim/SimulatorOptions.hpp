#pragma once

#include "CompanionCore/ipc/JSONValue.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

namespace kavrel {

// How the stand-in connector should behave, good or bad. Read once at start from a JSON file,
// because the connector's argument list and environment are fixed and cannot carry options.
struct SimulatorOptions {
    static constexpr const char* fileName = "connector-sim.json";

    // Handshake
    std::optional<std::string> refuseInitialize; // answer "initialize" with this failure code
    bool neverAnswerInitialize = false;

    // Commands
    std::map<std::string, std::string, std::less<>> failCommands; // command type -> failure code
    std::optional<std::uint64_t> silentAfter;                     // answer only this many commands
    std::string invalidPairingCode = "000000";
    std::string discoverRoon = "notFound"; // "found", "notFound", "networkDenied" or "error"
    std::string discoveredServer = "192.168.1.20:9330";
    JSONObject statusExtra;               // members merged into every status object
    bool favouriteReadOnSnapshot = false; // ask for the favourite of the first shared track of a run
    // Set the favourite of the first shared writable track of a run to this value, then read it back.
    std::optional<bool> favouriteWriteOnSnapshot;
    bool reportDumpable = false; // "dumpable" in the status: whether a core dump may be taken

    // Process and framing faults
    bool crashAtStart = false;
    std::optional<double> crashAfterSeconds;
    std::optional<std::uint64_t> crashAfterCommands;
    bool ignoreSigterm = false;
    std::uint64_t stderrFloodBytes = 0;
    bool garbageLine = false;
    bool oversizedFrame = false;
    bool lfAfterExactLimit = false;
    bool largestFrame = false;
    bool closeStdoutAndLinger = false;
    bool unknownResultId = false;
    std::uint64_t burstStatus = 0;  // status messages written at once after the handshake
    std::uint64_t burstResults = 0; // results for commands never sent, written in one go
    // The faults above are written once this many commands are answered: 1 is right after
    // "initialize", 2 after the first command of a companion that has taken the handshake.
    std::uint64_t faultsAfterCommands = 1;

    // Unknown keys and values of the wrong type are refused, so a mistyped option never passes silently.
    static SimulatorOptions fromJSON(const JSONValue& document);
    // An absent file gives the defaults; an unreadable or invalid one throws std::runtime_error.
    static SimulatorOptions load(const std::filesystem::path& file);
};

} // namespace kavrel
