#include "MusicBridge/KVMusicDescriptor.hpp"

#include "MusicBridge/events/FourCharCode.hpp"

#include <array>

namespace kavrel {
namespace {

constexpr std::size_t objectSpecifierFields = 4;
constexpr int chainObjectLevels = 8;

KVValue code(FourCharCode value) {
    return static_cast<double>(value);
}

bool isNullWithoutData(const AEDesc& descriptor) {
    return !descriptor.isRecord() && !descriptor.isList() && descriptor.type() == ae::typeNull &&
           descriptor.data().empty();
}

// A 4-byte 'long' or an 8-byte 'comp'; none for any other key.
std::optional<bool> integerKeyIsNonzero(const AEDesc& key) {
    if (key.type() == ae::typeLong) {
        if (auto value = key.fixedValue<std::int32_t>()) {
            return *value != 0;
        }
    } else if (key.type() == ae::typeComp) {
        if (auto value = key.fixedValue<std::int64_t>()) {
            return *value != 0;
        }
    }
    return std::nullopt;
}

constexpr std::array libraryFile{music::classFileTrack, music::classSource};
constexpr std::array stream{music::classURLTrack, music::classSource};
constexpr std::array subscription{music::classSharedTrack, music::classSubscriptionPlaylist};
constexpr std::array subscriptionInSource{music::classSharedTrack, music::classSubscriptionPlaylist,
                                          music::classSource};
constexpr std::array userPlaylist{music::classSharedTrack, music::classUserPlaylist};
constexpr std::array userPlaylistInSource{music::classSharedTrack, music::classUserPlaylist,
                                          music::classSource};

} // namespace

std::optional<std::uint32_t> readTag(const AEDesc& descriptor, AEKeyword keyword, DescType expectedType) {
    const AEDesc* field = descriptor.param(keyword);
    if (field == nullptr || field->type() != expectedType) {
        return std::nullopt;
    }
    return field->fixedValue<std::uint32_t>();
}

bool scopedTrack(const AEDesc* descriptor, std::span<const FourCharCode> classes) {
    if (descriptor == nullptr) {
        return false;
    }
    const AEDesc* level = descriptor;
    for (std::size_t index = 0; index < classes.size(); ++index) {
        if (level->type() != ae::typeObjectSpecifier || level->countItems() != objectSpecifierFields ||
            readTag(*level, ae::keyDesiredClass, ae::typeType) != classes[index] ||
            readTag(*level, ae::keyKeyForm, ae::typeEnum) != ae::formUniqueID) {
            return false;
        }
        const AEDesc* key = level->param(ae::keyKeyData);
        const AEDesc* container = level->param(ae::keyContainer);
        if (key == nullptr || integerKeyIsNonzero(*key) != true || container == nullptr) {
            return false;
        }
        if (index + 1 == classes.size()) {
            return isNullWithoutData(*container);
        }
        level = container;
    }
    return false;
}

bool KVMusicDescriptorIsLibraryFile(const AEDesc* descriptor) {
    return scopedTrack(descriptor, libraryFile);
}

bool KVMusicDescriptorIsStream(const AEDesc* descriptor) {
    return scopedTrack(descriptor, stream);
}

bool KVMusicDescriptorIsSubscriptionTrack(const AEDesc* descriptor) {
    return scopedTrack(descriptor, subscription) || scopedTrack(descriptor, subscriptionInSource);
}

bool KVMusicDescriptorIsUserPlaylistTrack(const AEDesc* descriptor) {
    return scopedTrack(descriptor, userPlaylist) || scopedTrack(descriptor, userPlaylistInSource);
}

bool KVMusicDescriptorIsReadableTrack(const AEDesc* descriptor) {
    return KVMusicDescriptorIsLibraryFile(descriptor) || KVMusicDescriptorIsStream(descriptor) ||
           KVMusicDescriptorIsSubscriptionTrack(descriptor) ||
           KVMusicDescriptorIsUserPlaylistTrack(descriptor);
}

bool KVMusicDescriptorIsBoolean(const AEDesc* descriptor) {
    if (descriptor == nullptr || descriptor->isRecord() || descriptor->isList()) {
        return false;
    }
    if (descriptor->type() == ae::typeBoolean) {
        return descriptor->data().size() == 1;
    }
    return (descriptor->type() == ae::typeTrue || descriptor->type() == ae::typeFalse) &&
           descriptor->data().empty();
}

std::optional<bool> KVMusicDescriptorBooleanValue(const AEDesc* descriptor) {
    if (!KVMusicDescriptorIsBoolean(descriptor)) {
        return std::nullopt;
    }
    if (descriptor->type() == ae::typeBoolean) {
        return descriptor->data().front() != 0;
    }
    return descriptor->type() == ae::typeTrue;
}

KVDictionary KVMusicDescriptorDiagnosticShape(const AEDesc* descriptor) {
    KVDictionary shape;
    shape.set("descriptorType", code(descriptor == nullptr ? ae::typeNull : descriptor->type()));
    FourCharCode referenceClass = 0;
    FourCharCode referenceForm = 0;
    FourCharCode containerClass = 0;
    if (descriptor != nullptr && descriptor->type() == ae::typeObjectSpecifier) {
        referenceClass = readTag(*descriptor, ae::keyDesiredClass, ae::typeType).value_or(0);
        referenceForm = readTag(*descriptor, ae::keyKeyForm, ae::typeEnum).value_or(0);
        if (const AEDesc* container = descriptor->param(ae::keyContainer);
            container != nullptr && container->type() == ae::typeObjectSpecifier) {
            containerClass = readTag(*container, ae::keyDesiredClass, ae::typeType).value_or(0);
        }
    }
    shape.set("referenceClass", code(referenceClass));
    shape.set("referenceForm", code(referenceForm));
    shape.set("containerClass", code(containerClass));
    return shape;
}

KVArray KVMusicDescriptorDiagnosticChain(const AEDesc* descriptor) {
    if (descriptor == nullptr) {
        KVDictionary missing;
        missing.set("termination", "missing");
        return {KVValue(std::move(missing))};
    }
    KVArray chain;
    const AEDesc* level = descriptor;
    for (int objectLevel = 1;; ++objectLevel) {
        KVDictionary entry;
        entry.set("descriptorType", code(level->type()));
        if (level->type() != ae::typeObjectSpecifier) {
            entry.set("termination", isNullWithoutData(*level) ? "null" : "unsupported");
            chain.emplace_back(std::move(entry));
            return chain;
        }
        const auto referenceClass = readTag(*level, ae::keyDesiredClass, ae::typeType);
        const auto referenceForm = readTag(*level, ae::keyKeyForm, ae::typeEnum);
        entry.set("classValid", referenceClass.has_value());
        entry.set("formValid", referenceForm.has_value());
        entry.set("referenceClass", code(referenceClass.value_or(0)));
        entry.set("referenceForm", code(referenceForm.value_or(0)));
        if (auto count = level->countItems()) {
            entry.set("fieldCount", static_cast<double>(*count));
        }
        if (const AEDesc* key = level->param(ae::keyKeyData)) {
            entry.set("identifierType", code(key->type()));
            entry.set("identifierSize", static_cast<double>(key->data().size()));
            if (auto nonzero = integerKeyIsNonzero(*key)) {
                entry.set("identifierNonzero", *nonzero);
            }
        }
        const AEDesc* container = level->param(ae::keyContainer);
        if (container == nullptr) {
            entry.set("termination", "missing_container");
        } else if (objectLevel == chainObjectLevels) {
            entry.set("termination", "depth_limit");
        }
        const bool last = entry.contains("termination");
        chain.emplace_back(std::move(entry));
        if (last) {
            return chain;
        }
        level = container;
    }
}

} // namespace kavrel
