#include "tools/connector-sim/ConnectorSimulator.hpp"

#include "CompanionCore/ipc/OriginValidator.hpp"
#include "CompanionCore/supervisor/ConnectorContract.hpp"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <system_error>

namespace kavrel {
namespace {

constexpr std::size_t storageKeyLength = 64;
constexpr std::size_t maxPairingCodeBytes = 128;
// How long the service gives the companion to answer a favourite read, and a write: a write is
// confirmed only once it has held for 5 s and given up after 10 s, and the companion refuses
// deadlines more than 30 s ahead.
constexpr double favouriteReadLifetimeMs = 10'000;
constexpr double favouriteWriteLifetimeMs = 20'000;

JSONObject success(JSONObject data = {}) {
    return {{"ok", true}, {"data", std::move(data)}};
}

JSONObject failure(std::string code) {
    return {{"ok", false}, {"code", std::move(code)}};
}

bool isStorageKey(std::string_view text) {
    return text.size() == storageKeyLength && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

bool isPairingCode(std::string_view code) {
    return !code.empty() && code.size() <= maxPairingCodeBytes &&
           std::all_of(code.begin(), code.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
           });
}

// Empty (use discovery) or "host:port" with a port from 1 to 65535.
bool isRoonHost(std::string_view host) {
    if (host.empty()) {
        return true;
    }
    auto colon = host.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == host.size()) {
        return false;
    }
    unsigned port = 0;
    auto digits = host.substr(colon + 1);
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    return error == std::errc() && end == digits.data() + digits.size() && port >= 1 && port <= 65535;
}

const JSONValue* find(const JSONObject& object, std::string_view key) {
    auto found = object.find(key);
    return found == object.end() ? nullptr : &found->second;
}

const std::string* findString(const JSONObject& object, std::string_view key) {
    const auto* value = find(object, key);
    return value == nullptr ? nullptr : value->string();
}

} // namespace

ConnectorSimulator::ConnectorSimulator(std::filesystem::path stateDirectory, SimulatorOptions options,
                                       Clock clock)
    : configFile(std::move(stateDirectory) / ConnectorContract::configFileName), options(std::move(options)),
      clock(std::move(clock)) {
    try {
        if (auto stored = ConnectorState::load(configFile)) {
            state = *stored;
            configured = true;
        }
    } catch (const std::runtime_error& unreadable) {
        // Kept as it is: the connector refuses to start rather than overwrite state it cannot read.
        unreadableConfig = unreadable.what();
    }
}

std::vector<Envelope> ConnectorSimulator::handle(const Envelope& message) {
    JSONObject before = status();
    std::vector<Envelope> output;
    std::vector<Envelope> extra;
    if (message.type == "nativeResult") {
        nativeResult(message, extra);
    } else {
        if (options.silentAfter && answered >= *options.silentAfter) {
            return {};
        }
        if (message.type == "initialize" && !initializeAccepted && options.neverAnswerInitialize) {
            return {};
        }
        JSONObject reply = dispatch(message, extra);
        ++answered;
        output.emplace_back(message.id, "result", std::move(reply));
    }
    JSONObject after = status();
    if (initializeAccepted && after != before) {
        output.emplace_back(clock.makeIdentifier(), "status", std::move(after));
    }
    std::move(extra.begin(), extra.end(), std::back_inserter(output));
    return output;
}

JSONObject ConnectorSimulator::dispatch(const Envelope& command, std::vector<Envelope>& extra) {
    const auto& type = command.type;
    if (type == "initialize") {
        return initialize(command.payload);
    }
    if (!initializeAccepted) {
        return failure("not_initialized");
    }
    if (auto forced = options.failCommands.find(type); forced != options.failCommands.end()) {
        return failure(forced->second);
    }
    if (type == "status") {
        return success(status());
    }
    if (type == "configure") {
        return configure(command.payload);
    }
    if (type == "start") {
        return start();
    }
    if (type == "stop") {
        return stop();
    }
    if (type == "pair") {
        return pair(command.payload);
    }
    if (type == "resetRoon") {
        return resetRoon();
    }
    if (type == "discoverRoon") {
        return discoverRoon();
    }
    if (type == "retryCloud") {
        return state.paired ? success() : failure("not_paired");
    }
    if (type == "nativeSnapshot") {
        return nativeSnapshot(command.payload, extra);
    }
    return failure("unknown_command");
}

