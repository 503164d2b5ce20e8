#include "MusicBridge/simulated/SimulatedMusicApp.hpp"

#include "MusicBridge/events/ObjectSpecifier.hpp"

namespace kavrel {
namespace {

AEDesc byID(DescType desiredClass, const AEDesc& container, std::int64_t id) {
    return createObjSpecifier(desiredClass, container, ae::formUniqueID,
                              AEDesc::makeLong(static_cast<std::int32_t>(id)));
}

AEDesc source() {
    return byID(music::classSource, AEDesc(), SimulatedMusicApp::sourceID);
}

void replyError(AEDesc& reply, OSStatus status) {
    reply.putParam(ae::keyErrorNumber, AEDesc::makeLong(status));
}

} // namespace

// Scripting reads of the application object: failures go to the delegate and read as empty values.
class SimulatedMusicApp::Scripting final : public MusicScripting {
public:
    Scripting(SimulatedMusicApp& app, MusicScriptingDelegate* delegate) : app(app), delegate(delegate) {}

    FourCharCode playerState() override {
        return read<FourCharCode>([](SimulatedMusicApp& state) { return state.playerState; });
    }

    double playerPosition() override {
        return read<double>([](SimulatedMusicApp& state) { return state.position; });
    }

    std::shared_ptr<MusicScriptingTrack> currentTrack() override;

    // Runs one read under the app's lock, or reports the app's failure to the delegate.
    template <typename T, typename Read> T read(Read reader) {
        std::optional<OSStatus> failed;
        T value{};
        {
            std::lock_guard lock(app.mutex);
            failed = app.running ? app.failure : std::optional<OSStatus>(status::procNotFound);
            if (!failed) {
                value = reader(app);
            }
        }
        if (failed) {
            delegate->eventDidFail(*failed);
        }
        return value;
    }

    SimulatedMusicApp& app;
    MusicScriptingDelegate* delegate;
};

// A fixed reference to one library track: later reads see that track's current properties.
class SimulatedMusicApp::ScriptingTrack final : public MusicScriptingTrack {
public:
    ScriptingTrack(Scripting& scripting, std::int64_t itemID) : scripting(scripting), key(itemID) {}

    std::string name() override { return field<std::string>(&Track::name); }
    std::string artist() override { return field<std::string>(&Track::artist); }
    std::optional<std::string> album() override { return field<std::optional<std::string>>(&Track::album); }
    double duration() override { return field<double>(&Track::duration); }
    std::string persistentID() override { return field<std::string>(&Track::persistentID); }
    std::int64_t databaseID() override { return field<std::int32_t>(&Track::databaseID); }
    std::int64_t itemID() override { return field<std::int64_t>(&Track::itemID); }
    std::optional<std::vector<std::uint8_t>> artworkData() override {
        return field<std::optional<std::vector<std::uint8_t>>>(&Track::artwork);
    }

private:
    template <typename T, typename Member> T field(Member member) {
        bool missing = false;
        T value = scripting.read<T>([&](SimulatedMusicApp& app) -> T {
            const auto found = app.library.find(key);
            if (found == app.library.end()) {
                missing = true;
                return T{};
            }
            return found->second.*member;
        });
        if (missing) {
            scripting.delegate->eventDidFail(status::errAENoSuchObject);
        }
        return value;
    }

