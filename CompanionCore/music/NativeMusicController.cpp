#include "CompanionCore/music/NativeMusicController.hpp"

#include "CompanionCore/music/MusicDiagnosticsReport.hpp"
#include "CompanionCore/music/NativeError.hpp"
#include "CompanionCore/runtime/UUID.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace kavrel {

namespace {

constexpr std::string_view invalidCommandCode = "invalid_native_command";
constexpr std::string_view runChangedCode = "native_run_changed";
constexpr std::string_view expiredCode = "native_command_expired";
constexpr std::string_view busyCode = "native_busy";
constexpr std::string_view writeUncertainCode = "native_write_uncertain";
constexpr std::string_view unavailableCode = "music_unavailable";

// Descriptions of music app failures that may be passed on as they are.
constexpr std::array<std::string_view, 8> passedOnCodes = {
    "music_not_running", "automation_required", "automation_denied",      "music_timeout",
    "music_unavailable", "track_unavailable",   "native_write_uncertain", "native_command_expired"};

const JSONValue* member(const JSONObject& object, std::string_view key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &found->second;
}

// The snapshot's track when it is an object; looked up without adding a "track" key.
JSONObject* trackObject(JSONObject& snapshot) {
    const auto found = snapshot.find("track");
    return found == snapshot.end() ? nullptr : found->second.object();
}

const JSONObject* trackObject(const JSONObject& snapshot) {
    const auto* track = member(snapshot, "track");
    return track ? track->object() : nullptr;
}

JSONObject failure(std::string_view code) {
    return JSONObject{{"ok", false}, {"code", code}};
}

JSONObject success(bool favorited) {
    return JSONObject{{"ok", true}, {"data", JSONObject{{"favorited", favorited}}}};
}

// Every answer echoes the command's generations, whatever their type, so the peer can match it.
Envelope resultEnvelope(const Envelope& command, JSONObject result) {
    for (const std::string_view key : {"generation", "nativeGeneration"}) {
        if (const auto* value = member(command.payload, key)) {
            result.insert_or_assign(std::string(key), *value);
        }
    }
    return Envelope(command.id, "nativeResult", std::move(result));
}

} // namespace

std::shared_ptr<NativeMusicController> NativeMusicController::create(std::shared_ptr<MusicAccess> access,
                                                                     Clock now, SerialQueue& queue,
                                                                     SerialQueue& artworkQueue) {
    return std::make_shared<NativeMusicController>(Token{}, std::move(access), std::move(now), queue,
                                                   artworkQueue);
}

NativeMusicController::NativeMusicController(Token, std::shared_ptr<MusicAccess> access, Clock now,
                                             SerialQueue& queue, SerialQueue& artworkQueue)
    : access(std::move(access)), queue(queue), artworkQueue(artworkQueue), now(std::move(now)) {}

NativeMusicController::~NativeMusicController() {
    std::lock_guard lock(admission);
    timer.cancel();
}

double NativeMusicController::nowMs() const {
    return std::chrono::duration<double, std::milli>(now().time_since_epoch()).count();
}

bool NativeMusicController::isCurrent(std::string_view candidate) const {
    std::lock_guard lock(admission);
    return generation && *generation == candidate;
}

std::string NativeMusicController::start(SnapshotHandler onSnapshot) {
    auto fresh = makeUUIDString();
    auto tickTask = [weak = weak_from_this(), run = fresh, handler = onSnapshot] {
        if (auto self = weak.lock()) {
            self->tick(run, handler);
        }
    };
    SnapshotHandler previous;
    {
        std::lock_guard lock(admission);
        timer.cancel();
        generation = fresh;
        previous = std::exchange(snapshotHandler, std::move(onSnapshot));
        timer = queue.every(pollInterval, tickTask);
        queue.async(std::move(tickTask)); // the first tick runs at once
    }
    return fresh; // `previous` is released outside the lock: it may own anything
}

void NativeMusicController::stop() {
    SnapshotHandler previous;
    {
        std::lock_guard lock(admission);
        generation.reset();
        previous = std::exchange(snapshotHandler, nullptr);
        timer.cancel();
    }
}

void NativeMusicController::requestAuthorization(std::function<void(std::optional<std::string>)> completion) {
    queue.async([weak = weak_from_this(), completion = std::move(completion)] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        std::optional<std::string> code;
        try {
            self->access->requestAuthorization();
        } catch (...) {
            code = safeCode(std::current_exception());
        }
        completion(std::move(code));
    });
}

void NativeMusicController::diagnostics(std::function<void(std::string)> completion) {
    queue.async([weak = weak_from_this(), completion = std::move(completion)] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        JSONObject diagnostics;
        try {
            diagnostics = self->access->favoriteDiagnostics();
        } catch (...) {
            diagnostics = JSONObject{{"stage", "unavailable"}};
        }
        completion(MusicDiagnosticsReport::diagnosticReport(diagnostics));
    });
}