JSONObject ConnectorSimulator::initialize(const JSONObject& payload) {
    if (initializeAccepted) {
        return failure("already_initialized");
    }
    if (options.refuseInitialize) {
        return failure(*options.refuseInitialize);
    }
    const auto* key = findString(payload, "storageKey");
    if (key == nullptr || !isStorageKey(*key)) {
        return failure("invalid_storage_key");
    }
    if (unreadableConfig) {
        return failure("config_unreadable");
    }
    initializeAccepted = true;
    return success();
}

JSONObject ConnectorSimulator::configure(const JSONObject& payload) {
    const auto* origin = findString(payload, "bridgeOrigin");
    const auto* host = findString(payload, "roonHost");
    const auto* music = find(payload, "appleMusicEnabled");
    const auto* roon = find(payload, "roonEnabled");
    if (origin == nullptr || host == nullptr || music == nullptr || !music->boolean() || roon == nullptr ||
        !roon->boolean()) {
        return failure("invalid_configuration");
    }
    if (!OriginValidator::validate(*origin)) {
        return failure("invalid_origin");
    }
    if (!isRoonHost(*host)) {
        return failure("invalid_roon_host");
    }
    ConnectorState next = state;
    next.bridgeOrigin = *origin;
    if (next.roonHost != *host) {
        next.roonAuthorized = false; // another server must approve the extension again
    }
    next.roonHost = *host;
    next.appleMusicEnabled = *music->boolean();
    next.roonEnabled = *roon->boolean();
    if (auto failed = persist(next)) {
        return *failed;
    }
    configured = true;
    return success();
}

JSONObject ConnectorSimulator::start() {
    if (!configured) {
        return failure("not_configured");
    }
    if (!state.paired) {
        return failure("not_paired");
    }
    if (state.roonEnabled && !state.roonAuthorized && (!state.roonHost.empty() || discoveredServer)) {
        // Stands in for the user approving the extension in Roon.
        ConnectorState next = state;
        next.roonAuthorized = true;
        if (auto failed = persist(next)) {
            return *failed;
        }
    }
    running = true;
    nativeGeneration = clock.makeIdentifier();
    favouriteReadThisRun = false;
    favouriteWrittenThisRun = false;
    favouriteRequests.clear();
    return success({{"nativeGeneration", nativeGeneration}});
}

JSONObject ConnectorSimulator::stop() {
    running = false;
    nativeGeneration.clear();
    favouriteRequests.clear();
    return success();
}

JSONObject ConnectorSimulator::pair(const JSONObject& payload) {
    const auto* code = findString(payload, "code");
    const auto* replace = find(payload, "replace");
    if (code == nullptr || (replace != nullptr && !replace->boolean())) {
        return failure("invalid_request");
    }
    if (!isPairingCode(*code) || *code == options.invalidPairingCode) {
        return failure("invalid_code");
    }
    if (state.paired && !(replace != nullptr && *replace->boolean())) {
        return failure("already_paired");
    }
    ConnectorState next = state;
    next.paired = true;
    if (auto failed = persist(next)) {
        return *failed;
    }
    return success();
}

JSONObject ConnectorSimulator::resetRoon() {
    ConnectorState next = state;
    next.roonAuthorized = false;
    // Without stored state there is nothing to reset, and no reason to create config.json.
    if (configured || state.paired) {
        if (auto failed = persist(next)) {
            return *failed;
        }
    }
    return success();
}

JSONObject ConnectorSimulator::discoverRoon() {
    if (options.discoverRoon == "found") {
        discoveredServer = options.discoveredServer;
        return success({{"found", true}, {"server", *discoveredServer}});
    }
    if (options.discoverRoon == "notFound") {
        return failure("roon_not_found");
    }
    if (options.discoverRoon == "networkDenied") {
        return failure("local_network_denied");
    }
    return failure("discovery_failed");
}

