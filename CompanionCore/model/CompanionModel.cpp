#include "CompanionCore/model/CompanionModel.hpp"

#include "CompanionCore/ipc/OriginValidator.hpp"
#include "CompanionCore/model/Clipboard.hpp"
#include "CompanionCore/model/Logger.hpp"
#include "CompanionCore/model/Preferences.hpp"
#include "CompanionCore/model/UnicodeWhitespace.hpp"
#include "CompanionCore/music/NativeMusicController.hpp"
#include "CompanionCore/runtime/PlaceWording.hpp"
#include "CompanionCore/runtime/UUID.hpp"

#include <utility>

namespace kavrel {

namespace {

constexpr std::string_view originText = "Enter an HTTPS origin without a path, credentials, or query.";
constexpr std::string_view startFailedText =
    "Pair this companion with Kavrel to connect. Your existing pairing is kept until replacement succeeds.";
constexpr std::string_view codeTooLongText = "That pairing code is too long.";
constexpr std::string_view pairedText = "Paired. Enable your sources in Kavrel Settings.";
constexpr std::string_view pausedText = "Connector paused. Reconnect to resume.";
constexpr std::string_view roonResetText = "Approve this extension again in Roon Settings → Extensions.";
constexpr std::string_view roonResetFailedText =
    "Couldn’t reset Roon authorization. Pause the connector and try again.";
constexpr std::string_view waitingForMusicText = "Waiting for Music";
constexpr std::string_view sharingOffText = PlaceWording::musicSharingOff;
constexpr std::string_view automationText =
    "Allow Music in System Settings → Privacy & Security → Automation.";
constexpr std::string_view permissionGrantedText = "Music permission granted.";
constexpr std::string_view permissionFailedText =
    "Allow Music access in System Settings → Privacy & Security → Automation.";
constexpr std::string_view diagnosticsCopiedText =
    "Music diagnostics copied. No song names, track IDs or account details are included.";

const JSONValue* member(const JSONObject& object, std::string_view key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &found->second;
}

const std::string* stringMember(const JSONObject& object, std::string_view key) {
    const auto* value = member(object, key);
    return value ? value->string() : nullptr;
}

// Only a JSON true under "ok" is success; an empty payload never is.
bool succeeded(const std::optional<Envelope>& reply) {
    const auto* ok = reply ? member(reply->payload, "ok") : nullptr;
    return ok && ok->boolean() == true;
}

std::string failureCode(const std::optional<Envelope>& reply) {
    const std::string* code = reply ? stringMember(reply->payload, "code") : nullptr;
    return code ? *code : "failed";
}

std::string readString(const Preferences& preferences, std::string_view key, std::string_view fallback) {
    const auto value = preferences.value(key);
    const std::string* text = value ? value->string() : nullptr;
    return text ? *text : std::string(fallback);
}

bool readBool(const Preferences& preferences, std::string_view key, bool fallback) {
    const auto value = preferences.value(key);
    return value ? value->boolean().value_or(fallback) : fallback;
}

} // namespace

std::shared_ptr<CompanionModel> CompanionModel::create(Ports ports) {
    auto model = std::make_shared<CompanionModel>(Token{}, std::move(ports));
    const std::weak_ptr<CompanionModel> weak = model;
    model->supervisor->setOnReady([weak] {
        if (auto self = weak.lock()) {
            self->onReady();
        }
    });
    model->supervisor->setOnUnavailable([weak] {
        if (auto self = weak.lock()) {
            self->onUnavailable();
        }
    });
    model->supervisor->setOnNativeCommand([weak](const Envelope& command) {
        if (auto self = weak.lock()) {
            self->onNativeCommand(command);
        }
    });
    return model;
}

CompanionModel::CompanionModel(Token, Ports ports)
    : loop(ports.loop), supervisor(std::move(ports.helper)), music(std::move(ports.music)),
      preferences(ports.preferences), clipboard(ports.clipboard), logger(ports.logger),
      build(std::move(ports.build)), discoveryRequest(std::move(ports.discoveryRequest)),
      origin(readString(preferences, "bridgeOrigin", defaultOrigin)),
      host(readString(preferences, "roonHost", "")), code(""), noticeText(""),
      musicEnabled(readBool(preferences, "appleMusicEnabled", false)),
      // Only a stored Boolean counts; anything else leaves the relay on.
      roonSwitch(readBool(preferences, "roonEnabled", true)), musicLine(std::string(waitingForMusicText)),
      busyFlag(false), discovery(RoonDiscoveryState::idle), controlGeneration(makeUUIDString()),
      discoveryGeneration(makeUUIDString()) {
    if (!discoveryRequest) {
        discoveryRequest =
            [helper = std::weak_ptr<HelperSupervisor>(supervisor)](HelperSupervisor::Completion completion) {
                if (auto live = helper.lock()) {
                    live->send("discoverRoon", {}, std::move(completion));
                }
            };
    }
}

void CompanionModel::launch() {
    supervisor->launch();
}

void CompanionModel::shutdown() {
    musicAuthorizationRequest.reset();
    controlGeneration = makeUUIDString();
    publishing = false;
    nativeGeneration.reset();
    music->stop();
    localHelperAvailable = false;
    discoveryGeneration = makeUUIDString();
    discovery.set(RoonDiscoveryState::unavailable);
    supervisor->shutdown();
}

// ---- Supervisor callbacks

void CompanionModel::onReady() {
    localHelperAvailable = true;
    if (roonSwitch.value() && !attemptedAutomaticDiscovery &&
        UnicodeWhitespace::trimmed(host.value()).empty()) {
        attemptedAutomaticDiscovery = true;
        findRoonServer();
    }
    connect();
}

void CompanionModel::onUnavailable() {
    controlGeneration = makeUUIDString();
    publishing = false;
    nativeGeneration.reset();
    music->stop();
    busyFlag.set(false);
    localHelperAvailable = false;
    discoveryGeneration = makeUUIDString();
    discovery.set(RoonDiscoveryState::unavailable);
}

void CompanionModel::onNativeCommand(const Envelope& command) {
    const std::string* commandGeneration = stringMember(command.payload, "nativeGeneration");
    const bool admitted = musicEnabled.value() && publishing && supervisor->ready().value() &&
                          nativeGeneration && !command.payload.empty() && commandGeneration &&
                          *commandGeneration == *nativeGeneration;
    if (admitted) {
        music->command(command, [weak = weak_from_this(), loop = &loop](Envelope result) {
            loop->post([weak, result = std::move(result)] {
                if (auto self = weak.lock()) {
                    self->supervisor->reply(result);
                }
            });
        });
        return;
    }
    JSONObject payload{{"ok", false}, {"code", "native_bridge_unavailable"}};
    for (const std::string_view key : {"generation", "nativeGeneration"}) {
        if (const auto* value = member(command.payload, key)) {
            payload.insert_or_assign(std::string(key), *value);
        }
    }
    supervisor->reply(Envelope(command.id, "nativeResult", std::move(payload)));
}

// ---- Control transactions

bool CompanionModel::resetPublishing() {
    const bool wasPublishing = publishing;
    controlGeneration = makeUUIDString();
    publishing = false;
    nativeGeneration.reset();
    music->stop();
    return wasPublishing;
}

void CompanionModel::connect() {
    if (busyFlag.value()) {
        return;
    }
    const auto validated = OriginValidator::validate(origin.value());
    if (host.value().size() > maxRoonHostBytes || !validated) {
        noticeText.set(std::string(originText));
        return;
    }
    busyFlag.set(true);
    noticeText.set("");
    const bool wasPublishing = resetPublishing();

    std::string_view sentOrigin = validated->absoluteString;
    while (!sentOrigin.empty() && sentOrigin.front() == '/') {
        sentOrigin.remove_prefix(1);
    }
    while (!sentOrigin.empty() && sentOrigin.back() == '/') {
        sentOrigin.remove_suffix(1);
    }
    JSONObject payload{{"bridgeOrigin", sentOrigin},
                       {"roonHost", host.value()},
                       {"appleMusicEnabled", musicEnabled.value()},
                       {"roonEnabled", roonSwitch.value()}};
    sendInTransaction("configure", std::move(payload), controlGeneration,
                      [wasPublishing](CompanionModel& self, const std::optional<Envelope>& reply) {
                          self.finishExchange(reply, wasPublishing, [&self] {
                              // Stored only once the connector took them, so a refused value never sticks.
                              self.preferences.set("bridgeOrigin", self.origin.value());
                              self.preferences.set("roonHost", self.host.value());
                          });
                      });
}

void CompanionModel::sendInTransaction(std::string_view type, JSONObject payload,
                                       const Transaction& transaction, TransactionReply onReply) {
    supervisor->send(
        type, std::move(payload),
        [weak = weak_from_this(), transaction, onReply = std::move(onReply)](std::optional<Envelope> reply) {
            const auto self = weak.lock();
            if (self && self->isCurrent(transaction)) {
                onReply(*self, reply);
            }
        });
}

void CompanionModel::finishExchange(const std::optional<Envelope>& reply, bool wasPublishing,
                                    const std::function<void()>& accepted) {
    busyFlag.set(false);
    if (succeeded(reply)) {
        accepted();
        startConnector(controlGeneration);
        return;
    }
    noticeText.set(HelperSupervisor::describe(failureCode(reply)));
    resumeIfPublishing(controlGeneration, wasPublishing);
}

void CompanionModel::startConnector(const Transaction& transaction) {
    sendInTransaction(
        "start", {}, transaction, [](CompanionModel& self, const std::optional<Envelope>& reply) {
            self.publishing = succeeded(reply);
            self.nativeGeneration.reset();
            if (reply) {
                const auto* data = member(reply->payload, "data");
                const auto* object = data ? data->object() : nullptr;
                if (object && !object->empty()) {
                    if (const std::string* generation = stringMember(*object, "nativeGeneration")) {
                        self.nativeGeneration = *generation;
                    }
                }
            }
            if (self.publishing) {
                self.startMusic();
            }
            self.supervisor->refreshStatus();
            if (!self.publishing) {
                self.noticeText.set(std::string(startFailedText));
            }
        });
}

void CompanionModel::resumeIfPublishing(const Transaction& transaction, bool wasPublishing) {
    if (wasPublishing && supervisor->ready().value()) {
        resumeMusic(transaction);
    }
}

void CompanionModel::resumeMusic(const Transaction& transaction) {
    sendInTransaction("stop", {}, transaction,
                      [transaction](CompanionModel& self, const std::optional<Envelope>&) {
                          self.startConnector(transaction);
                      });
}

void CompanionModel::pair(bool replace) {
    if (busyFlag.value()) {
        return;
    }
    const std::string trimmed(UnicodeWhitespace::trimmed(code.value()));
    if (trimmed.empty()) {
        return;
    }
    if (code.value().size() > maxPairingCodeBytes) {
        noticeText.set(std::string(codeTooLongText));
        return;
    }
    busyFlag.set(true);
    const bool wasPublishing = resetPublishing();
    code.set(""); // used once, whatever the outcome
    sendInTransaction("pair", JSONObject{{"code", trimmed}, {"replace", replace}}, controlGeneration,
                      [wasPublishing](CompanionModel& self, const std::optional<Envelope>& reply) {
                          self.finishExchange(reply, wasPublishing,
                                              [&self] { self.noticeText.set(std::string(pairedText)); });
                      });
}

void CompanionModel::stop() {
    resetPublishing();
    busyFlag.set(false);
    supervisor->send("stop", {}, [weak = weak_from_this()](std::optional<Envelope>) {
        if (auto self = weak.lock()) {
            self->supervisor->refreshStatus();
        }
    });
    noticeText.set(std::string(pausedText));
}

void CompanionModel::resetRoon() {
    if (busyFlag.value()) {
        return;
    }
    const bool wasPublishing = resetPublishing();
    sendInTransaction("resetRoon", {}, controlGeneration,
                      [wasPublishing](CompanionModel& self, const std::optional<Envelope>& reply) {
                          self.noticeText.set(
                              std::string(succeeded(reply) ? roonResetText : roonResetFailedText));
                          self.resumeIfPublishing(self.controlGeneration, wasPublishing);
                          self.supervisor->refreshStatus();
                      });
}

void CompanionModel::setRoonEnabled(bool enabled) {
    if (busyFlag.value()) {
        return;
    }
    roonSwitch.set(enabled);
    preferences.set("roonEnabled", enabled);
    if (supervisor->ready().value()) {
        connect();
    }
}

// ---- Roon discovery

void CompanionModel::findRoonServer() {
    if (!localHelperAvailable) {
        discovery.set(RoonDiscoveryState::unavailable);
        return;
    }
    if (discovery.value() == RoonDiscoveryState::searching) {
        return;
    }
    discoveryGeneration = makeUUIDString();
    discovery.set(RoonDiscoveryState::searching);
    discoveryRequest([weak = weak_from_this(), request = discoveryGeneration](std::optional<Envelope> reply) {
        const auto self = weak.lock();
        if (self && self->localHelperAvailable && request == self->discoveryGeneration) {
            self->finishDiscovery(reply);
        }
    });
}

void CompanionModel::finishDiscovery(const std::optional<Envelope>& reply) {
    auto state = RoonDiscoveryState::unavailable;
    if (reply && !reply->payload.empty()) {
        const auto* data = member(reply->payload, "data");
        const auto* object = data ? data->object() : nullptr;
        const auto* found = object && !object->empty() ? member(*object, "found") : nullptr;
        const std::string* failure = stringMember(reply->payload, "code");
        if (succeeded(reply) && found && found->boolean() == true) {
            state = RoonDiscoveryState::found;
        } else if (failure && *failure == "roon_not_found") {
            state = RoonDiscoveryState::notFound;
        } else if (failure && *failure == "local_network_denied") {
            state = RoonDiscoveryState::networkDenied;
        }
    }
    discovery.set(state);
    logger.info(discoveryLogCategory, "outcome=" + std::string(outcomeLabel(state)));
}

// ---- Music sharing

void CompanionModel::setAppleMusicEnabled(bool enabled) {
    if (busyFlag.value()) {
        return;
    }
    const bool switchingOn = enabled && !musicEnabled.value();
    musicEnabled.set(enabled);
    if (!enabled) {
        musicAuthorizationRequest.reset();
    }
    preferences.set("appleMusicEnabled", enabled);
    resetPublishing();
    musicLine.set(std::string(enabled ? waitingForMusicText : sharingOffText));
    if (supervisor->ready().value()) {
        connect();
    }
    if (switchingOn) {
        allowMusic();
    }
}

void CompanionModel::allowMusic() {
    if (!musicEnabled.value() || musicAuthorizationRequest) {
        return;
    }
    musicAuthorizationRequest = makeUUIDString();
    music->requestAuthorization([weak = weak_from_this(), loop = &loop,
                                 request = *musicAuthorizationRequest](std::optional<std::string> error) {
        loop->post([weak, request, failed = error.has_value()] {
            const auto self = weak.lock();
            if (!self || !self->musicEnabled.value() || self->musicAuthorizationRequest != request) {
                return;
            }
            self->musicAuthorizationRequest.reset();
            self->noticeText.set(std::string(failed ? permissionFailedText : permissionGrantedText));
        });
    });
}

void CompanionModel::startMusic() {
    if (!musicEnabled.value() || !publishing || !supervisor->ready().value()) {
        return;
    }
    music->start([weak = weak_from_this(), loop = &loop](const JSONObject& snapshot) {
        loop->post([weak, snapshot] {
            if (auto self = weak.lock()) {
                self->receiveSnapshot(snapshot);
            }
        });
    });
}

void CompanionModel::receiveSnapshot(JSONObject snapshot) {
    const std::string* run = stringMember(snapshot, "generation");
    if (!run || !music->isCurrent(*run)) {
        return;
    }
    const std::string* failure = stringMember(snapshot, "code");
    if (failure && (*failure == "automation_required" || *failure == "automation_denied")) {
        musicLine.set(std::string(automationText));
    } else {
        const std::string* state = stringMember(snapshot, "state");
        musicLine.set("Music: " + (state ? *state : std::string("offline")));
    }
    if (supervisor->ready().value() && publishing && nativeGeneration) {
        snapshot.insert_or_assign("nativeGeneration", *nativeGeneration);
        supervisor->send("nativeSnapshot", std::move(snapshot));
    }
}

void CompanionModel::copyMusicDiagnostics() {
    std::string header =
        "Kavrel Companion " + build.shortVersion + " (" + build.build + ") · " + build.osVersion;
    // The clipboard outlives the model; the report is copied even when the model is gone by then.
    music->diagnostics([weak = weak_from_this(), loop = &loop, clipboard = &clipboard,
                        header = std::move(header)](std::string report) {
        loop->post([weak, clipboard, text = header + "\n" + report] {
            clipboard->setText(text);
            if (auto self = weak.lock()) {
                self->noticeText.set(std::string(diagnosticsCopiedText));
            }
        });
    });
}

} // namespace kavrel