std::string NativeMusicController::safeCode(const std::exception_ptr& error) {
    if (!error) {
        return std::string(unavailableCode);
    }
    try {
        std::rethrow_exception(error);
    } catch (const NativeException&) {
        return std::string(invalidCommandCode);
    } catch (const std::exception& failure) {
        const std::string_view description = failure.what();
        if (std::find(passedOnCodes.begin(), passedOnCodes.end(), description) != passedOnCodes.end()) {
            return std::string(description);
        }
    } catch (...) {
    }
    return std::string(unavailableCode);
}

JSONObject NativeMusicController::offlineSnapshot(std::string code) const {
    return JSONObject{{"provider", "applemusic"}, {"state", "offline"}, {"updatedAt", nowMs()},
                      {"track", nullptr},         {"positionMs", 0},    {"durationMs", 0},
                      {"code", std::move(code)}};
}

// ---- Snapshots

void NativeMusicController::tick(const std::string& run, const SnapshotHandler& handler) {
    if (!isCurrent(run)) {
        return;
    }
    JSONObject snapshot;
    try {
        snapshot = access->snapshot();
    } catch (...) {
        snapshot = offlineSnapshot(safeCode(std::current_exception()));
    }
    if (!isCurrent(run)) {
        return;
    }
    const auto key = artworkKey(snapshot);
    const auto cached = key ? artworkCache.find(*key) : artworkCache.end();
    if (cached != artworkCache.end()) {
        if (auto* track = trackObject(snapshot)) {
            track->insert_or_assign("artworkBase64", cached->second);
        }
    }
    latestSnapshot = snapshot;
    publish(std::move(snapshot), run, handler);
    if (key && cached == artworkCache.end() && !artworkPending) {
        artworkPending = true;
        artworkQueue.async([weak = weak_from_this(), key = *key, run, handler] {
            if (auto self = weak.lock()) {
                self->fetchArtwork(key, run, handler);
            }
        });
    }
}

void NativeMusicController::publish(JSONObject snapshot, const std::string& run,
                                    const SnapshotHandler& handler) {
    if (!isCurrent(run) || !handler) {
        return;
    }
    snapshot.insert_or_assign("generation", run);
    snapshot.insert_or_assign("sequence", ++snapshotSequence);
    handler(snapshot);
}

// ---- Artwork

std::optional<std::string> NativeMusicController::artworkKey(const JSONObject& snapshot) {
    const auto* track = trackObject(snapshot);
    if (!track) {
        return std::nullopt;
    }
    const auto* name = member(*track, "name");
    const auto* artist = member(*track, "artist");
    if (!name || !name->string() || !artist || !artist->string()) {
        return std::nullopt;
    }
    const auto* albumValue = member(*track, "album");
    const std::string* album = albumValue ? albumValue->string() : nullptr;
    // A length-prefixed join is unambiguous and, unlike JSON text, cannot fail on bytes that are not
    // valid UTF-8.
    std::string key;
    for (const std::string* part : {name->string(), artist->string(), album}) {
        const std::string_view text = part ? std::string_view(*part) : std::string_view();
        key += std::to_string(text.size());
        key += ':';
        key += text;
    }
    return key;
}

void NativeMusicController::fetchArtwork(std::string key, std::string run, SnapshotHandler handler) {
    std::optional<JSONObject> result;
    try {
        result = access->artworkSnapshot();
    } catch (...) {
        result.reset(); // no artwork this time; a later tick asks again
    }
    queue.async([weak = weak_from_this(), key = std::move(key), run = std::move(run),
                 handler = std::move(handler), result = std::move(result)] {
        if (auto self = weak.lock()) {
            self->applyArtwork(key, run, handler, result);
        }
    });
}

void NativeMusicController::applyArtwork(const std::string& key, const std::string& run,
                                         const SnapshotHandler& handler,
                                         const std::optional<JSONObject>& result) {
    artworkPending = false;
    if (!isCurrent(run) || artworkKey(latestSnapshot) != key || !result || artworkKey(*result) != key) {
        return;
    }
    const auto* fetchedTrack = trackObject(*result);
    const auto* artwork = fetchedTrack ? member(*fetchedTrack, "artworkBase64") : nullptr;
    const std::string* text = artwork ? artwork->string() : nullptr;
    auto* track = trackObject(latestSnapshot);
    if (!text || !track) {
        return;
    }
    if (artworkCache.size() >= artworkCacheLimit) {
        artworkCache.clear();
    }
    artworkCache.insert_or_assign(key, *text);
    track->insert_or_assign("artworkBase64", *text);
    publish(latestSnapshot, run, handler);
}

// ---- Commands

