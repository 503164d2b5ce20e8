#include "MusicBridge/events/ObjectSpecifier.hpp"

namespace kavrel {

namespace {

std::optional<FourCharCode> codeField(const AEDesc& record, AEKeyword keyword, DescType type) {
    const AEDesc* field = record.param(keyword);
    if (field == nullptr || field->type() != type) {
        return std::nullopt;
    }
    return field->fixedValue<FourCharCode>();
}

} // namespace

AEDesc createObjSpecifier(DescType desiredClass, const AEDesc& container, FourCharCode keyForm,
                          const AEDesc& keyData) {
    AEDesc specifier = AEDesc::makeRecord(ae::typeObjectSpecifier);
    specifier.putParam(ae::keyDesiredClass, AEDesc::makeType(desiredClass));
    specifier.putParam(ae::keyKeyForm, AEDesc::makeEnum(keyForm));
    specifier.putParam(ae::keyKeyData, keyData);
    specifier.putParam(ae::keyContainer, container);
    return specifier;
}

std::optional<ObjectSpecifierParts> readObjectSpecifier(const AEDesc& specifier) {
    if (specifier.type() != ae::typeObjectSpecifier) {
        return std::nullopt;
    }
    auto desiredClass = codeField(specifier, ae::keyDesiredClass, ae::typeType);
    auto keyForm = codeField(specifier, ae::keyKeyForm, ae::typeEnum);
    const AEDesc* keyData = specifier.param(ae::keyKeyData);
    const AEDesc* container = specifier.param(ae::keyContainer);
    if (!desiredClass || !keyForm || keyData == nullptr || container == nullptr) {
        return std::nullopt;
    }
    return ObjectSpecifierParts{*desiredClass, *keyForm, keyData, container};
}

} // namespace kavrel
