#include "MusicBridge/KVMusicBridge.hpp"

#include "MusicBridge/MusicBridgeError.hpp"
#include "MusicBridge/events/ObjectSpecifier.hpp"

#include <chrono>

namespace kavrel {

KVMusicBridge::Timing KVMusicBridge::Timing::system() {
    return {steadySeconds,
            [] {
                using namespace std::chrono;
                return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
            },
            sleepSeconds};
}

KVMusicBridge::KVMusicBridge(Ports ports, Timing timing)
    : ports(std::move(ports)), timing(std::move(timing)) {
    diagnostics.set("stage", "not_observed");
}

// The application object holds a pointer to this delegate; it goes first.
KVMusicBridge::~KVMusicBridge() {
    application.reset();
}

void KVMusicBridge::eventDidFail(OSStatus status) {
    // The first failure is the one that explains the rest.
    if (!lastError) {
        lastError = status;
    }
}

std::optional<std::string> KVMusicBridge::permission(bool ask) {
    const AEDesc address = AEDesc::makeBundleID(bundleIdentifier);
    const OSStatus status =
        ports.target.determinePermissionToAutomate(address, ae::eventClassRequired, ae::eventGetData, ask);
    permissionStatus = status;
    if (status == status::noErr) {
        return std::nullopt;
    }
    return status == status::errAEEventWouldRequireUserConsent ? "automation_required" : "automation_denied";
}

void KVMusicBridge::requestPermission() {
    if (auto refused = permission(true)) {
        throw MusicBridgeError(*refused);
    }
}

void KVMusicBridge::connect() {
    if (!ports.target.hasRunningApplication(bundleIdentifier)) {
        throw MusicBridgeError("music_not_running");
    }
    if (auto refused = permission(false)) {
        throw MusicBridgeError(*refused);
    }
    if (!application) {
        application =
            ports.scripting(bundleIdentifier, {this, kMusicTimeoutTicks, kAEWaitReplyNeverInteract});
    }
    lastError.reset();
    if (!application) {
        throw MusicBridgeError("music_unavailable");
    }
}

std::string KVMusicBridge::mappedError() const {
    switch (lastErrorCode()) {
    case status::errAEEventNotPermitted:
        return "automation_denied";
    case status::errAETimeout:
        return "music_timeout";
    default:
        return "music_unavailable";
    }
}

std::optional<AEDesc> KVMusicBridge::event(FourCharCode eventID, const AEDesc& target,
                                           std::optional<bool> value) {
    AppleEvent event{ae::eventClassCore, eventID, AEDesc::makeBundleID(bundleIdentifier)};
    event.parameters.putParam(ae::keyDirectObject, target);
    if (value) {
        event.parameters.putParam(ae::keyData, AEDesc::makeBoolean(*value));
    }
    AEDesc reply;
    OSStatus status = ports.target.send(event, reply, kAEWaitReplyNeverInteract, kMusicTimeoutTicks);
    if (status == status::noErr) {
        if (const AEDesc* number = reply.param(ae::keyErrorNumber)) {
            const auto code =
                number->type() == ae::typeLong ? number->fixedValue<std::int32_t>() : std::nullopt;
            status = code.value_or(status::paramErr);
        }
    }
    if (status == status::noErr && !value) {
        if (const AEDesc* result = reply.param(ae::keyDirectObject)) {
            return *result;
        }
        status = status::errAEDescNotFound;
    }
    if (status != status::noErr) {
        lastError = status;
        return std::nullopt;
    }
    return AEDesc();
}

std::optional<AEDesc> KVMusicBridge::property(FourCharCode code, const AEDesc& container,
                                              std::optional<bool> value) {
    const AEDesc specifier =
        createObjSpecifier(ae::classProperty, container, ae::formPropertyID, AEDesc::makeType(code));
    return event(value ? ae::eventSetData : ae::eventGetData, specifier, value);
}

std::optional<std::string> KVMusicBridge::artwork(MusicScriptingTrack& track) {
    if (!ports.artwork) {
        return std::nullopt;
    }
    try {
        auto data = track.artworkData();
        if (!data || data->size() > maxArtworkBytes) {
            return std::nullopt;
        }
        return ports.artwork(*data);
    } catch (...) {
        return std::nullopt; // no artwork is an answer, never a failure
    }
}

KVDictionary KVMusicBridge::readArtworkSnapshot() {
    if (!artworkTrack || !artworkSnapshot) {
        return {};
    }
    if (cachedArtwork) {
        return *artworkSnapshot;
    }
    auto text = artwork(*artworkTrack);
    lastError.reset();
    if (!text) {
        return {};
    }
    cachedArtwork = *text;
    KVDictionary snapshot = *artworkSnapshot;
    if (KVValue* track = snapshot.find("track"); track != nullptr && track->dictionary() != nullptr) {
        track->dictionary()->set("artworkBase64", *text);
    }
    return snapshot;
}

} // namespace kavrel
