// Playback snapshots: player state, position and the current track, with a verified capture of that
// track so a later favourite command acts on exactly it.

#include "MusicBridge/KVMusicBridge.hpp"
#include "MusicBridge/KVMusicDescriptor.hpp"
#include "MusicBridge/MusicBridgeError.hpp"
#include "MusicBridge/events/ObjectSpecifier.hpp"

#include <cmath>
#include <limits>

namespace kavrel {
namespace {

constexpr std::size_t maxNameBytes = 1000;
constexpr std::size_t maxArtistBytes = 1000;
constexpr std::size_t maxAlbumBytes = 1000;
constexpr std::size_t persistentIDLength = 16;

const char* stateText(FourCharCode code) {
    if (code == music::playerStatePlaying) {
        return "playing";
    }
    if (code == music::playerStateStopped) {
        return "stopped";
    }
    return "paused";
}

double milliseconds(double seconds) {
    return std::isfinite(seconds) ? std::max(seconds * 1000, 0.0) : 0;
}

KVValue code(OSStatus status) {
    return static_cast<double>(status);
}

AEDesc integerKey(std::int64_t value) {
    if (value >= std::numeric_limits<std::int32_t>::min() &&
        value <= std::numeric_limits<std::int32_t>::max()) {
        return AEDesc::makeLong(static_cast<std::int32_t>(value));
    }
    return AEDesc::makeComp(value);
}

} // namespace

KVDictionary KVMusicBridge::readSnapshot() {
    return readSnapshotWithCaptures(true);
}

KVDictionary KVMusicBridge::readPlaybackSnapshot() {
    return readSnapshotWithCaptures(false);
}

KVDictionary KVMusicBridge::readSnapshotWithCaptures(bool captures) {
    try {
        return readSnapshotSteps(captures);
    } catch (const MusicBridgeError&) {
        throw;
    } catch (...) {
        throw MusicBridgeError("music_unavailable");
    }
}

KVDictionary KVMusicBridge::readSnapshotSteps(bool capturing) {
    diagnostics = {};
    diagnostics.set("stage", "reading_playback");
    permissionStatus.reset();
    artworkTrack.reset();
    artworkSnapshot.reset();

    try {
        connect();
    } catch (const MusicBridgeError&) {
        if (permissionStatus) {
            diagnostics.set("automationStatus", code(*permissionStatus));
        }
        diagnostics.set("stage", "connection_failed");
        throw;
    }
    diagnostics.set("automationStatus", code(*permissionStatus));
    diagnostics.set("automationAllowed", true);
    const char* state = stateText(application->playerState());
    if (lastError) {
        throw MusicBridgeError(mappedError());
    }

    KVDictionary snapshot;
    snapshot.set("provider", "applemusic");
    snapshot.set("state", state);
    snapshot.set("updatedAt", std::trunc(timing.unixMilliseconds()));
    snapshot.set("positionMs", 0);
    snapshot.set("durationMs", 0);
    snapshot.set("track", nullptr);
    if (std::string_view(state) == "stopped") {
        diagnostics.set("stage", "stopped");
        return snapshot;
    }

    const auto track = application->currentTrack();
    std::string name;
    std::string artist;
    std::optional<std::string> album;
    double duration = 0;
    if (track) {
        name = track->name();
        artist = track->artist();
        album = track->album();
        duration = track->duration();
    }
    const double position = application->playerPosition();
    if (lastError) {
        throw MusicBridgeError(mappedError());
    }
    if (!track || name.empty() || artist.empty() || name.size() > maxNameBytes ||
        artist.size() > maxArtistBytes) {
        return snapshot; // a stream without artist and the like: nothing to share
    }
    if (album && album->size() > maxAlbumBytes) {
        album = "";
    }
    snapshot.set("positionMs", milliseconds(position));
    snapshot.set("durationMs", milliseconds(duration));

    const std::string persistentID = track->persistentID();
    const std::int64_t databaseID = track->databaseID();
    const std::int64_t itemID = track->itemID();
    diagnostics.set("identifierReadError", code(lastErrorCode()));
    diagnostics.set("persistentIdAvailable", persistentID.size() == persistentIDLength);
    diagnostics.set("databaseIdAvailable", databaseID >= 1);
    diagnostics.set("itemIdAvailable", itemID != 0);
    lastError.reset();

    KVCapturedTrack* capture = findCapture(persistentID, databaseID, name, artist);
    diagnostics.set("cachedReference", capture != nullptr);
    diagnostics.set("libraryLookupAttempted", false);
    if (capturing && capture == nullptr && itemID != 0 && databaseID >= 1 &&
        persistentID.size() == persistentIDLength) {
        auto made = std::make_unique<KVCapturedTrack>(
            KVCapturedTrack{persistentID, databaseID, artist, name, ports.makeReference(),
                            captureSpecifier(itemID), KVMusicSettlingGate(timing.uptime, timing.sleep)});
        lastError.reset();
        const bool verified = matches(*made);
        diagnostics.set("resolvedIdentityMatches", verified);
        diagnostics.set("resolvedIdentityError", code(lastErrorCode()));
        lastError.reset();
        if (verified) {
            capture = made.get();
            store(std::move(made));
        }
    }
    if (capture != nullptr) {
        const AEDesc* specifier = capture->descriptor ? &*capture->descriptor : nullptr;
        diagnostics.set("currentReferenceChain", KVMusicDescriptorDiagnosticChain(specifier));
        diagnostics.set("currentUserPlaylistShape", KVMusicDescriptorIsUserPlaylistTrack(specifier));
    }

    const bool writable = capturing && capture != nullptr && matches(*capture);
    diagnostics.set("capturedIdentityError", code(lastErrorCode()));
    std::optional<bool> favorite;
    if (writable) {
        favorite = readFavorite(*capture);
    } else if (capturing) {
        favorite = displayFavorite(persistentID, databaseID);
    }
    diagnostics.set("favoriteReadError", code(lastErrorCode()));
    diagnostics.set("favoriteReadable", favorite.has_value());
    diagnostics.set("favoriteWritable", writable);
    diagnostics.set("stage", !writable  ? "reference_unavailable"
                             : favorite ? "ready"
                                        : "favorite_read_failed");
    lastError.reset();

    KVDictionary trackObject;
    trackObject.set("trackRef", writable ? capture->ref : "");
    trackObject.set("name", name);
    trackObject.set("artist", artist);
    trackObject.set("album", album.value_or(""));
    trackObject.set("favorited", favorite ? KVValue(*favorite) : KVValue(nullptr));
    trackObject.set("favoriteWritable", writable);

    const std::string identity = name + "\n" + artist + "\n" + album.value_or("") + "\n" + persistentID;
    if (identity != artworkIdentity) {
        cachedArtwork.reset();
        artworkIdentity = identity;
    }
    if (cachedArtwork) {
        trackObject.set("artworkBase64", *cachedArtwork);
    }
    snapshot.set("track", std::move(trackObject));
    artworkTrack = track;
    artworkSnapshot = snapshot;
    return snapshot;
}

KVCapturedTrack* KVMusicBridge::findCapture(const std::string& persistentID, std::int64_t databaseID,
                                            const std::string& name, const std::string& artist) {
    for (auto& [ref, capture] : captures) {
        if (capture->persistentID == persistentID && capture->databaseID == databaseID &&
            capture->name == name && capture->artist == artist) {
            return capture.get();
        }
    }
    return nullptr;
}

// The library file by unique ID, else the current track's own specifier when it is a stream, a
// subscription track or a user-playlist track.
std::optional<AEDesc> KVMusicBridge::captureSpecifier(std::int64_t itemID) {
    diagnostics.set("libraryLookupAttempted", true);
    auto specifier = libraryFile(itemID);
    diagnostics.set("libraryLookupError", code(lastErrorCode()));
    diagnostics.set("libraryReferenceAccepted", specifier.has_value());
    if (specifier) {
        return specifier;
    }
    lastError.reset();
    auto current = property(music::propCurrentTrack, AEDesc());
    const AEDesc* found = current ? &*current : nullptr;
    diagnostics.set("currentReferenceError", code(lastErrorCode()));
    diagnostics.set("currentReferenceChain", KVMusicDescriptorDiagnosticChain(found));
    diagnostics.set("currentUserPlaylistShape", KVMusicDescriptorIsUserPlaylistTrack(found));
    diagnostics.set("currentFileShape", KVMusicDescriptorIsLibraryFile(found));
    diagnostics.set("currentStreamShape", KVMusicDescriptorIsStream(found));
    diagnostics.set("currentSubscriptionShape", KVMusicDescriptorIsSubscriptionTrack(found));
    const KVDictionary shape = KVMusicDescriptorDiagnosticShape(found);
    diagnostics.set("currentDescriptorType", *shape.find("descriptorType"));
    diagnostics.set("currentReferenceClass", *shape.find("referenceClass"));
    diagnostics.set("currentReferenceForm", *shape.find("referenceForm"));
    diagnostics.set("currentContainerClass", *shape.find("containerClass"));
    if (!lastError && (KVMusicDescriptorIsStream(found) || KVMusicDescriptorIsSubscriptionTrack(found) ||
                       KVMusicDescriptorIsUserPlaylistTrack(found))) {
        return current;
    }
    return std::nullopt;
}

std::optional<AEDesc> KVMusicBridge::libraryFile(std::int64_t itemID) {
    const AEDesc playlist = createObjSpecifier(music::classLibraryPlaylist, AEDesc(),
                                               ae::formAbsolutePosition, AEDesc::makeLong(1));
    const AEDesc track =
        createObjSpecifier(music::classTrack, playlist, ae::formUniqueID, integerKey(itemID));
    auto result = event(ae::eventGetData, track, std::nullopt);
    if (!result) {
        return std::nullopt;
    }
    const KVDictionary shape = KVMusicDescriptorDiagnosticShape(&*result);
    diagnostics.set("libraryDescriptorType", *shape.find("descriptorType"));
    diagnostics.set("libraryReferenceClass", *shape.find("referenceClass"));
    if (!KVMusicDescriptorIsLibraryFile(&*result)) {
        return std::nullopt;
    }
    return result;
}

void KVMusicBridge::store(std::unique_ptr<KVCapturedTrack> capture) {
    order.push_back(capture->ref);
    captures.emplace(capture->ref, std::move(capture));
    while (order.size() > maxCaptures) {
        captures.erase(order.front());
        order.pop_front();
    }
}

bool KVMusicBridge::matches(const KVCapturedTrack& capture) {
    const AEDesc* specifier = capture.descriptor ? &*capture.descriptor : nullptr;
    if (!KVMusicDescriptorIsReadableTrack(specifier)) {
        return false;
    }
    const auto persistentID = property(music::propPersistentID, *specifier);
    const auto databaseID = property(music::propDatabaseID, *specifier);
    if (lastError || !persistentID || !databaseID) {
        return false;
    }
    const auto database =
        databaseID->type() == ae::typeLong ? databaseID->fixedValue<std::int32_t>() : std::nullopt;
    return persistentID->type() == ae::typeUTF8Text && persistentID->text() == capture.persistentID &&
           database && *database == capture.databaseID;
}

std::optional<bool> KVMusicBridge::readFavorite(const KVCapturedTrack& capture) {
    if (!capture.descriptor) {
        return std::nullopt;
    }
    const auto favorite = property(music::propFavorited, *capture.descriptor);
    if (lastError || !favorite) {
        return std::nullopt;
    }
    return KVMusicDescriptorBooleanValue(&*favorite);
}

std::optional<bool> KVMusicBridge::displayFavorite(const std::string& persistentID, std::int64_t databaseID) {
    if (databaseID < 1 || persistentID.size() != persistentIDLength) {
        return std::nullopt;
    }
    lastError.reset();
    const auto current = property(music::propCurrentTrack, AEDesc());
    if (lastError || !current || !KVMusicDescriptorIsReadableTrack(&*current)) {
        return std::nullopt;
    }
    const KVCapturedTrack expected{persistentID, databaseID, {}, {}, {}, *current, {}};
    if (!matches(expected)) {
        return std::nullopt;
    }
    const auto favorite = property(music::propFavorited, *current);
    if (lastError || !favorite || !matches(expected)) {
        return std::nullopt;
    }
    return KVMusicDescriptorBooleanValue(&*favorite);
}

} // namespace kavrel