    Scripting& scripting;
    std::int64_t key; // the library's key of the track, fixed at resolution
};

std::shared_ptr<MusicScriptingTrack> SimulatedMusicApp::Scripting::currentTrack() {
    const auto playing =
        read<std::optional<std::int64_t>>([](SimulatedMusicApp& state) { return state.current; });
    return playing ? std::make_shared<ScriptingTrack>(*this, *playing) : nullptr;
}

void SimulatedMusicApp::addTrack(Track track) {
    std::lock_guard lock(mutex);
    const auto id = track.itemID;
    library.insert_or_assign(id, std::move(track));
}

void SimulatedMusicApp::play(std::int64_t itemID, FourCharCode state) {
    std::lock_guard lock(mutex);
    current = itemID;
    playerState = state;
}

void SimulatedMusicApp::setPlayerState(FourCharCode state) {
    std::lock_guard lock(mutex);
    playerState = state;
}

void SimulatedMusicApp::setPosition(double seconds) {
    std::lock_guard lock(mutex);
    position = seconds;
}

void SimulatedMusicApp::setFavorite(std::int64_t itemID, bool favorited) {
    std::lock_guard lock(mutex);
    library.at(itemID).favorited = favorited;
}

void SimulatedMusicApp::setPersistentID(std::int64_t itemID, std::string persistentID) {
    std::lock_guard lock(mutex);
    library.at(itemID).persistentID = std::move(persistentID);
}

void SimulatedMusicApp::setName(std::int64_t itemID, std::string name) {
    std::lock_guard lock(mutex);
    library.at(itemID).name = std::move(name);
}

std::optional<bool> SimulatedMusicApp::favorite(std::int64_t itemID) const {
    std::lock_guard lock(mutex);
    const auto found = library.find(itemID);
    return found == library.end() ? std::nullopt : std::optional<bool>(found->second.favorited);
}

void SimulatedMusicApp::setRunning(bool value) {
    std::lock_guard lock(mutex);
    running = value;
}

void SimulatedMusicApp::setPermission(OSStatus status, bool grant) {
    std::lock_guard lock(mutex);
    permission = status;
    grantWhenAsked = grant;
}

void SimulatedMusicApp::failEverything(std::optional<OSStatus> status) {
    std::lock_guard lock(mutex);
    failure = status;
}

void SimulatedMusicApp::failWrites(std::optional<OSStatus> status) {
    std::lock_guard lock(mutex);
    writeFailure = status;
}

void SimulatedMusicApp::revertWritesAfterReads(std::optional<int> reads) {
    std::lock_guard lock(mutex);
    revertAfterReads = reads;
}

int SimulatedMusicApp::eventsSent() const {
    std::lock_guard lock(mutex);
    return events;
}

int SimulatedMusicApp::favoriteWrites() const {
    std::lock_guard lock(mutex);
    return writes;
}

int SimulatedMusicApp::permissionPrompts() const {
    std::lock_guard lock(mutex);
    return prompts;
}

MusicScriptingFactory SimulatedMusicApp::scriptingFactory() {
    return
        [this](std::string_view, const MusicScriptingSettings& settings) -> std::unique_ptr<MusicScripting> {
            return std::make_unique<Scripting>(*this, settings.delegate);
        };
}

bool SimulatedMusicApp::hasRunningApplication(std::string_view) {
    std::lock_guard lock(mutex);
    return running;
}

OSStatus SimulatedMusicApp::determinePermissionToAutomate(const AEDesc&, FourCharCode, FourCharCode,
                                                          bool askUserIfNeeded) {
    std::lock_guard lock(mutex);
    if (askUserIfNeeded && permission == status::errAEEventWouldRequireUserConsent) {
        ++prompts;
        if (grantWhenAsked) {
            permission = status::noErr;
        }
    }
    return permission;
}

AEDesc SimulatedMusicApp::libraryFileSpecifier(const Track& track) const {
    return byID(music::classFileTrack, source(), track.itemID);
}

// What the app answers for its current track: file tracks through the library playlist (a shape the
// bridge does not capture), the others in their own containers.
AEDesc SimulatedMusicApp::specifierOf(const Track& track) const {
    switch (track.kind) {
    case Kind::fileTrack:
        return byID(music::classFileTrack, byID(music::classLibraryPlaylist, source(), playlistID),
                    track.itemID);
    case Kind::stream:
        return byID(music::classURLTrack, source(), track.itemID);
    case Kind::subscriptionTrack:
        return byID(music::classSharedTrack, byID(music::classSubscriptionPlaylist, source(), playlistID),
                    track.itemID);
    case Kind::userPlaylistTrack:
        return byID(music::classSharedTrack, byID(music::classUserPlaylist, source(), playlistID),
                    track.itemID);
    }
    return {};
}

SimulatedMusicApp::Track* SimulatedMusicApp::resolveTrack(const AEDesc& specifier) {
    const auto parts = readObjectSpecifier(specifier);
    if (!parts) {
        return nullptr;
    }
    std::optional<std::int64_t> id;
    if (parts->keyData->type() == ae::typeLong) {
        id = parts->keyData->fixedValue<std::int32_t>();
    } else if (parts->keyData->type() == ae::typeComp) {
        id = parts->keyData->fixedValue<std::int64_t>();
    }
    const auto found = id ? library.find(*id) : library.end();
    if (found == library.end()) {
        return nullptr;
    }
    Track& track = found->second;
    // Every level must be the one this app would give for the track, up to the application.
    const AEDesc canonical = createObjSpecifier(parts->desiredClass, *parts->container, parts->keyForm,
                                                AEDesc::makeLong(static_cast<std::int32_t>(*id)));
    if (canonical == specifierOf(track) ||
        (track.kind == Kind::fileTrack && canonical == libraryFileSpecifier(track))) {
        return &track;
    }
    // The library lookup: a track by unique ID in the first library playlist.
    const auto playlist = readObjectSpecifier(*parts->container);
    if (track.kind == Kind::fileTrack && parts->desiredClass == music::classTrack && playlist &&
        playlist->desiredClass == music::classLibraryPlaylist &&
        playlist->keyForm == ae::formAbsolutePosition && *playlist->keyData == AEDesc::makeLong(1) &&
        *playlist->container == AEDesc()) {
        return &track;
    }
    return nullptr;
}

bool SimulatedMusicApp::readFavorite(Track& track) {
    const auto pending = reverts.find(track.itemID);
    if (pending != reverts.end()) {
        if (pending->second.readsLeft > 0) {
            --pending->second.readsLeft;
        } else {
            track.favorited = pending->second.value;
            reverts.erase(pending);
        }
    }
    return track.favorited;
}

OSStatus SimulatedMusicApp::getProperty(FourCharCode property, const AEDesc& container, AEDesc& result) {
    if (container == AEDesc()) {
        if (property != music::propCurrentTrack || !current || library.count(*current) == 0) {
            return status::errAENoSuchObject;
        }
        result = specifierOf(library.at(*current));
        return status::noErr;
    }
    Track* track = resolveTrack(container);
    if (track == nullptr) {
        return status::errAENoSuchObject;
    }
    if (property == music::propPersistentID) {
        result = AEDesc::makeUTF8Text(track->persistentID);
    } else if (property == music::propDatabaseID) {
        result = AEDesc::makeLong(track->databaseID);
    } else if (property == music::propFavorited) {
        result = AEDesc::makeBoolean(readFavorite(*track));
    } else {
        return status::errAEEventNotHandled;
    }
    return status::noErr;
}

OSStatus SimulatedMusicApp::setProperty(FourCharCode property, const AEDesc& container, const AEDesc* value) {
    Track* track = resolveTrack(container);
    if (track == nullptr) {
        return status::errAENoSuchObject;
    }
    if (property != music::propFavorited || value == nullptr || value->type() != ae::typeBoolean ||
        value->data().size() != 1) {
        return status::errAEWriteDenied;
    }
    ++writes;
    if (writeFailure) {
        return *writeFailure;
    }
    const bool previous = track->favorited;
    track->favorited = value->data().front() != 0;
    if (revertAfterReads) {
        reverts.insert_or_assign(track->itemID, Revert{previous, *revertAfterReads});
    }
    return status::noErr;
}

OSStatus SimulatedMusicApp::send(const AppleEvent& event, AEDesc& reply, std::int32_t, long) {
    std::lock_guard lock(mutex);
    ++events;
    if (!running) {
        return status::procNotFound;
    }
    if (failure) {
        return *failure;
    }
    reply = AEDesc::makeRecord(ae::typeAppleEvent);
    const AEDesc* target = event.parameters.param(ae::keyDirectObject);
    const auto parts = target != nullptr ? readObjectSpecifier(*target) : std::nullopt;
    if (event.eventClass != ae::eventClassCore || !parts) {
        replyError(reply, status::errAEEventNotHandled);
        return status::noErr;
    }
    const bool isProperty = parts->desiredClass == ae::classProperty && parts->keyForm == ae::formPropertyID;
    const auto property = isProperty && parts->keyData->type() == ae::typeType
                              ? parts->keyData->fixedValue<FourCharCode>()
                              : std::nullopt;
    OSStatus outcome = status::errAEEventNotHandled;
    if (event.eventID == ae::eventGetData) {
        AEDesc result;
        if (property) {
            outcome = getProperty(*property, *parts->container, result);
        } else if (Track* track = resolveTrack(*target)) {
            result = track->kind == Kind::fileTrack ? libraryFileSpecifier(*track) : specifierOf(*track);
            outcome = status::noErr;
        } else {
            outcome = status::errAENoSuchObject;
        }
        if (outcome == status::noErr) {
            reply.putParam(ae::keyDirectObject, std::move(result));
        }
    } else if (event.eventID == ae::eventSetData && property) {
        outcome = setProperty(*property, *parts->container, event.parameters.param(ae::keyData));
    }
    if (outcome != status::noErr) {
        replyError(reply, outcome);
    }
    return status::noErr;
}

} // namespace kavrel
