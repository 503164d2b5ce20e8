#pragma once

#include "MusicBridge/events/AEDesc.hpp"

#include <optional>

namespace kavrel {

// An object specifier: a record of type 'obj ' with the class wanted ('want', a 'type'), the key form
// ('form', an 'enum'), the key data ('seld') and the container ('from': another specifier, or the null
// descriptor for the application).
AEDesc createObjSpecifier(DescType desiredClass, const AEDesc& container, FourCharCode keyForm,
                          const AEDesc& keyData);

// The parts of a well-formed specifier, for whoever resolves one; none when any part is missing or
// 'want' and 'form' are not 4-byte 'type' and 'enum' values.
struct ObjectSpecifierParts {
    DescType desiredClass;
    FourCharCode keyForm;
    const AEDesc* keyData;
    const AEDesc* container;
};
std::optional<ObjectSpecifierParts> readObjectSpecifier(const AEDesc& specifier);

} // namespace kavrel
