#pragma once

#include "MusicBridge/events/FourCharCode.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavrel {

// A typed descriptor: a scalar (type code and bytes), a record of keyword fields, or a list.
// The default descriptor is the null descriptor ('null' without data). Copies are deep.
class AEDesc {
public:
    AEDesc() = default;
    AEDesc(DescType type, std::vector<std::uint8_t> data);

    static AEDesc makeLong(std::int32_t value);
    static AEDesc makeComp(std::int64_t value);
    static AEDesc makeType(FourCharCode code);
    static AEDesc makeEnum(FourCharCode code);
    // One byte, 1 or 0, as the 'bool' type.
    static AEDesc makeBoolean(bool value);
    static AEDesc makeUTF8Text(std::string_view text);
    static AEDesc makeBundleID(std::string_view identifier);
    // A record whose type may be a coerced one ('obj ', 'aevt').
    static AEDesc makeRecord(DescType type = ae::typeRecord);
    static AEDesc makeList();

    DescType type() const { return type_; }
    const std::vector<std::uint8_t>& data() const { return data_; }
    bool isRecord() const { return shape_ == Shape::record; }
    bool isList() const { return shape_ == Shape::list; }
    // The null descriptor that addresses the application: type 'null' and no data.
    bool isNullDescriptor() const {
        return shape_ == Shape::scalar && type_ == ae::typeNull && data_.empty();
    }

    // Record fields: a second put with the same keyword replaces the value in place.
    void putParam(AEKeyword keyword, AEDesc value);
    // The field with that keyword, whatever its type; none when absent or not a record.
    const AEDesc* param(AEKeyword keyword) const;

    void append(AEDesc item);
    const AEDesc* item(std::size_t index) const;

    // Fields of a record or items of a list; none for a scalar, which has nothing to count.
    std::optional<std::size_t> countItems() const;

    // The data read as a fixed-size value; none unless the data is exactly that size.
    template <typename T> std::optional<T> fixedValue() const {
        if (shape_ != Shape::scalar || data_.size() != sizeof(T)) {
            return std::nullopt;
        }
        T value;
        std::memcpy(&value, data_.data(), sizeof(T));
        return value;
    }
    std::string text() const { return std::string(data_.begin(), data_.end()); }

    friend bool operator==(const AEDesc& lhs, const AEDesc& rhs);

private:
    enum class Shape { scalar, record, list };

    DescType type_ = ae::typeNull;
    Shape shape_ = Shape::scalar;
    std::vector<std::uint8_t> data_;
    std::vector<std::pair<AEKeyword, AEDesc>> fields_;
    std::vector<AEDesc> items_;
};

} // namespace kavrel