void NativeMusicController::command(const Envelope& envelope, CommandCompletion completion) {
    const auto reject = [&](std::string_view code) {
        completion(resultEnvelope(envelope, failure(code)));
    };
    if (envelope.type != "nativeCommand") {
        return reject(invalidCommandCode);
    }
    const auto* generationValue = member(envelope.payload, "generation");
    const auto* expiresValue = member(envelope.payload, "expiresAt");
    const std::string* run = generationValue ? generationValue->string() : nullptr;
    const auto expiresAt = expiresValue ? expiresValue->number() : std::nullopt;
    if (!run || !expiresAt || !std::isfinite(*expiresAt)) {
        return reject(invalidCommandCode);
    }
    const double remaining = *expiresAt - nowMs();
    std::optional<std::string_view> refusal;
    {
        std::lock_guard lock(admission);
        if (!generation || *generation != *run) {
            refusal = runChangedCode;
        } else if (!(remaining > 0 && remaining <= commandHorizonMs)) {
            refusal = expiredCode;
        } else if (commandCount >= maxCommands) {
            refusal = busyCode;
        } else {
            ++commandCount;
        }
    }
    if (refusal) {
        return reject(*refusal);
    }

    Command admitted{*run, *expiresAt, std::nullopt, std::nullopt, std::nullopt};
    if (const auto* action = member(envelope.payload, "action"); action && action->string()) {
        admitted.action = *action->string();
    }
    if (const auto* trackRef = member(envelope.payload, "trackRef"); trackRef && trackRef->string()) {
        admitted.trackRef = *trackRef->string();
    }
    if (const auto* desired = member(envelope.payload, "desiredState")) {
        admitted.desiredState = desired->boolean();
    }
    queue.async([weak = weak_from_this(), admitted = std::move(admitted), envelope,
                 completion = std::move(completion)] {
        const auto self = weak.lock();
        if (!self) {
            // Admitted commands are answered even when the controller went away with its run.
            completion(resultEnvelope(envelope, failure(runChangedCode)));
            return;
        }
        // The slot is free before the answer goes out, so a peer that answers with a new command at
        // once is admitted, and a receiver that throws cannot keep the slot.
        const Outcome outcome = [&] {
            struct Finish {
                NativeMusicController& controller;
                ~Finish() { controller.finishCommand(); }
            } finish{*self};
            return self->execute(admitted);
        }();
        completion(
            resultEnvelope(envelope, outcome.code ? failure(*outcome.code) : success(outcome.favorited)));
    });
}

NativeMusicController::Outcome NativeMusicController::execute(const Command& command) {
    const auto fail = [](std::string_view code) {
        return Outcome{false, std::string(code)};
    };
    if (!isCurrent(command.generation)) {
        return fail(runChangedCode);
    }
    if (command.expiresAt <= nowMs()) {
        return fail(expiredCode);
    }
    const bool setting = command.action == "setFavorite";
    bool favorited = false;
    try {
        const bool validRef =
            command.trackRef && !command.trackRef->empty() && command.trackRef->size() <= maxTrackRefBytes;
        const MusicAccess::Admission stillAdmitted = [weak = weak_from_this(), run = command.generation,
                                                      expiresAt = command.expiresAt] {
            const auto self = weak.lock();
            return self && self->isCurrent(run) && expiresAt > self->nowMs();
        };
        if (validRef && command.action == "getFavorite") {
            favorited = access->favorite(*command.trackRef, stillAdmitted);
        } else if (validRef && setting && command.desiredState) {
            favorited = access->setFavorite(*command.trackRef, *command.desiredState, stillAdmitted);
        } else {
            throw NativeException(NativeError::invalidCommand);
        }
    } catch (...) {
        return fail(isCurrent(command.generation) ? safeCode(std::current_exception())
                                                  : std::string(runChangedCode));
    }
    if (!isCurrent(command.generation)) {
        return fail(runChangedCode);
    }
    if (command.expiresAt <= nowMs()) {
        // A write that finished late may or may not have held.
        return fail(setting ? writeUncertainCode : expiredCode);
    }
    recordFavorite(*command.trackRef, favorited, command.generation);
    return Outcome{favorited, std::nullopt};
}

void NativeMusicController::recordFavorite(const std::string& trackRef, bool favorited,
                                           const std::string& run) {
    auto* track = trackObject(latestSnapshot);
    const auto* published = track ? member(*track, "trackRef") : nullptr;
    if (!published || !published->string() || *published->string() != trackRef) {
        return;
    }
    track->insert_or_assign("favorited", favorited);
    SnapshotHandler handler;
    {
        std::lock_guard lock(admission);
        if (generation && *generation == run) {
            handler = snapshotHandler;
        }
    }
    publish(latestSnapshot, run, handler); // the new state goes out before the reply
}

void NativeMusicController::finishCommand() {
    std::lock_guard lock(admission);
    --commandCount;
}

} // namespace kavrel
