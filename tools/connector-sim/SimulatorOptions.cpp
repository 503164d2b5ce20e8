#include "tools/connector-sim/SimulatorOptions.hpp"

#include <cmath>
#include <fstream>
#include <sstream>
#include <system_error>

namespace kavrel {
namespace {

[[noreturn]] void refuse(std::string_view key, std::string_view expected) {
    throw std::runtime_error("option \"" + std::string(key) + "\" must be " + std::string(expected));
}

bool readBool(std::string_view key, const JSONValue& value) {
    if (auto flag = value.boolean()) {
        return *flag;
    }
    refuse(key, "a boolean");
}

std::string readString(std::string_view key, const JSONValue& value) {
    if (const auto* text = value.string()) {
        return *text;
    }
    refuse(key, "a string");
}

std::uint64_t readCount(std::string_view key, const JSONValue& value) {
    auto number = value.number();
    if (!number || !(*number >= 0) || *number > 1e15 || std::floor(*number) != *number) {
        refuse(key, "a whole number of at least 0");
    }
    return static_cast<std::uint64_t>(*number);
}

double readSeconds(std::string_view key, const JSONValue& value) {
    auto number = value.number();
    if (!number || !(*number > 0) || *number > 86'400) {
        refuse(key, "a number of seconds above 0 and at most 86400");
    }
    return *number;
}

} // namespace

SimulatorOptions SimulatorOptions::fromJSON(const JSONValue& document) {
    const auto* members = document.object();
    if (members == nullptr) {
        throw std::runtime_error("options must be a JSON object");
    }
    SimulatorOptions options;
    for (const auto& [key, value] : *members) {
        if (key == "refuseInitialize") {
            options.refuseInitialize = readString(key, value);
        } else if (key == "neverAnswerInitialize") {
            options.neverAnswerInitialize = readBool(key, value);
        } else if (key == "failCommands") {
            const auto* commands = value.object();
            if (commands == nullptr) {
                refuse(key, "an object of command type to code");
            }
            for (const auto& [type, code] : *commands) {
                if (type == "initialize") {
                    refuse(key, "free of \"initialize\" (use \"refuseInitialize\")");
                }
                options.failCommands[type] = readString(key, code);
            }
        } else if (key == "silentAfter") {
            options.silentAfter = readCount(key, value);
        } else if (key == "invalidPairingCode") {
            options.invalidPairingCode = readString(key, value);
        } else if (key == "discoverRoon") {
            options.discoverRoon = readString(key, value);
            if (options.discoverRoon != "found" && options.discoverRoon != "notFound" &&
                options.discoverRoon != "networkDenied" && options.discoverRoon != "error") {
                refuse(key, "\"found\", \"notFound\", \"networkDenied\" or \"error\"");
            }
        } else if (key == "discoveredServer") {
            options.discoveredServer = readString(key, value);
        } else if (key == "statusExtra") {
            if (value.object() == nullptr) {
                refuse(key, "an object");
            }
            options.statusExtra = *value.object();
        } else if (key == "favouriteReadOnSnapshot") {
            options.favouriteReadOnSnapshot = readBool(key, value);
        } else if (key == "favouriteWriteOnSnapshot") {
            options.favouriteWriteOnSnapshot = readBool(key, value);
        } else if (key == "crashAtStart") {
            options.crashAtStart = readBool(key, value);
        } else if (key == "crashAfterSeconds") {
            options.crashAfterSeconds = readSeconds(key, value);
        } else if (key == "crashAfterCommands") {
            options.crashAfterCommands = readCount(key, value);
        } else if (key == "ignoreSigterm") {
            options.ignoreSigterm = readBool(key, value);
        } else if (key == "stderrFloodBytes") {
            options.stderrFloodBytes = readCount(key, value);
        } else if (key == "garbageLine") {
            options.garbageLine = readBool(key, value);
        } else if (key == "oversizedFrame") {
            options.oversizedFrame = readBool(key, value);
        } else if (key == "lfAfterExactLimit") {
            options.lfAfterExactLimit = readBool(key, value);
        } else if (key == "largestFrame") {
            options.largestFrame = readBool(key, value);
        } else if (key == "closeStdoutAndLinger") {
            options.closeStdoutAndLinger = readBool(key, value);
        } else if (key == "unknownResultId") {
            options.unknownResultId = readBool(key, value);
        } else if (key == "burstStatus") {
            options.burstStatus = readCount(key, value);
        } else if (key == "burstResults") {
            options.burstResults = readCount(key, value);
        } else if (key == "faultsAfterCommands") {
            options.faultsAfterCommands = readCount(key, value);
            if (options.faultsAfterCommands == 0) {
                refuse(key, "at least 1: the faults follow the handshake");
            }
        } else {
            throw std::runtime_error("unknown option \"" + key + "\"");
        }
    }
    return options;
}

SimulatorOptions SimulatorOptions::load(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        return {};
    }
    std::ifstream stream(file, std::ios::binary);
    if (!stream.is_open()) {
        throw std::runtime_error("cannot read " + file.string());
    }
    std::ostringstream text;
    text << stream.rdbuf();
    try {
        return fromJSON(JSONValue::parse(text.str()));
    } catch (const std::runtime_error& invalid) { // JSONError included
        throw std::runtime_error(file.string() + ": " + invalid.what());
    }
}

} // namespace kavrel