JSONObject ConnectorSimulator::nativeSnapshot(const JSONObject& payload, std::vector<Envelope>& extra) {
    const auto* generation = findString(payload, "nativeGeneration");
    // Snapshots of an earlier start are accepted but not counted: the run they describe is gone.
    if (!running || generation == nullptr || *generation != nativeGeneration) {
        return success();
    }
    ++snapshots;
    if (const auto* playback = findString(payload, "state")) {
        musicState = *playback;
    }
    const auto* runGeneration = findString(payload, "generation");
    const auto* track = find(payload, "track");
    const auto* trackObject = track != nullptr ? track->object() : nullptr;
    const auto* trackRef = trackObject != nullptr ? findString(*trackObject, "trackRef") : nullptr;
    if (runGeneration == nullptr || trackRef == nullptr) {
        return success();
    }
    if (options.favouriteReadOnSnapshot && !favouriteReadThisRun) {
        favouriteReadThisRun = true;
        extra.push_back(favouriteCommand({"getFavorite", *runGeneration, *trackRef}, std::nullopt));
    }
    const auto* writable = find(*trackObject, "favoriteWritable");
    if (options.favouriteWriteOnSnapshot && !favouriteWrittenThisRun && !trackRef->empty() &&
        writable != nullptr && writable->boolean() == true) {
        favouriteWrittenThisRun = true;
        extra.push_back(
            favouriteCommand({"setFavorite", *runGeneration, *trackRef}, options.favouriteWriteOnSnapshot));
    }
    return success();
}

Envelope ConnectorSimulator::favouriteCommand(FavouriteRequest request, std::optional<bool> desiredState) {
    JSONObject payload{{"generation", request.generation},
                       {"nativeGeneration", nativeGeneration},
                       {"expiresAt", clock.nowMilliseconds() +
                                         (desiredState ? favouriteWriteLifetimeMs : favouriteReadLifetimeMs)},
                       {"action", request.action},
                       {"trackRef", request.trackRef}};
    if (desiredState) {
        payload.emplace("desiredState", *desiredState);
    }
    auto id = clock.makeIdentifier();
    favouriteRequests.emplace(id, std::move(request));
    return Envelope(std::move(id), "nativeCommand", std::move(payload));
}

void ConnectorSimulator::nativeResult(const Envelope& message, std::vector<Envelope>& extra) {
    auto pending = favouriteRequests.find(message.id);
    if (pending == favouriteRequests.end()) {
        return; // an answer to nothing we asked, or to a request of an earlier run
    }
    FavouriteRequest request = std::move(pending->second);
    favouriteRequests.erase(pending);
    JSONObject outcome{{"action", request.action}, {"ok", false}};
    const auto* ok = find(message.payload, "ok");
    const auto* data = find(message.payload, "data");
    const auto* value =
        data != nullptr && data->object() != nullptr ? find(*data->object(), "favorited") : nullptr;
    if (ok != nullptr && ok->boolean() == true && value != nullptr && value->boolean()) {
        favorited = *value->boolean();
        outcome.insert_or_assign("ok", true);
        outcome.emplace("favorited", *favorited);
    } else if (const auto* code = findString(message.payload, "code")) {
        outcome.emplace("code", *code);
    }
    results.emplace_back(std::move(outcome));
    // Whatever the write did, read back what the player holds now.
    if (request.action == "setFavorite") {
        request.action = "getFavorite";
        extra.push_back(favouriteCommand(std::move(request), std::nullopt));
    }
}

std::optional<JSONObject> ConnectorSimulator::persist(ConnectorState next) {
    try {
        next.save(configFile);
    } catch (const std::system_error&) {
        return failure("storage_failed");
    }
    state = std::move(next);
    return std::nullopt;
}

JSONObject ConnectorSimulator::status() const {
    JSONObject roonServer;
    JSONValue server = nullptr;
    if (!state.roonHost.empty()) {
        server = state.roonHost;
    } else if (discoveredServer) {
        server = *discoveredServer;
    }
    JSONObject music{{"snapshots", snapshots}};
    if (musicState) {
        music.emplace("state", *musicState);
    }
    if (favorited) {
        music.emplace("favorited", *favorited);
    }
    if (!results.empty()) {
        music.emplace("favouriteResults", results);
    }
    JSONObject object{
        {"paired", state.paired},
        {"running", running},
        {"configured", configured},
        {"bridgeOrigin", state.bridgeOrigin},
        {"appleMusicEnabled", state.appleMusicEnabled},
        {"cloud", JSONObject{{"connected", running && state.paired}}},
        {"scrobbling",
         JSONObject{{"enabled", false}, {"pending", 0}, {"checking", 0}, {"ignored", 0}, {"dropped", 0}}},
        {"roon", JSONObject{{"enabled", state.roonEnabled},
                            {"host", state.roonHost},
                            {"server", server},
                            {"authorized", state.roonAuthorized}}},
        {"music", std::move(music)},
    };
    for (const auto& [key, value] : options.statusExtra) {
        object.insert_or_assign(key, value);
    }
    return object;
}

} // namespace kavrel
