#include "Platform/TrackEvents.hpp"

#include "MusicBridge/KVMusicDescriptor.hpp"
#include "MusicBridge/events/ObjectSpecifier.hpp"

#include <algorithm>

namespace kavrel {
namespace {

AEDesc specifierOf(std::int64_t id) {
    const AEDesc source = createObjSpecifier(music::classSource, AEDesc(), ae::formUniqueID,
                                             AEDesc::makeLong(TrackEvents::sourceID));
    return createObjSpecifier(music::classFileTrack, source, ae::formUniqueID,
                              AEDesc::makeLong(static_cast<std::int32_t>(id)));
}

std::optional<std::int32_t> uniqueID(const ObjectSpecifierParts& parts, FourCharCode desiredClass) {
    if (parts.desiredClass != desiredClass || parts.keyForm != ae::formUniqueID ||
        parts.keyData->type() != ae::typeLong) {
        return std::nullopt;
    }
    return parts.keyData->fixedValue<std::int32_t>();
}

} // namespace

std::int64_t TrackEvents::setCurrent(std::optional<SharedTrack> track) {
    current = std::move(track);
    if (!current || !current->channel) {
        return 0;
    }
    remember(*current);
    return current->identity.databaseID;
}

void TrackEvents::remember(const SharedTrack& track) {
    const std::int64_t id = track.identity.databaseID;
    if (tracks.insert_or_assign(id, track).second) {
        order.push_back(id);
    } else {
        const auto seen = std::find(order.begin(), order.end(), id);
        std::rotate(seen, seen + 1, order.end()); // now the most recent
    }
    if (order.size() > remembered) {
        tracks.erase(order.front());
        order.pop_front();
    }
}

AEDesc TrackEvents::answer(const AppleEvent& event) {
    AEDesc reply = AEDesc::makeRecord(ae::typeAppleEvent);
    const AEDesc* target = event.parameters.param(ae::keyDirectObject);
    const auto parts = target != nullptr ? readObjectSpecifier(*target) : std::nullopt;
    OSStatus outcome = status::errAEEventNotHandled;
    AEDesc result;
    if (event.eventClass == ae::eventClassCore && parts) {
        const bool isProperty =
            parts->desiredClass == ae::classProperty && parts->keyForm == ae::formPropertyID;
        const auto property = isProperty && parts->keyData->type() == ae::typeType
                                  ? parts->keyData->fixedValue<FourCharCode>()
                                  : std::nullopt;
        if (event.eventID == ae::eventGetData) {
            outcome = property ? get(*property, *parts->container, result) : lookUp(*target, result);
        } else if (event.eventID == ae::eventSetData && property) {
            outcome = set(*property, *parts->container, event.parameters.param(ae::keyData));
        }
    }
    if (outcome != status::noErr) {
        reply.putParam(ae::keyErrorNumber, AEDesc::makeLong(outcome));
    } else if (event.eventID == ae::eventGetData) {
        reply.putParam(ae::keyDirectObject, std::move(result));
    }
    return reply;
}

// A track by unique ID in the first library playlist: the tracks that can be written.
OSStatus TrackEvents::lookUp(const AEDesc& specifier, AEDesc& result) {
    const auto parts = readObjectSpecifier(specifier);
    const auto id = uniqueID(*parts, music::classTrack);
    const AEDesc library = createObjSpecifier(music::classLibraryPlaylist, AEDesc(), ae::formAbsolutePosition,
                                              AEDesc::makeLong(1));
    const auto found = id ? tracks.find(*id) : tracks.end();
    if (found == tracks.end() || *parts->container != library) {
        return status::errAENoSuchObject;
    }
    if (const OSStatus located = found->second.channel->locate(found->second.key)) {
        return located;
    }
    result = specifierOf(*id);
    return status::noErr;
}

OSStatus TrackEvents::get(FourCharCode property, const AEDesc& container, AEDesc& result) {
    if (container == AEDesc()) {
        if (property != music::propCurrentTrack || !current) {
            return status::errAENoSuchObject;
        }
        result = specifierOf(current->identity.databaseID);
        return status::noErr;
    }
    SharedTrack* track = resolve(container);
    if (track == nullptr) {
        return status::errAENoSuchObject;
    }
    if (property == music::propPersistentID) {
        if (track->channel) {
            if (const OSStatus located = track->channel->locate(track->key)) {
                return located;
            }
        }
        result = AEDesc::makeUTF8Text(track->identity.persistentID);
    } else if (property == music::propDatabaseID) {
        result = AEDesc::makeLong(static_cast<std::int32_t>(track->identity.databaseID));
    } else if (property == music::propFavorited && track->channel) {
        const FavoriteChannel::Read read = track->channel->read(track->key);
        if (read.status != status::noErr) {
            return read.status;
        }
        result = AEDesc::makeBoolean(read.favorite);
    } else if (property == music::propFavorited && track->shown) {
        result = AEDesc::makeBoolean(*track->shown);
    } else {
        return status::errAENoSuchObject;
    }
    return status::noErr;
}

OSStatus TrackEvents::set(FourCharCode property, const AEDesc& container, const AEDesc* value) {
    SharedTrack* track = resolve(container);
    if (track == nullptr) {
        return status::errAENoSuchObject;
    }
    const auto favorite = KVMusicDescriptorBooleanValue(value);
    if (property != music::propFavorited || !favorite || !track->channel) {
        return status::errAEWriteDenied;
    }
    return track->channel->write(track->key, *favorite);
}

SharedTrack* TrackEvents::resolve(const AEDesc& specifier) {
    const auto parts = readObjectSpecifier(specifier);
    const auto id = parts ? uniqueID(*parts, music::classFileTrack) : std::nullopt;
    if (!id || specifier != specifierOf(*id)) {
        return nullptr;
    }
    if (current && current->identity.databaseID == *id) {
        return &*current;
    }
    const auto found = tracks.find(*id);
    return found != tracks.end() ? &found->second : nullptr;
}

} // namespace kavrel
