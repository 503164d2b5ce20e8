#pragma once

#include "MusicBridge/KVValue.hpp"
#include "MusicBridge/events/AEDesc.hpp"

#include <cstdint>
#include <optional>
#include <span>

namespace kavrel {

// Decides from an object specifier alone whether it addresses one track by unique IDs all the way up
// to the application, and of which kind; and describes specifiers for diagnostics by type codes and
// sizes only, never by names or key data. A null pointer stands for a missing descriptor.

// The field with that keyword, of exactly the expected type and 4 bytes of data.
std::optional<std::uint32_t> readTag(const AEDesc& descriptor, AEKeyword keyword, DescType expectedType);

// Level i must be a 4-field 'obj ' of class classes[i], keyed by a non-zero unique ID; the last
// level's container must be the null descriptor without data.
bool scopedTrack(const AEDesc* descriptor, std::span<const FourCharCode> classes);

bool KVMusicDescriptorIsLibraryFile(const AEDesc* descriptor);
bool KVMusicDescriptorIsStream(const AEDesc* descriptor);
bool KVMusicDescriptorIsSubscriptionTrack(const AEDesc* descriptor);
bool KVMusicDescriptorIsUserPlaylistTrack(const AEDesc* descriptor);
bool KVMusicDescriptorIsReadableTrack(const AEDesc* descriptor);

// 'bool' with exactly one byte, or 'true' / 'fals' without data.
bool KVMusicDescriptorIsBoolean(const AEDesc* descriptor);
std::optional<bool> KVMusicDescriptorBooleanValue(const AEDesc* descriptor);

// descriptorType, referenceClass, referenceForm, containerClass.
KVDictionary KVMusicDescriptorDiagnosticShape(const AEDesc* descriptor);
// One entry per level, innermost first, at most eight object levels.
KVArray KVMusicDescriptorDiagnosticChain(const AEDesc* descriptor);

} // namespace kavrel
