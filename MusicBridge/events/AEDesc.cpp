#include "MusicBridge/events/AEDesc.hpp"

namespace kavrel {

namespace {

template <typename T> std::vector<std::uint8_t> bytesOf(T value) {
    std::vector<std::uint8_t> bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    return bytes;
}

} // namespace

AEDesc::AEDesc(DescType type, std::vector<std::uint8_t> data) : type_(type), data_(std::move(data)) {}

AEDesc AEDesc::makeLong(std::int32_t value) {
    return AEDesc(ae::typeLong, bytesOf(value));
}

AEDesc AEDesc::makeComp(std::int64_t value) {
    return AEDesc(ae::typeComp, bytesOf(value));
}

AEDesc AEDesc::makeType(FourCharCode code) {
    return AEDesc(ae::typeType, bytesOf(code));
}

AEDesc AEDesc::makeEnum(FourCharCode code) {
    return AEDesc(ae::typeEnum, bytesOf(code));
}

AEDesc AEDesc::makeBoolean(bool value) {
    return AEDesc(ae::typeBoolean, {static_cast<std::uint8_t>(value ? 1 : 0)});
}

AEDesc AEDesc::makeUTF8Text(std::string_view text) {
    return AEDesc(ae::typeUTF8Text, std::vector<std::uint8_t>(text.begin(), text.end()));
}

AEDesc AEDesc::makeBundleID(std::string_view identifier) {
    return AEDesc(ae::typeBundleID, std::vector<std::uint8_t>(identifier.begin(), identifier.end()));
}

AEDesc AEDesc::makeRecord(DescType type) {
    AEDesc record;
    record.type_ = type;
    record.shape_ = Shape::record;
    return record;
}

AEDesc AEDesc::makeList() {
    AEDesc list;
    list.type_ = ae::typeList;
    list.shape_ = Shape::list;
    return list;
}

void AEDesc::putParam(AEKeyword keyword, AEDesc value) {
    for (auto& field : fields_) {
        if (field.first == keyword) {
            field.second = std::move(value);
            return;
        }
    }
    fields_.emplace_back(keyword, std::move(value));
}

const AEDesc* AEDesc::param(AEKeyword keyword) const {
    if (shape_ != Shape::record) {
        return nullptr;
    }
    for (const auto& field : fields_) {
        if (field.first == keyword) {
            return &field.second;
        }
    }
    return nullptr;
}

void AEDesc::append(AEDesc item) {
    items_.push_back(std::move(item));
}

const AEDesc* AEDesc::item(std::size_t index) const {
    return shape_ == Shape::list && index < items_.size() ? &items_[index] : nullptr;
}

std::optional<std::size_t> AEDesc::countItems() const {
    switch (shape_) {
    case Shape::record:
        return fields_.size();
    case Shape::list:
        return items_.size();
    case Shape::scalar:
        break;
    }
    return std::nullopt;
}

bool operator==(const AEDesc& lhs, const AEDesc& rhs) {
    return lhs.type_ == rhs.type_ && lhs.shape_ == rhs.shape_ && lhs.data_ == rhs.data_ &&
           lhs.fields_ == rhs.fields_ && lhs.items_ == rhs.items_;
}

} // namespace kavrel
